#include "core/system.h"

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
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

std::optional<std::vector<unsigned char>> ReadRegularFile(const std::string& path, std::size_t maxBytes)
{
    // Opening a FIFO for reading waits for a writer, and a device may do anything on open: look first, and open
    // without waiting in case the file was swapped in between.
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return std::nullopt;
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    std::optional<std::vector<unsigned char>> bytes;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode)) {
        bytes.emplace(maxBytes);
        std::size_t got = 0;
        while (got < maxBytes) {
            const ssize_t n = ::read(fd, bytes->data() + got, maxBytes - got);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                bytes.reset();
                break;
            }
            if (n == 0)
                break;
            got += static_cast<std::size_t>(n);
        }
        if (bytes)
            bytes->resize(got);
    }
    ::close(fd);
    return bytes;
}

bool LooksWritable(const std::string& path)
{
    struct stat info { };
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOENT;
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && ::access(path.c_str(), W_OK) == 0;
}

bool ReplaceFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    const std::string target = LinkTarget(path);
    const std::string folder = FolderOf(target);
    if (!LooksWritable(target) || !LooksWritable(folder))
        return false;

    std::string temp = target + std::string(kTemporaryMark) + std::to_string(::getpid()) + "-XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;

    // The new file takes the old one's permissions (mkstemp creates it private).
    struct stat old { };
    const mode_t mode = ::stat(target.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    bool ok = ::fchmod(fd, mode) == 0;
    ok = ok && WriteAll(fd, bytes.data(), bytes.size());
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }

    // Make the rename itself durable.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
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
        if (end == rest.c_str() || *end != '-' || !ProcessGone(pid))
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
