#include "core/sounds.h"

#include "core/system.h"

namespace vlm {

const std::array<std::string_view, kMusicCount> MusicList {
    "Music/古琴.wav", "Music/夜雨.wav", "Music/山寺.wav", "Music/明月.wav", "Music/星河.wav", "Music/春江.wav",
    "Music/晚鐘.wav", "Music/晨鐘.wav", "Music/暮鼓.wav", "Music/曉霧.wav", "Music/松濤.wav", "Music/梅花.wav",
    "Music/歸鳥.wav", "Music/流水.wav", "Music/清泉.wav", "Music/清風.wav", "Music/漁舟.wav", "Music/白雲.wav",
    "Music/禪心.wav", "Music/秋月.wav", "Music/竹影.wav", "Music/落霞.wav", "Music/蓮池.wav", "Music/遠山.wav",
    "Music/長亭.wav", "Music/雲海.wav", "Music/靜夜.wav", "Music/高山.wav",
};

const std::array<std::string_view, 8> BellList {
    "bell1.wav", "bell1.wav", "bell1.wav", "bell1.wav",
    "bell3.wav", "bell3.wav", "bell3.wav", "bell3.wav",
};

std::string ProgramDirOf(std::string_view executablePath)
{
    const auto end = sys::FolderEnd(executablePath);
    if (end == std::string_view::npos)
        return ".";
    // An executable at a root gives "" here ("C:" on Windows): every path is then built as root + separator + name.
    return std::string(executablePath.substr(0, end));
}

SoundCatalogue::SoundCatalogue(std::string programDir, std::string userFolder)
    : m_programDir(std::move(programDir))
    , m_userFolder(std::move(userFolder))
{
    BuildMusicPaths();
}

void SoundCatalogue::BuildMusicPaths()
{
    for (int i = 0; i < kMusicCount; ++i)
        m_musicPaths[i] = m_programDir + sys::kPathSeparator + sys::NativePath(MusicList[i]);
}

std::string SoundCatalogue::Chosen(std::string_view relative, const std::string& programPath) const
{
    if (m_userFolder.empty())
        return programPath;
    std::string own = m_userFolder + sys::kPathSeparator + sys::NativePath(relative);
    return sys::IsFile(own) ? own : programPath;
}

std::string SoundCatalogue::PreludePath(int rotationCounter) const
{
    const int index = ((rotationCounter % kMusicCount) + kMusicCount) % kMusicCount;
    return Chosen(MusicList[index], m_musicPaths[index]);
}

std::string SoundCatalogue::BellPath(int bellChoice, int j) const
{
    const std::string_view name = BellList[bellChoice * kBellsPerReminder + j];
    return Chosen(name, m_programDir + sys::kPathSeparator + std::string(name));
}

} // namespace vlm
