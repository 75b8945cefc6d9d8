#include "core/settings.h"

#include "core/system.h"

#include <algorithm>
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

} // namespace

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
    const auto bytes = sys::ReadRegularFile(path, kSettingsFileSize);
    if (!bytes)
        return false;
    DecodeSettings(bytes->data(), bytes->size(), settings);
    return true;
}

bool SaveSettings(const std::string& path, const Settings& settings)
{
    const SettingsBytes bytes = EncodeSettings(settings);
    return sys::ReplaceFile(path, std::vector<unsigned char>(bytes.begin(), bytes.end()));
}

SettingsStore::SettingsStore(std::string path)
    : m_path(std::move(path))
{
}

} // namespace vlm
