#pragma once

#include "core/system.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

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

// The file operations the settings need; the system's own (SystemSettingsFiles) or, in tests, a fake.
class SettingsFiles {
public:
    virtual ~SettingsFiles() = default;
    virtual sys::FileContents Read(const std::string& path) = 0;
    virtual sys::WriteStatus Replace(const std::string& path, const std::vector<unsigned char>& bytes) = 0;
    virtual sys::WriteStatus WriteInPlace(const std::string& path, const std::vector<unsigned char>& bytes) = 0;
    virtual sys::WriteStatus MoveAside(const std::string& path, const std::string& newPath) = 0;
    virtual bool Exists(const std::string& path) = 0;
    virtual bool MakeFolders(const std::string& path) = 0;
};

SettingsFiles& SystemSettingsFiles();

// Writes the file at `path` the best way its folder allows: replaced atomically; written in place when no
// temporary file may be made beside it but the file itself may be written (then `inPlace`, when given, is set).
sys::WriteStatus WriteSettingsFile(
    SettingsFiles& files, const std::string& path, const SettingsBytes& bytes, bool* inPlace = nullptr);

// Portable: the settings live beside the executable while that folder can be written, and in the user's own folder
// once it can't. System: a program installed for every user keeps them in each user's own folder only.
enum class SettingsLayout { Portable, System };

// Where the settings file may be. ProgramFile is empty in the system layout, UserFile when the user has no folder
// of their own.
struct SettingsPlaces {
    std::string ProgramFile;
    std::string UserFile;
};

SettingsPlaces SettingsPlacesFor(SettingsLayout layout, const std::string& programDir, const std::string& userFolder);

// Tries to read a file that is there but could not be read at start, once a tick for about this long.
inline constexpr int kLoadRetries = 60;

// The settings in memory together with the file they live in.
//
// Loading: the user's file when there is one, else the one beside the program (the starting point of a portable
// copy). Saving: to the file the settings came from (or are to go to); when that place refuses for good (no right
// to, a read-only medium), to the user's file, which from then on is the one. A file that is there but could not be
// read is never replaced before it has been read: a save in that time first moves it aside (vlm1.cfg.unread).
class SettingsStore {
public:
    explicit SettingsStore(std::string path = {});

    // Where the settings are read from and go to now.
    const std::string& Path() const { return m_path; }
    void SetPlaces(SettingsPlaces places);
    const SettingsPlaces& Places() const { return m_places; }
    void SetFiles(SettingsFiles& files) { m_files = &files; }
    // Where notes on where the file went are written (the diagnostics).
    void SetLog(std::function<void(const std::string&)> log) { m_log = std::move(log); }

    Settings& Values() { return m_values; }
    const Settings& Values() const { return m_values; }

    // Reads the file, choosing it among the places; the settings keep their values unless it was read.
    sys::ReadStatus Load();
    // Whether the file found at start has not been read yet (nor moved aside by a save).
    bool Unread() const { return m_unread; }
    // While the file is unread and tries are left: reads it again, and when that works replaces the settings in
    // memory with it (over the defaults) and returns true.
    bool RetryLoad();
    // Writes the settings; false when no place could take them.
    bool Save();

private:
    void Note(const std::string& text) const;
    // Moves the unread file at m_path aside; Written when it is out of the way.
    sys::WriteStatus KeepUnreadFile();

    SettingsPlaces m_places;
    std::string m_path;
    SettingsFiles* m_files;
    std::function<void(const std::string&)> m_log;
    Settings m_values;
    bool m_unread = false;
    int m_retriesLeft = 0;
};

} // namespace vlm
