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

// The contents of the regular file at `path` (links followed), at most `maxBytes` of them, or nothing when there
// is no such regular file or it can't be read. Never waits on anything that is not a regular file (a FIFO, a
// device).
std::optional<std::vector<unsigned char>> ReadRegularFile(const std::string& path, std::size_t maxBytes);

// Whether a file or folder may be written (a missing one may be created). An administrator may write anything,
// so one the user marked read-only counts as read-only too: who marked it meant it not to change.
bool LooksWritable(const std::string& path);

// Replaces the file at `path` with `bytes` atomically: written to a temporary file beside it, flushed, then put
// in its place. When `path` is a symbolic link its target is replaced and the link stays. The new file keeps the
// old one's permissions. False, with the old file untouched, on any failure.
bool ReplaceFile(const std::string& path, const std::vector<unsigned char>& bytes);

// Removes the temporary files that a ReplaceFile of `path` interrupted in another process (killed, power cut)
// left behind; those of a process still running are left alone.
void RemoveStaleTemporaries(const std::string& path);

// Deletes the file or symbolic link at `path` (a link itself, never its target); a folder or anything else there
// is left alone. Failures are ignored.
void DeleteFileOrLink(const std::string& path);

// Makes `path` the process's current folder; false when it can't.
bool ChangeDirectory(const std::string& path);

} // namespace vlm::sys
