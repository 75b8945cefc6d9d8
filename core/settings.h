#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace vlm {

inline constexpr int kDayCount = 7;
inline constexpr int kHourCount = 24;
inline constexpr int kBellChoiceCount = 2;
inline constexpr std::size_t kSettingsFileSize = 684;
inline constexpr const char* kSettingsFileName = "vlm1.cfg";

// Message texts exactly as the user sees them (U+3000 at each end of the first, a space at each end of the second).
inline constexpr const char* kLoadErrorText = "\u3000開啟vlm1.cfg 錯誤!\u3000";
inline constexpr const char* kSaveErrorText = " 更改設定存檔錯誤 ";

enum class SettingsMessage { LoadFailed, SaveFailed };
const char* MessageText(SettingsMessage message);

using ScheduleTable = std::array<std::array<std::int32_t, kHourCount>, kDayCount>;

// The user's settings; the defaults are those in force without a settings file.
struct Settings {
    std::int32_t RotationCounter = 0;
    std::int32_t BellChoice = 0; // 0 = one stroke, 1 = three strokes
    ScheduleTable Schedule {}; // [day 0 = Sunday][hour]; a reminder is on only when the flag is exactly 1
    bool AutostartFlag = true;
};

using SettingsBytes = std::array<unsigned char, kSettingsFileSize>;

// The 684-byte little-endian file form.
SettingsBytes EncodeSettings(const Settings& settings);

// Applies every field that lies wholly inside bytes[0, size) over `settings`; the others keep their values.
void DecodeSettings(const unsigned char* bytes, std::size_t size, Settings& settings);

// Reads the file into `settings`; false when it is not a regular file or can't be read (the settings are then left
// alone).
bool LoadSettings(const std::string& path, Settings& settings);

// Replaces the file (a link's target, when it is a symbolic link) with the settings atomically; false, with the old
// file untouched, on any failure.
bool SaveSettings(const std::string& path, const Settings& settings);

// The settings in memory together with the file they live in.
class SettingsStore {
public:
    explicit SettingsStore(std::string path = {});

    const std::string& Path() const { return m_path; }
    void SetPath(std::string path) { m_path = std::move(path); }
    Settings& Values() { return m_values; }
    const Settings& Values() const { return m_values; }

    bool Load() { return LoadSettings(m_path, m_values); }
    bool Save() const { return SaveSettings(m_path, m_values); }

private:
    std::string m_path;
    Settings m_values;
};

} // namespace vlm
