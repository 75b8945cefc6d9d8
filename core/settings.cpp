#include "core/settings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace vlm {

namespace {

constexpr std::size_t kCounterOffset = 0;
constexpr std::size_t kBellOffset = 4;
constexpr std::size_t kScheduleOffset = 8;
constexpr std::size_t kAutostartOffset = 680;

void PutInt32(unsigned char* at, std::int32_t value)
{
    const auto bits = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        at[i] = static_cast<unsigned char>(bits >> (8 * i));
}

std::int32_t GetInt32(const unsigned char* at)
{
    std::uint32_t bits = 0;
    for (int i = 0; i < 4; ++i)
        bits |= static_cast<std::uint32_t>(at[i]) << (8 * i);
    return static_cast<std::int32_t>(bits);
}

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
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

} // namespace

bool LooksWritable(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        return errno == ENOENT;
    return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0 && ::access(path.c_str(), W_OK) == 0;
}

const char* MessageText(SettingsMessage message)
{
    return message == SettingsMessage::LoadFailed ? kLoadErrorText : kSaveErrorText;
}

SettingsBytes EncodeSettings(const Settings& settings)
{
    SettingsBytes bytes {};
    PutInt32(bytes.data() + kCounterOffset, settings.RotationCounter);
    PutInt32(bytes.data() + kBellOffset, settings.BellChoice + 1);
    std::size_t at = kScheduleOffset;
    for (const auto& day : settings.Schedule) {
        for (const std::int32_t flag : day) {
            PutInt32(bytes.data() + at, flag);
            at += 4;
        }
    }
    PutInt32(bytes.data() + kAutostartOffset, settings.AutostartFlag ? 1 : 0);
    return bytes;
}

void DecodeSettings(const unsigned char* bytes, std::size_t size, Settings& settings)
{
    const auto has = [size](std::size_t offset) { return offset + 4 <= size; };

    if (has(kCounterOffset))
        settings.RotationCounter = (GetInt32(bytes + kCounterOffset) & 0x1F) % 28;

    // Stored as choice + 1. Older files hold other values; anything outside 1..3 means three strokes,
    // and 3 is clamped to the last choice.
    if (has(kBellOffset)) {
        const std::int32_t v = GetInt32(bytes + kBellOffset);
        settings.BellChoice = (v >= 1 && v <= 3) ? std::min(v - 1, kBellChoiceCount - 1) : 1;
    }

    std::size_t at = kScheduleOffset;
    for (auto& day : settings.Schedule) {
        for (std::int32_t& flag : day) {
            if (has(at))
                flag = GetInt32(bytes + at); // kept as read: only a 1 arms a reminder
            at += 4;
        }
    }

    if (has(kAutostartOffset))
        settings.AutostartFlag = GetInt32(bytes + kAutostartOffset) != 0;
}

bool LoadSettings(const std::string& path, Settings& settings)
{
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file)
        return false;
    SettingsBytes bytes {};
    const std::size_t size = std::fread(bytes.data(), 1, bytes.size(), file);
    const bool failed = std::ferror(file) != 0;
    std::fclose(file);
    if (failed)
        return false;
    DecodeSettings(bytes.data(), size, settings);
    return true;
}

bool SaveSettings(const std::string& path, const Settings& settings)
{
    const std::string folder = FolderOf(path);
    if (!LooksWritable(path) || !LooksWritable(folder))
        return false;

    std::string temp = path + ".XXXXXX";
    std::vector<char> pattern(temp.begin(), temp.end());
    pattern.push_back('\0');
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0)
        return false;
    temp.assign(pattern.data());

    // The new file takes the old one's permissions (mkstemp creates it private).
    struct stat old {};
    const mode_t mode = ::stat(path.c_str(), &old) == 0 ? (old.st_mode & 07777) : 0644;
    const SettingsBytes bytes = EncodeSettings(settings);
    bool ok = ::fchmod(fd, mode) == 0;
    ok = ok && WriteAll(fd, bytes.data(), bytes.size());
    ok = ok && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    ok = ok && std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }

    // Make the rename itself durable.
    const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    return true;
}

SettingsStore::SettingsStore(std::string path)
    : m_path(std::move(path))
{
}

} // namespace vlm
