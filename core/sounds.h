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

// Full paths of every sound, built once from the program folder.
class SoundCatalogue {
public:
    explicit SoundCatalogue(std::string programDir = {});

    void BuildMusicPaths();
    const std::string& ProgramDir() const { return m_programDir; }
    const std::array<std::string, kMusicCount>& MusicPaths() const { return m_musicPaths; }

    // The prelude of a reminder prepared while the counter has this value.
    const std::string& PreludePath(int rotationCounter) const;
    std::string BellPath(int bellChoice, int j) const;

private:
    std::string m_programDir;
    std::array<std::string, kMusicCount> m_musicPaths;
};

} // namespace vlm
