#pragma once

#include <array>
#include <string>
#include <string_view>

namespace vlm {

inline constexpr int kMusicCount = 28;
inline constexpr int kBellsPerReminder = 4;

// Prelude files relative to the program folder, "Music/" + title + ".wav", in ascending UTF-16 order of the titles.
extern const std::array<std::string_view, kMusicCount> MusicList;

// Bell files by choice * 4 + j for the j-th bell of a reminder.
extern const std::array<std::string_view, 8> BellList;

// The program folder as it is kept once start-up is done: the executable's folder without a trailing "/".
std::string ProgramDirOf(std::string_view executablePath);

// Full paths of every sound, built from the program folder. A file of the same name in the user's own folder
// (userFolder/bell1.wav, userFolder/Music/<title>.wav) takes precedence, so a user of a copy installed for everyone
// can still ring their own sounds; it is looked for each time a reminder is prepared.
class SoundCatalogue {
public:
    explicit SoundCatalogue(std::string programDir = {}, std::string userFolder = {});

    void BuildMusicPaths();
    const std::string& ProgramDir() const { return m_programDir; }
    const std::string& UserFolder() const { return m_userFolder; }
    // The preludes in the program folder.
    const std::array<std::string, kMusicCount>& MusicPaths() const { return m_musicPaths; }

    // The prelude of a reminder prepared while the counter has this value.
    std::string PreludePath(int rotationCounter) const;
    std::string BellPath(int bellChoice, int j) const;

private:
    // The user's own copy of `relative` when there is one, else `programPath`.
    std::string Chosen(std::string_view relative, const std::string& programPath) const;

    std::string m_programDir;
    std::string m_userFolder;
    std::array<std::string, kMusicCount> m_musicPaths;
};

} // namespace vlm
