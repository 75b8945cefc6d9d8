#include "core/legacy_cleanup.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#endif

namespace vlm {
namespace {

namespace fs = std::filesystem;

void Write(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

std::string Read(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

// lstat-style: true for a dangling link too.
bool Present(const fs::path& path)
{
    return fs::symlink_status(path).type() != fs::file_type::not_found;
}

// What the program itself keeps in its folder, which may be one of the old folders.
const std::vector<std::string> kOwnFiles { "vlm1.cfg", "bell1.wav", "bell3.wav", "Music/01.wav" };

class LegacyCleanup : public testing::Test {
protected:
    std::vector<std::string> Folders() const { return { m_tree.File("opt/VLM"), m_tree.File("usr/local/VLM") }; }
    test::TempDir m_tree;
};

TEST(LegacyFiles, TheFourteenPathsInTableOrder)
{
#ifdef _WIN32
    const std::vector<std::string> expected { "D:\\Program Files\\VLM\\tirvo0.wav",
        "D:\\Program Files\\VLM\\tirvo1.wav", "D:\\Program Files\\VLM\\tirvo2.wav",
        "D:\\Program Files\\VLM\\tirvo3.wav", "D:\\Program Files\\VLM\\sarevin.txt",
        "D:\\Program Files\\VLM\\sarevinU.txt", "D:\\Program Files\\VLM\\vlm.cfg", "C:\\Program Files\\VLM\\tirvo0.wav",
        "C:\\Program Files\\VLM\\tirvo1.wav", "C:\\Program Files\\VLM\\tirvo2.wav",
        "C:\\Program Files\\VLM\\tirvo3.wav", "C:\\Program Files\\VLM\\sarevin.txt",
        "C:\\Program Files\\VLM\\sarevinU.txt", "C:\\Program Files\\VLM\\vlm.cfg" };
#else
    const std::vector<std::string> expected { "/opt/VLM/tirvo0.wav", "/opt/VLM/tirvo1.wav", "/opt/VLM/tirvo2.wav",
        "/opt/VLM/tirvo3.wav", "/opt/VLM/sarevin.txt", "/opt/VLM/sarevinU.txt", "/opt/VLM/vlm.cfg",
        "/usr/local/VLM/tirvo0.wav", "/usr/local/VLM/tirvo1.wav", "/usr/local/VLM/tirvo2.wav",
        "/usr/local/VLM/tirvo3.wav", "/usr/local/VLM/sarevin.txt", "/usr/local/VLM/sarevinU.txt",
        "/usr/local/VLM/vlm.cfg" };
#endif
    EXPECT_EQ(LegacyFiles(), expected);
}

class LegacyCleanupPresent : public LegacyCleanup, public testing::WithParamInterface<std::vector<int>> { };

// The program may live in both old folders: its own files beside the legacy ones stay.
TEST_P(LegacyCleanupPresent, DeletesThoseThereAndKeepsTheProgramsOwn)
{
    const std::vector<std::string> legacy = LegacyFiles(Folders());
    for (const std::string& folder : Folders())
        for (const std::string& own : kOwnFiles)
            Write(fs::path(folder) / own, own);
    for (const int i : GetParam())
        Write(legacy[i], "old");

    DeleteLegacyFiles(Folders());

    for (const std::string& path : legacy)
        EXPECT_FALSE(Present(path)) << path;
    for (const std::string& folder : Folders()) {
        EXPECT_TRUE(fs::is_directory(folder));
        for (const std::string& own : kOwnFiles)
            EXPECT_EQ(Read(fs::path(folder) / own), own);
    }
}

const char* const kPresentNames[] { "AllFourteen", "SomeInEachFolder", "OnlyTheSecondFolders", "None" };

INSTANTIATE_TEST_SUITE_P(Files, LegacyCleanupPresent,
    testing::Values(std::vector<int> { 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13 },
        std::vector<int> { 0, 6, 12, 10 }, std::vector<int> { 7, 8, 9, 10, 11, 12, 13 }, std::vector<int> {}),
    [](const auto& info) { return std::string(kPresentNames[info.index]); });

#ifdef _WIN32
// A file that can't be deleted (open in another program) stays without a word, and so does a folder.
TEST_F(LegacyCleanup, FilesInUseAndFoldersStay)
{
    const fs::path folder = Folders()[1];
    Write(folder / "tirvo0.wav", "in use");
    Write(folder / "tirvo1.wav", "free");
    Write(folder / "sarevin.txt" / "inside.txt", "inside");
    const HANDLE open = ::CreateFileW((folder / "tirvo0.wav").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
        OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);

    DeleteLegacyFiles(Folders());
    ::CloseHandle(open);

    EXPECT_EQ(Read(folder / "tirvo0.wav"), "in use");
    EXPECT_FALSE(Present(folder / "tirvo1.wav"));
    EXPECT_EQ(Read(folder / "sarevin.txt" / "inside.txt"), "inside");
}
#else
TEST_F(LegacyCleanup, LinksGoButNotTheirTargetsFoldersAndPipesStay)
{
    const fs::path folder = Folders()[0];
    const fs::path outside = m_tree.File("keep");
    fs::create_directories(folder);
    fs::create_directories(outside / "folder");
    Write(outside / "target.wav", "target");
    fs::create_symlink(outside / "target.wav", folder / "tirvo0.wav");
    fs::create_directory_symlink(outside / "folder", folder / "tirvo1.wav");
    fs::create_symlink(outside / "gone", folder / "tirvo2.wav");
    Write(folder / "sarevin.txt" / "inside.txt", "inside");
    ASSERT_EQ(::mkfifo((folder / "vlm.cfg").c_str(), 0600), 0);

    DeleteLegacyFiles(Folders());

    EXPECT_FALSE(Present(folder / "tirvo0.wav"));
    EXPECT_FALSE(Present(folder / "tirvo1.wav"));
    EXPECT_FALSE(Present(folder / "tirvo2.wav"));
    EXPECT_EQ(Read(outside / "target.wav"), "target");
    EXPECT_TRUE(fs::is_directory(outside / "folder"));
    EXPECT_EQ(Read(folder / "sarevin.txt" / "inside.txt"), "inside");
    EXPECT_TRUE(Present(folder / "vlm.cfg"));
}
#endif

TEST_F(LegacyCleanup, MissingOrUnusableFoldersBreakNothing)
{
    Write(m_tree.File("a file"), "kept");
    DeleteLegacyFiles({ m_tree.File("missing/VLM"), m_tree.File("a file") });
    EXPECT_EQ(Read(m_tree.File("a file")), "kept");
}

} // namespace
} // namespace vlm
