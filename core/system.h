#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What differs between the operating systems the program runs on, kept in one place: the local calendar, how
// paths are written and the few file operations the core needs. Paths are UTF-8 strings on every system.
// system_posix.cpp and system_win32.cpp implement it.
namespace vlm::sys {

#ifdef _WIN32
inline constexpr char kPathSeparator = '\\';
#else
inline constexpr char kPathSeparator = '/';
#endif

#ifdef _WIN32
// UTF-8 (the program's strings) to UTF-16 (the wide Windows APIs) and back; invalid sequences become U+FFFD.
std::wstring Widen(std::string_view utf8);
std::string Narrow(std::wstring_view utf16);
#endif

// `relative` (written with "/") with the system's own separators.
std::string NativePath(std::string_view relative);

// Where the folder part of an executable's path ends: after its last separator (or drive colon on Windows), or
// std::string_view::npos when the path names no folder.
std::size_t FolderEnd(std::string_view path);

// The weekday (0 = Sunday) a UTC second falls on in the computer's time zone.
int LocalWeekday(std::int64_t utcSecond);

// Picks up a change of the computer's time zone made while the program runs.
void RefreshTimeZone();

// Whether something that is not a folder is at `path` (links followed): what a sound must be to be played.
bool IsFile(const std::string& path);

// How reading a file went: read; nothing there (a missing file, or a dangling link); something that is no regular
// file (a folder, a FIFO, a device); or a regular file that could not be read now (no right to, held open by
// another program without sharing, a read error).
enum class ReadStatus { Read, Missing, NotAFile, Unreadable };

struct FileContents {
    ReadStatus Status = ReadStatus::Missing;
    std::vector<unsigned char> Bytes;
};

// The contents of the regular file at `path` (links followed), at most `maxBytes` of them. Never waits on anything
// that is not a regular file (a FIFO, a device).
FileContents ReadRegularFile(const std::string& path, std::size_t maxBytes);

// Whether a file or folder may be written (a missing one may be created). An administrator may write anything,
// so one the user marked read-only counts as read-only too: who marked it meant it not to change.
bool LooksWritable(const std::string& path);

// How writing a file went: written; refused for good (no right to, a read-only file or medium: trying the same
// place again won't help); failed otherwise (the file in use by another program, a full disk, a folder in the
// way). ReplaceFile alone answers NoTemporary: no temporary file may be made beside the file (the folder takes no
// new files), and nothing was changed.
enum class WriteStatus { Written, Denied, Failed, NoTemporary };

// Replaces the file at `path` with `bytes` atomically: written to a temporary file beside it, flushed, then put
// in its place. When `path` is a symbolic link its target is replaced and the link stays. The new file keeps the
// old one's permissions. On any failure the old file is untouched.
WriteStatus ReplaceFile(const std::string& path, const std::vector<unsigned char>& bytes);

// Overwrites the existing file at `path` (links followed) from its start with `bytes` in one write, cuts it to
// that length and flushes it: for a folder where no temporary file may be made. A missing file is not created.
WriteStatus WriteInPlace(const std::string& path, const std::vector<unsigned char>& bytes);

// Renames the file at `path` (a link's target, when it is a link) to `newPath` in the same folder; Failed when
// something is at `newPath` already (it is never replaced).
WriteStatus MoveAside(const std::string& path, const std::string& newPath);

// Whether anything (a file, folder or link, even a dangling one) is at `path`.
bool Exists(const std::string& path);

// Makes the folder `path` with any missing parents (private to the user, as a settings folder should be); true
// when it is there afterwards.
bool MakeFolders(const std::string& path);

#ifndef _WIN32
// The user's configuration folder: $XDG_CONFIG_HOME when it is an absolute path (a relative one is invalid and
// ignored), else ~/.config; "" when the user has no home folder.
std::string ConfigHome();
#endif

// The user's own folder for this program's settings and sounds: $XDG_CONFIG_HOME/VLM (~/.config/VLM when that is
// unset or not absolute) on Linux, the roaming application data folder + \VLM on Windows; "" when the user has
// none.
std::string UserFolder();

// Removes the temporary files that a ReplaceFile of `path` interrupted (killed, power cut) left behind: those of
// ended processes, and those bearing this process's own id, which can only be leftovers of an earlier process
// that had the same id (nothing is saved yet at start). Those of another running process are left alone.
void RemoveStaleTemporaries(const std::string& path);

// Deletes the file or symbolic link at `path` (a link itself, never its target); a folder or anything else there
// is left alone. Failures are ignored.
void DeleteFileOrLink(const std::string& path);

// Makes `path` the process's current folder; false when it can't.
bool ChangeDirectory(const std::string& path);

} // namespace vlm::sys
