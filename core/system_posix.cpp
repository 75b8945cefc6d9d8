#include "core/system.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace vlm::sys {

namespace {

// Temporary files of a save are named "<file>.saving-<pid>-XXXXXX", so a later start can tell them and whose
// they were.
constexpr std::string_view kTemporaryMark = ".saving-";
constexpr int kMaxLinkDepth = 40;

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string NameOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a path finally names when symbolic links are followed; a dangling link names its missing target, so
// the first save creates it there.
std::string LinkTarget(std::string path)
{
    for (int depth = 0; depth < kMaxLinkDepth; ++depth) {
        struct stat info { };
        if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
            return path;
        std::string target(PATH_MAX, '\0');
        const ssize_t length = ::readlink(path.c_str(), target.data(), target.size());
        if (length <= 0)
            return path;
        target.resize(static_cast<std::size_t>(length));
        path = target.front() == '/' ? target : FolderOf(path) + "/" + target;
    }
    return path;
}

bool WriteAll(int fd, const unsigned char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
    return true;
}

// What an errno of a failed write says: refused for good (no right to, a read-only medium), or something else.
WriteStatus Refusal(int error)
{
    return (error == EACCES || error == EPERM || error == EROFS) ? WriteStatus::Denied : WriteStatus::Failed;
}

// Makes the names in a folder (a rename, a new file) durable.
void SyncFolder(const std::string& folder)
{
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

bool ProcessGone(long pid)
{
    return pid > 0 && pid <= INT_MAX && ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
}

} // namespace

std::string NativePath(std::string_view relative)
{
    return std::string(relative);
}

std::size_t FolderEnd(std::string_view path)
{
    return path.find_last_of('/');
}

int LocalWeekday(std::int64_t utcSecond)
{
    const std::time_t t = static_cast<std::time_t>(utcSecond);
    std::tm local {};
    if (::localtime_r(&t, &local) == nullptr)
        return 0;
    return local.tm_wday;
}

void RefreshTimeZone()
{
    ::tzset();
}

bool IsFile(const std::string& path)
{
    struct stat info { };
    return ::stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

FileContents ReadRegularFile(const std::string& path, std::size_t maxBytes)
{
    FileContents contents;
    // Opening a FIFO for reading waits for a writer, and a device may do anything on open: look first, and open
    // without waiting in case the file was swapped in between.
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0) {
        contents.Status = (errno == ENOENT || errno == ENOTDIR) ? ReadStatus::Missing : ReadStatus::Unreadable;
        return contents;
    }
    if (!S_ISREG(info.st_mode)) {
        contents.Status = ReadStatus::NotAFile;
        return contents;
    }
    contents.Status = ReadStatus::Unreadable;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return contents;
    if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        contents.Status = ReadStatus::NotAFile;
        ::close(fd);
        return contents;
    }
    std::vector<unsigned char> bytes(maxBytes);
    std::size_t got = 0;
    bool ok = true;
    while (got < maxBytes) {
        const ssize_t n = ::read(fd, bytes.data() + got, maxBytes - got);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            ok = false;
            break;
        }
        if (n == 0)
            break;
        got += static_cast<std::size_t>(n);
    }
    ::close(fd);
    if (ok) {
        bytes.resize(got);
        contents.Bytes = std::move(bytes);
        contents.Status = ReadStatus::Read;
    }
    return contents;
}

namespace {

// Written when the file or folder at `path` may be written (or created), else why not.
WriteStatus WritableStatus(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOENT ? WriteStatus::Written : Refusal(errno);
    if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0)
        return WriteStatus::Denied;
    return ::access(path.c_str(), W_OK) == 0 ? WriteStatus::Written : Refusal(errno);
}

} // namespace

bool LooksWritable(const std::string& path)
{
    return WritableStatus(path) == WriteStatus::Written;
}

WriteStatus ReplaceFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    const std::string target = LinkTarget(path);
    const std::string folder = FolderOf(target);
    if (const WriteStatus file = WritableStatus(target); file != WriteStatus::Written)
        return file;
    if (const WriteStatus place = WritableStatus(folder); place != WriteStatus::Written)
        return place == WriteStatus::Denied ? WriteStatus::NoTemporary : place;

    std::string temp = target + std::string(kTemporaryMark) + std::to_string(::getpid()) + "-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return Refusal(errno) == WriteStatus::Denied ? WriteStatus::NoTemporary : WriteStatus::Failed;

    // The new file takes the old one's permissions (mkstemp creates it private).
    struct stat old { };
    const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = ::fchmod(fd, mode) == 0;
    ok = ok && WriteAll(fd, bytes.data(), bytes.size());
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    const bool renamed = ok && std::rename(temp.c_str(), target.c_str()) == 0;
    if (!renamed) {
        const WriteStatus status = ok ? Refusal(errno) : WriteStatus::Failed;
        ::unlink(temp.c_str());
        return status;
    }
    SyncFolder(folder);
    return WriteStatus::Written;
}

WriteStatus WriteInPlace(const std::string& path, const std::vector<unsigned char>& bytes)
{
    const std::string target = LinkTarget(path);
    if (const WriteStatus file = WritableStatus(target); file != WriteStatus::Written)
        return file;
    const int fd = ::open(target.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return errno == ENOENT ? WriteStatus::Denied : Refusal(errno);
    struct stat info { };
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    // One write from the start: the file is never cut short before the new contents are in it.
    ok = ok && ::pwrite(fd, bytes.data(), bytes.size(), 0) == static_cast<ssize_t>(bytes.size());
    ok = ok
        && (static_cast<std::size_t>(info.st_size) <= bytes.size()
            || ::ftruncate(fd, static_cast<off_t>(bytes.size())) == 0);
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    return ok ? WriteStatus::Written : WriteStatus::Failed;
}

WriteStatus MoveAside(const std::string& path, const std::string& newPath)
{
    const std::string target = LinkTarget(path);
    const std::string aside = FolderOf(target) + "/" + NameOf(newPath);
    // link() never replaces what is there; the old name goes once the new one holds the file. A file system
    // without hard links (a FAT stick) gets a rename, once nothing is seen at the new name.
    if (::link(target.c_str(), aside.c_str()) != 0) {
        if (errno == EEXIST)
            return WriteStatus::Failed;
        if (errno != EPERM && errno != EOPNOTSUPP && errno != ENOSYS)
            return Refusal(errno);
        struct stat there { };
        if (::lstat(aside.c_str(), &there) == 0)
            return WriteStatus::Failed;
        if (std::rename(target.c_str(), aside.c_str()) != 0)
            return Refusal(errno);
        SyncFolder(FolderOf(target));
        return WriteStatus::Written;
    }
    if (::unlink(target.c_str()) != 0) {
        const WriteStatus status = Refusal(errno);
        ::unlink(aside.c_str());
        return status;
    }
    SyncFolder(FolderOf(target));
    return WriteStatus::Written;
}

bool Exists(const std::string& path)
{
    struct stat info { };
    return ::lstat(path.c_str(), &info) == 0;
}

bool MakeFolders(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) == 0)
        return S_ISDIR(info.st_mode);
    const std::string parent = FolderOf(path);
    if (parent != path && parent != "." && parent != "/" && !MakeFolders(parent))
        return false;
    return ::mkdir(path.c_str(), 0700) == 0
        || (errno == EEXIST && ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode));
}

std::string ConfigHome()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return config;
    std::string home;
    if (const char* value = std::getenv("HOME"); value != nullptr && value[0] == '/')
        home = value;
    else if (const passwd* user = ::getpwuid(::getuid());
             user != nullptr && user->pw_dir != nullptr && user->pw_dir[0] == '/')
        home = user->pw_dir;
    if (home.empty())
        return {};
    if (home.size() > 1 && home.back() == '/')
        home.pop_back();
    return (home == "/" ? "" : home) + "/.config";
}

std::string UserFolder()
{
    const std::string config = ConfigHome();
    return config.empty() ? std::string() : config + "/VLM";
}

void RemoveStaleTemporaries(const std::string& path)
{
    const std::string target = LinkTarget(path);
    const std::string folder = FolderOf(target);
    const std::string prefix = NameOf(target) + std::string(kTemporaryMark);
    DIR* dir = ::opendir(folder.c_str());
    if (dir == nullptr)
        return;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string_view name(entry->d_name);
        if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix)
            continue;
        // "<pid>-XXXXXX" follows the mark.
        const std::string rest(name.substr(prefix.size()));
        char* end = nullptr;
        const long pid = std::strtol(rest.c_str(), &end, 10);
        if (end == rest.c_str() || *end != '-' || (pid != ::getpid() && !ProcessGone(pid)))
            continue;
        const std::string file = folder + "/" + std::string(name);
        struct stat info { };
        if (::lstat(file.c_str(), &info) == 0 && S_ISREG(info.st_mode))
            ::unlink(file.c_str());
    }
    ::closedir(dir);
}

void DeleteFileOrLink(const std::string& path)
{
    struct stat info { };
    if (::lstat(path.c_str(), &info) != 0)
        return;
    if (S_ISREG(info.st_mode) || S_ISLNK(info.st_mode))
        ::unlink(path.c_str());
}

bool ChangeDirectory(const std::string& path)
{
    return ::chdir(path.empty() ? "/" : path.c_str()) == 0;
}

} // namespace vlm::sys
