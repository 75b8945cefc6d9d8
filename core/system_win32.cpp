#include "core/system.h"

#include <windows.h>
// After <windows.h>, which they build on.
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
// <windows.h> names ReplaceFileW so; this file defines the portable one.
#undef ReplaceFile

#include <cstdint>
#include <cstdlib>
#include <string>

namespace vlm::sys {

namespace {

// Temporary files of a save are named "<file>.saving-<pid>-<n>", so a later start can tell them and whose they
// were.
constexpr std::wstring_view kTemporaryMark = L".saving-";

// Seconds from 1601-01-01 (FILETIME's origin) to 1970-01-01.
constexpr std::int64_t kFileTimeEpochSeconds = 11644473600;
constexpr std::int64_t kFileTimeTicksPerSecond = 10000000;

// The path as the wide file APIs take it. A long absolute path gets the "\\?\" form, which lifts the MAX_PATH
// limit of the plain form (a program folder may be nested deep, or named in long words).
std::wstring ApiPath(const std::string& path)
{
    std::wstring wide = Widen(path);
    for (wchar_t& c : wide)
        if (c == L'/')
            c = L'\\';
    // Creating a file in a folder leaves 12 characters for an 8.3 name, so the plain form ends before MAX_PATH.
    if (wide.size() < MAX_PATH - 12 || wide.rfind(L"\\\\?\\", 0) == 0)
        return wide;
    const DWORD needed = ::GetFullPathNameW(wide.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return wide;
    std::wstring full(needed, L'\0');
    const DWORD length = ::GetFullPathNameW(wide.c_str(), needed, full.data(), nullptr);
    if (length == 0 || length >= needed)
        return wide;
    full.resize(length);
    if (full.rfind(L"\\\\", 0) == 0)
        return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::wstring FolderOf(const std::wstring& path)
{
    const auto end = path.find_last_of(L"\\/");
    if (end == std::wstring::npos)
        return L".";
    // "C:\x" lives in "C:\", not in "C:" (which is the drive's current folder).
    if (end == 0 || path[end - 1] == L':')
        return path.substr(0, end + 1);
    return path.substr(0, end);
}

std::wstring NameOf(const std::wstring& path)
{
    const auto end = path.find_last_of(L"\\/");
    return end == std::wstring::npos ? path : path.substr(end + 1);
}

std::wstring Joined(const std::wstring& folder, const std::wstring& name)
{
    if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/'))
        return folder + name;
    return folder + L'\\' + name;
}

class Handle {
public:
    explicit Handle(HANDLE handle)
        : m_handle(handle)
    {
    }
    ~Handle()
    {
        if (Valid())
            ::CloseHandle(m_handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;

    bool Valid() const { return m_handle != INVALID_HANDLE_VALUE && m_handle != nullptr; }
    HANDLE Get() const { return m_handle; }
    // Closes now; false when closing failed (a write that could not be finished).
    bool Close()
    {
        const bool ok = ::CloseHandle(m_handle) != 0;
        m_handle = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE m_handle;
};

// Opens what `path` finally names, links followed, without asking for any access to its contents.
Handle OpenForQuery(const std::wstring& path)
{
    return Handle(::CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
}

// The file a path finally names when links are followed; a path that is no link, or a link that names nothing,
// stays as it is.
std::wstring LinkTarget(const std::wstring& path)
{
    const DWORD attributes = ::GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return path;
    const Handle file = OpenForQuery(path);
    if (!file.Valid())
        return path;
    std::wstring target(MAX_PATH, L'\0');
    DWORD length = ::GetFinalPathNameByHandleW(file.Get(), target.data(), MAX_PATH, FILE_NAME_NORMALIZED);
    if (length >= MAX_PATH) {
        target.resize(length);
        length = ::GetFinalPathNameByHandleW(file.Get(), target.data(), length, FILE_NAME_NORMALIZED);
    }
    if (length == 0 || length >= target.size())
        return path;
    target.resize(length);
    return target;
}

bool WriteAll(HANDLE file, const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        if (!::WriteFile(file, data, chunk, &written, nullptr) || written == 0)
            return false;
        data += written;
        size -= written;
    }
    return true;
}

// What the error of a failed write says: refused for good (no right to, a write-protected medium), or
// something else (the file in use by another program, a full disk).
WriteStatus Refusal(DWORD error)
{
    return (error == ERROR_ACCESS_DENIED || error == ERROR_WRITE_PROTECT) ? WriteStatus::Denied : WriteStatus::Failed;
}

bool ProcessGone(unsigned long pid)
{
    if (pid == 0)
        return false;
    const Handle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid)));
    if (!process.Valid())
        return ::GetLastError() == ERROR_INVALID_PARAMETER;
    DWORD code = 0;
    return ::GetExitCodeProcess(process.Get(), &code) && code != STILL_ACTIVE;
}

} // namespace

std::wstring Widen(std::string_view utf8)
{
    if (utf8.empty())
        return {};
    const int size = ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    ::MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), size);
    return wide;
}

std::string Narrow(std::wstring_view utf16)
{
    if (utf16.empty())
        return {};
    const int size
        = ::WideCharToMultiByte(CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(size), '\0');
    ::WideCharToMultiByte(
        CP_UTF8, 0, utf16.data(), static_cast<int>(utf16.size()), narrow.data(), size, nullptr, nullptr);
    return narrow;
}

std::string NativePath(std::string_view relative)
{
    std::string path(relative);
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

std::size_t FolderEnd(std::string_view path)
{
    const auto end = path.find_last_of("\\/:");
    if (end != std::string_view::npos && path[end] == ':')
        return end + 1;
    return end;
}

int LocalWeekday(std::int64_t utcSecond)
{
    // FILETIME counts 100 ns ticks from 1601 in 63 bits; outside that there is no calendar to ask.
    constexpr std::int64_t kLastSecond = INT64_MAX / kFileTimeTicksPerSecond - kFileTimeEpochSeconds;
    if (utcSecond < -kFileTimeEpochSeconds || utcSecond > kLastSecond)
        return 0;
    const std::int64_t ticks = (utcSecond + kFileTimeEpochSeconds) * kFileTimeTicksPerSecond;
    FILETIME utcFile { static_cast<DWORD>(ticks & 0xFFFFFFFF), static_cast<DWORD>(ticks >> 32) };
    SYSTEMTIME utc {}, local {};
    if (!::FileTimeToSystemTime(&utcFile, &utc) || !::SystemTimeToTzSpecificLocalTime(nullptr, &utc, &local))
        return 0;
    // The weekday from the local date itself, whatever the conversion left in wDayOfWeek.
    FILETIME localFile {};
    if (!::SystemTimeToFileTime(&local, &localFile))
        return 0;
    const std::int64_t localTicks = static_cast<std::int64_t>(localFile.dwHighDateTime) << 32 | localFile.dwLowDateTime;
    const std::int64_t days = localTicks / kFileTimeTicksPerSecond / 86400;
    return static_cast<int>((days + 1) % 7); // 1601-01-01 was a Monday
}

void RefreshTimeZone()
{
    // The calendar calls above read the system's current zone every time: nothing is cached to refresh.
}

bool IsFile(const std::string& path)
{
    const std::wstring wide = ApiPath(path);
    const Handle file = OpenForQuery(wide);
    BY_HANDLE_FILE_INFORMATION info {};
    if (file.Valid() && ::GetFileInformationByHandle(file.Get(), &info))
        return !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    // One that can't be opened even for its attributes (its rights forbid it) may still be there.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

FileContents ReadRegularFile(const std::string& path, std::size_t maxBytes)
{
    FileContents contents;
    const std::wstring wide = ApiPath(path);
    // The attributes can be asked for even while another program holds the file open without sharing.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        contents.Status = (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) ? ReadStatus::Missing
                                                                                           : ReadStatus::Unreadable;
        return contents;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        contents.Status = ReadStatus::NotAFile;
        return contents;
    }
    // A pipe or a device can be opened this way, and a read from it may wait: only a file on a disk is read.
    const Handle file(::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    contents.Status = ReadStatus::Unreadable;
    if (!file.Valid()) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            contents.Status = ReadStatus::Missing;
        return contents;
    }
    BY_HANDLE_FILE_INFORMATION info {};
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(file.Get(), &info)
        || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        contents.Status = ReadStatus::NotAFile;
        return contents;
    }
    std::vector<unsigned char> bytes(maxBytes);
    std::size_t got = 0;
    while (got < maxBytes) {
        DWORD n = 0;
        const std::size_t want = maxBytes - got;
        if (!::ReadFile(
                file.Get(), bytes.data() + got, want > 0x10000000 ? 0x10000000 : static_cast<DWORD>(want), &n, nullptr))
            return contents;
        if (n == 0)
            break;
        got += n;
    }
    bytes.resize(got);
    contents.Bytes = std::move(bytes);
    contents.Status = ReadStatus::Read;
    return contents;
}

bool LooksWritable(const std::string& path)
{
    const DWORD attributes = ::GetFileAttributesW(ApiPath(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = ::GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // On a folder the read-only attribute only tells Explorer that the folder is customized; whether files may
    // be made in it shows when one is.
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return true;
    return !(attributes & FILE_ATTRIBUTE_READONLY);
}

WriteStatus ReplaceFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    const std::wstring target = LinkTarget(ApiPath(path));
    const DWORD oldAttributes = ::GetFileAttributesW(target.c_str());
    if (oldAttributes != INVALID_FILE_ATTRIBUTES) {
        if (oldAttributes & FILE_ATTRIBUTE_DIRECTORY)
            return WriteStatus::Failed;
        if (oldAttributes & FILE_ATTRIBUTE_READONLY)
            return WriteStatus::Denied;
        // Whether the file may be written at all, and whether another program holds it: the rename at the end
        // fails the same way for both.
        const Handle probe(
            ::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!probe.Valid())
            return Refusal(::GetLastError());
    }

    const std::wstring stem = target + std::wstring(kTemporaryMark) + std::to_wstring(::GetCurrentProcessId()) + L'-';
    static unsigned attempt = 0;
    std::wstring temp;
    HANDLE created = INVALID_HANDLE_VALUE;
    for (int tries = 0; tries < 100 && created == INVALID_HANDLE_VALUE; ++tries) {
        temp = stem + std::to_wstring(++attempt);
        created = ::CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (created == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            return Refusal(::GetLastError()) == WriteStatus::Denied ? WriteStatus::NoTemporary : WriteStatus::Failed;
    }
    Handle file(created);
    if (!file.Valid())
        return WriteStatus::Failed;

    bool ok = WriteAll(file.Get(), bytes.data(), bytes.size());
    ok = ok && ::FlushFileBuffers(file.Get());
    ok = file.Close() && ok;
    // The new file takes the old one's attributes (hidden, say); its access rights come from the folder, as the
    // old one's did.
    if (ok && oldAttributes != INVALID_FILE_ATTRIBUTES && oldAttributes != FILE_ATTRIBUTE_NORMAL)
        ::SetFileAttributesW(temp.c_str(), oldAttributes & ~FILE_ATTRIBUTE_TEMPORARY);
    // One rename: the old file stays whole until the new one takes its name, and write-through makes it durable.
    // The folder took a new file, so a refused rename means the old one is in use.
    ok = ok && ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) {
        ::SetFileAttributesW(temp.c_str(), FILE_ATTRIBUTE_NORMAL);
        ::DeleteFileW(temp.c_str());
        return WriteStatus::Failed;
    }
    return WriteStatus::Written;
}

WriteStatus WriteInPlace(const std::string& path, const std::vector<unsigned char>& bytes)
{
    const std::wstring target = LinkTarget(ApiPath(path));
    const DWORD attributes = ::GetFileAttributesW(target.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return WriteStatus::Denied; // no new file may be made here
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return WriteStatus::Failed;
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return WriteStatus::Denied;
    const Handle file(::CreateFileW(
        target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid())
        return Refusal(::GetLastError());
    if (::GetFileType(file.Get()) != FILE_TYPE_DISK || bytes.size() > 0x10000000)
        return WriteStatus::Failed;
    // One write from the start: the file is never cut short before the new contents are in it.
    DWORD written = 0;
    bool ok = ::WriteFile(file.Get(), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr)
        && written == bytes.size();
    ok = ok && ::SetEndOfFile(file.Get());
    ok = ok && ::FlushFileBuffers(file.Get());
    return ok ? WriteStatus::Written : WriteStatus::Failed;
}

WriteStatus MoveAside(const std::string& path, const std::string& newPath)
{
    const std::wstring target = LinkTarget(ApiPath(path));
    const std::wstring aside = Joined(FolderOf(target), NameOf(Widen(newPath)));
    // Without MOVEFILE_REPLACE_EXISTING nothing at the new name is replaced.
    if (::MoveFileExW(target.c_str(), aside.c_str(), MOVEFILE_WRITE_THROUGH))
        return WriteStatus::Written;
    const DWORD error = ::GetLastError();
    return (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) ? WriteStatus::Failed : Refusal(error);
}

bool Exists(const std::string& path)
{
    return ::GetFileAttributesW(ApiPath(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool MakeFolders(const std::string& path)
{
    const std::wstring wide = ApiPath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES)
        return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const std::size_t end = FolderEnd(path);
    if (end != std::string::npos && end > 0) {
        // "C:\x" lives in "C:\"; a drive or a share's root is there or not, and is never made.
        std::string parent = path.substr(0, end);
        if (!parent.empty() && (parent.back() == '\\' || parent.back() == '/'))
            parent.pop_back();
        if (!parent.empty() && parent.back() != ':' && parent != path && !MakeFolders(parent))
            return false;
    }
    if (::CreateDirectoryW(wide.c_str(), nullptr))
        return true;
    const DWORD now = ::GetFileAttributesW(wide.c_str());
    return now != INVALID_FILE_ATTRIBUTES && (now & FILE_ATTRIBUTE_DIRECTORY);
}

std::string UserFolder()
{
    PWSTR folder = nullptr;
    std::string result;
    if (SUCCEEDED(::SHGetKnownFolderPath(FOLDERID_RoamingAppData, KF_FLAG_DEFAULT, nullptr, &folder)) && folder)
        result = Narrow(folder);
    ::CoTaskMemFree(folder);
    if (result.empty())
        return {};
    if (result.back() == '\\')
        result.pop_back();
    return result + "\\VLM";
}

void RemoveStaleTemporaries(const std::string& path)
{
    const std::wstring target = LinkTarget(ApiPath(path));
    const std::wstring folder = FolderOf(target);
    const std::wstring prefix = NameOf(target) + std::wstring(kTemporaryMark);
    WIN32_FIND_DATAW entry {};
    const HANDLE search = ::FindFirstFileW(Joined(folder, prefix + L'*').c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        const std::wstring name = entry.cFileName;
        if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0)
            continue;
        if (entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        // "<pid>-<n>" follows the mark.
        const std::wstring rest = name.substr(prefix.size());
        wchar_t* end = nullptr;
        const unsigned long pid = std::wcstoul(rest.c_str(), &end, 10);
        if (end == rest.c_str() || *end != L'-' || (pid != ::GetCurrentProcessId() && !ProcessGone(pid)))
            continue;
        ::DeleteFileW(Joined(folder, name).c_str());
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
}

void DeleteFileOrLink(const std::string& path)
{
    const std::wstring wide = ApiPath(path);
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return;
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::DeleteFileW(wide.c_str()); // a link to a file goes, its target stays
        return;
    }
    // A folder stays; a symbolic link to one is only a link.
    WIN32_FIND_DATAW entry {};
    const HANDLE search = ::FindFirstFileW(wide.c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE)
        return;
    ::FindClose(search);
    if ((entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && entry.dwReserved0 == IO_REPARSE_TAG_SYMLINK)
        ::RemoveDirectoryW(wide.c_str());
}

bool ChangeDirectory(const std::string& path)
{
    std::wstring wide = Widen(path);
    // "" is the root of a program at a root, "C:" that of drive C: (on its own it names the drive's current folder).
    if (wide.empty() || wide.back() == L':')
        wide += L'\\';
    return ::SetCurrentDirectoryW(wide.c_str()) != 0;
}

} // namespace vlm::sys
