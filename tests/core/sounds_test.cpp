#include "core/sounds.h"

#include "core/system.h"

#include "test_support.h"
#include "utf16.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

namespace vlm {
namespace {

using test::Utf16;

TEST(SoundCatalogue, TitlesAreDistinctSortedAndFitTheirSlots)
{
    std::set<std::u16string> seen;
    std::u16string previous;
    for (const std::string_view entry : MusicList) {
        ASSERT_TRUE(entry.starts_with("Music/") && entry.ends_with(".wav")) << entry;
        const std::u16string wide = Utf16(entry);
        EXPECT_LE(wide.size(), 39u) << entry;
        const std::u16string title = Utf16(entry.substr(6, entry.size() - 10));
        EXPECT_FALSE(title.empty());
        EXPECT_LT(previous, title) << entry << " is out of order";
        for (const char16_t unit : title)
            EXPECT_GE(unit, 0x2E80) << entry << " has a title that is not Chinese";
        previous = title;
        seen.insert(title);
    }
    EXPECT_EQ(seen.size(), 28u);
}

TEST(SoundCatalogue, PathsAreBuiltFromTheProgramFolder)
{
    using test::HostPath;
    const SoundCatalogue sounds(ProgramDirOf(HostPath("/opt/tools/VLM")));
    EXPECT_EQ(sounds.ProgramDir(), HostPath("/opt/tools"));
    EXPECT_EQ(sounds.MusicPaths()[0], HostPath("/opt/tools/" + std::string(MusicList[0])));
    EXPECT_EQ(sounds.PreludePath(27), HostPath("/opt/tools/" + std::string(MusicList[27])));
    EXPECT_EQ(sounds.PreludePath(28), sounds.MusicPaths()[0]);
    EXPECT_EQ(sounds.BellPath(0, 3), HostPath("/opt/tools/bell1.wav"));
    EXPECT_EQ(sounds.BellPath(1, 0), HostPath("/opt/tools/bell3.wav"));
}

TEST(SoundCatalogue, LongPathsStayWhole)
{
    using test::HostPath;
    const std::string deep = "/home/user/" + std::string(300, 'x') + "/我的程式";
    const SoundCatalogue sounds(ProgramDirOf(HostPath(deep + "/VLM")));
    EXPECT_EQ(sounds.BellPath(1, 2), HostPath(deep + "/bell3.wav"));
    EXPECT_EQ(sounds.PreludePath(5), HostPath(deep + "/" + std::string(MusicList[5])));
}

TEST(SoundCatalogue, ProgramInTheRootFolder)
{
    const SoundCatalogue sounds(ProgramDirOf(test::HostPath("/VLM")));
    EXPECT_EQ(sounds.ProgramDir(), test::HostPath(""));
    EXPECT_EQ(sounds.BellPath(0, 0), test::HostPath("/bell1.wav"));
}

// A sound of the same name in the user's own folder rings instead of the program's; the others stay the program's.
TEST(SoundCatalogue, TheUsersOwnSoundsComeFirst)
{
    test::TempDir dir;
    const std::string program = dir.File("program");
    const std::string user = dir.File("user");
    const SoundCatalogue sounds(program, user);
    EXPECT_EQ(sounds.BellPath(0, 0), program + sys::kPathSeparator + "bell1.wav");
    EXPECT_EQ(sounds.PreludePath(3), program + sys::kPathSeparator + sys::NativePath(MusicList[3]));

    std::filesystem::create_directories(test::FsPath(user + sys::kPathSeparator + "Music"));
    for (const std::string& relative : { std::string("bell1.wav"), std::string(MusicList[3]) })
        std::ofstream(test::FsPath(user + sys::kPathSeparator + sys::NativePath(relative))) << "x";
    EXPECT_EQ(sounds.BellPath(0, 2), user + sys::kPathSeparator + "bell1.wav");
    EXPECT_EQ(sounds.BellPath(1, 0), program + sys::kPathSeparator + "bell3.wav");
    EXPECT_EQ(sounds.PreludePath(3), user + sys::kPathSeparator + sys::NativePath(MusicList[3]));
    EXPECT_EQ(sounds.PreludePath(31), sounds.PreludePath(3));
    EXPECT_EQ(sounds.PreludePath(4), program + sys::kPathSeparator + sys::NativePath(MusicList[4]));

    // A folder of that name is no sound.
    std::filesystem::create_directories(test::FsPath(user + sys::kPathSeparator + "bell3.wav"));
    EXPECT_EQ(sounds.BellPath(1, 0), program + sys::kPathSeparator + "bell3.wav");
}

#ifdef _WIN32
// Windows paths may use either separator, and a path may name a drive and a file with no folder between.
TEST(SoundCatalogue, WindowsFolderEnds)
{
    EXPECT_EQ(ProgramDirOf("D:\\Apps\\VLM\\VLM.exe"), "D:\\Apps\\VLM");
    EXPECT_EQ(ProgramDirOf("D:/Apps/VLM.exe"), "D:/Apps");
    EXPECT_EQ(ProgramDirOf("D:\\Apps/VLM\\VLM.exe"), "D:\\Apps/VLM");
    EXPECT_EQ(ProgramDirOf("D:VLM.exe"), "D:");
    EXPECT_EQ(ProgramDirOf("VLM.exe"), ".");
    EXPECT_EQ(SoundCatalogue(ProgramDirOf("D:\\VLM.exe")).BellPath(0, 0), "D:\\bell1.wav");
}
#endif

} // namespace
} // namespace vlm
