#include "core/settings.h"

#include "core/system.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <functional>
#include <future>
#include <iterator>
#include <thread>
#include <vector>
#ifdef _WIN32
#include <windows.h>
// <windows.h> names ReplaceFileW so; the tests call the portable one.
#undef ReplaceFile
#else
#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace vlm {
namespace {

std::vector<unsigned char> ReadFile(const std::string& path)
{
    std::ifstream in(test::FsPath(path), std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(test::FsPath(path), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::int32_t At(const std::vector<unsigned char>& bytes, std::size_t offset)
{
    return static_cast<std::int32_t>(bytes[offset] | bytes[offset + 1] << 8 | bytes[offset + 2] << 16
        | static_cast<std::uint32_t>(bytes[offset + 3]) << 24);
}

std::vector<unsigned char> Int32s(std::initializer_list<std::int32_t> values)
{
    std::vector<unsigned char> bytes;
    for (const std::int32_t v : values)
        for (int i = 0; i < 4; ++i)
            bytes.push_back(static_cast<unsigned char>(static_cast<std::uint32_t>(v) >> (8 * i)));
    return bytes;
}

std::vector<std::string> FolderEntries(const std::string& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(test::FsPath(folder)))
        names.push_back(test::Utf8(entry.path().filename()));
    std::sort(names.begin(), names.end());
    return names;
}

Settings Sample()
{
    Settings s;
    s.RotationCounter = 279;
    s.BellChoice = 1;
    s.Schedule[0][0] = 1;
    s.Schedule[3][14] = 1;
    s.Schedule[6][23] = 2; // an odd stored value goes back out unchanged
    s.AutostartFlag = false;
    return s;
}

TEST(SettingsFile, SaveWritesTheLittleEndianLayout)
{
    test::TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    ASSERT_TRUE(SaveSettings(path, Sample()));

    const auto bytes = ReadFile(path);
    ASSERT_EQ(bytes.size(), 684u);
    EXPECT_EQ(At(bytes, 0), 279);
    EXPECT_EQ(At(bytes, 4), 2);
    for (int d = 0; d < kDayCount; ++d)
        for (int h = 0; h < kHourCount; ++h)
            EXPECT_EQ(At(bytes, 8 + 4 * (d * 24 + h)), Sample().Schedule[d][h]) << d << " " << h;
    EXPECT_EQ(bytes[8 + 4 * (3 * 24 + 14)], 1); // little-endian: low byte first
    EXPECT_EQ(At(bytes, 680), 0);

    Settings loaded;
    ASSERT_TRUE(LoadSettings(path, loaded));
    EXPECT_EQ(loaded.Schedule, Sample().Schedule);
    EXPECT_EQ(loaded.BellChoice, 1);
    EXPECT_EQ(loaded.RotationCounter, 279 % 32 % 28);
    EXPECT_FALSE(loaded.AutostartFlag);
}

struct ReadRule {
    const char* name;
    std::int32_t counter;
    std::int32_t bell;
    std::int32_t expectedCounter;
    std::int32_t expectedBell;
};

class SettingsReadRules : public testing::TestWithParam<ReadRule> { };

TEST_P(SettingsReadRules, MapsStoredValues)
{
    const ReadRule& rule = GetParam();
    const auto bytes = Int32s({ rule.counter, rule.bell });
    Settings s;
    DecodeSettings(bytes.data(), bytes.size(), s);
    EXPECT_EQ(s.RotationCounter, rule.expectedCounter);
    EXPECT_EQ(s.BellChoice, rule.expectedBell);
}

INSTANTIATE_TEST_SUITE_P(Values, SettingsReadRules,
    testing::Values(ReadRule { "counter100", 100, 1, 4, 0 }, ReadRule { "counter29", 29, 1, 1, 0 },
        ReadRule { "counter279", 279, 1, 23, 0 }, ReadRule { "bellMinus1", 0, -1, 0, 1 },
        ReadRule { "bell0", 0, 0, 0, 1 }, ReadRule { "bell1", 0, 1, 0, 0 }, ReadRule { "bell2", 0, 2, 0, 1 },
        ReadRule { "bell3", 0, 3, 0, 1 }, ReadRule { "bell4", 0, 4, 0, 1 }),
    [](const auto& info) { return std::string(info.param.name); });

struct ShortFile {
    std::size_t size;
    bool counterSet;
    bool bellSet;
    int scheduleEntriesSet;
    bool autostartSet;
};

class SettingsShortFile : public testing::TestWithParam<ShortFile> { };

// Fields wholly inside the file apply; the rest, including one cut short, keep their defaults.
TEST_P(SettingsShortFile, AppliesWholeFieldsOnly)
{
    const ShortFile& c = GetParam();
    Settings full;
    full.RotationCounter = 5;
    full.BellChoice = 1;
    for (auto& day : full.Schedule)
        day.fill(1);
    full.AutostartFlag = false;
    const SettingsBytes bytes = EncodeSettings(full);

    test::TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    WriteFile(path, { bytes.begin(), bytes.begin() + static_cast<long>(c.size) });
    Settings s;
    ASSERT_TRUE(LoadSettings(path, s));

    EXPECT_EQ(s.RotationCounter, c.counterSet ? 5 : 0);
    EXPECT_EQ(s.BellChoice, c.bellSet ? 1 : 0);
    int set = 0;
    for (const auto& day : s.Schedule)
        for (const std::int32_t flag : day)
            set += flag;
    EXPECT_EQ(set, c.scheduleEntriesSet);
    EXPECT_EQ(s.AutostartFlag, !c.autostartSet);
}

INSTANTIATE_TEST_SUITE_P(Sizes, SettingsShortFile,
    testing::Values(ShortFile { 0, false, false, 0, false }, ShortFile { 4, true, false, 0, false },
        ShortFile { 8, true, true, 0, false }, ShortFile { 10, true, true, 0, false },
        ShortFile { 100, true, true, 23, false }, ShortFile { 680, true, true, 168, false },
        ShortFile { 683, true, true, 168, false }, ShortFile { 684, true, true, 168, true }),
    [](const auto& info) { return "bytes" + std::to_string(info.param.size); });

TEST(SettingsFile, MissingFileLeavesDefaults)
{
    test::TempDir dir;
    Settings s;
    EXPECT_FALSE(LoadSettings(dir.File(kSettingsFileName), s));
    EXPECT_EQ(s.RotationCounter, 0);
    EXPECT_EQ(s.BellChoice, 0);
    EXPECT_TRUE(s.AutostartFlag);
    EXPECT_EQ(s.Schedule, ScheduleTable {});
}

TEST(SettingsFile, MessageTexts)
{
    EXPECT_STREQ(MessageText(SettingsMessage::LoadFailed), "\u3000開啟vlm1.cfg 錯誤!\u3000");
    EXPECT_STREQ(MessageText(SettingsMessage::SaveFailed), " 更改設定存檔錯誤 ");
}

// A failed save must leave the previous file exactly as it was and say so.
class SettingsSaveFailure : public testing::Test {
protected:
    void SetUp() override
    {
        Settings old;
        old.RotationCounter = 7;
        ASSERT_TRUE(SaveSettings(m_path, old));
        m_before = ReadFile(m_path);
    }
    void ExpectUntouched()
    {
        EXPECT_EQ(ReadFile(m_path), m_before);
        std::size_t entries = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(test::FsPath(m_dir.Path())))
            ++entries;
        EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
    }
    test::TempDir m_dir;
    std::string m_path = m_dir.File(kSettingsFileName);
    std::vector<unsigned char> m_before;
};

#ifdef _WIN32
std::wstring Wide(const std::string& path)
{
    return test::FsPath(path).wstring();
}

TEST_F(SettingsSaveFailure, ReadOnlyAttribute)
{
    ASSERT_TRUE(::SetFileAttributesW(Wide(m_path).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_FALSE(SaveSettings(m_path, Sample()));
    ::SetFileAttributesW(Wide(m_path).c_str(), FILE_ATTRIBUTE_NORMAL);
    ExpectUntouched();
}

// Another program holds the file open without letting it be replaced: the rename fails, nothing is lost.
TEST_F(SettingsSaveFailure, FileInUse)
{
    const HANDLE open = ::CreateFileW(
        Wide(m_path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(open, INVALID_HANDLE_VALUE);
    const bool saved = SaveSettings(m_path, Sample());
    ::CloseHandle(open);
    EXPECT_FALSE(saved);
    ExpectUntouched();
}

TEST(SettingsFile, SaveKeepsTheFilesAttributes)
{
    test::TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    ASSERT_TRUE(SaveSettings(path, Settings {}));
    ASSERT_TRUE(::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(SaveSettings(path, Sample()));
    EXPECT_EQ(::GetFileAttributesW(Wide(path).c_str()) & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_READONLY),
        static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
    EXPECT_EQ(ReadFile(path).size(), kSettingsFileSize);
}

// The program folder may be named in any script and nested deep: paths go to the system whole, in UTF-16.
struct FolderCase {
    const char* name;
    std::string folder;
};

class SettingsInFolder : public testing::TestWithParam<FolderCase> { };

TEST_P(SettingsInFolder, SavesLoadsAndTidiesThere)
{
    test::TempDir dir;
    // Made through the "\\?\" form, which a folder deeper than MAX_PATH needs.
    std::wstring folder = L"\\\\?\\" + Wide(dir.Path());
    for (const auto& part : test::FsPath(GetParam().folder)) {
        folder += L"\\" + part.wstring();
        ASSERT_TRUE(::CreateDirectoryW(folder.c_str(), nullptr) || ::GetLastError() == ERROR_ALREADY_EXISTS);
    }
    const std::string programDir = dir.Path() + "\\" + sys::NativePath(GetParam().folder);
    ASSERT_TRUE(sys::LooksWritable(programDir));
    const std::string path = programDir + "\\" + kSettingsFileName;
    ASSERT_TRUE(SaveSettings(path, Settings {}));
    ASSERT_TRUE(SaveSettings(path, Sample()));
    Settings loaded;
    ASSERT_TRUE(LoadSettings(path, loaded));
    EXPECT_EQ(loaded.Schedule, Sample().Schedule);
    EXPECT_TRUE(sys::IsFile(path));
    EXPECT_FALSE(sys::IsFile(programDir));

    const HANDLE stale = ::CreateFileW((folder + L"\\vlm1.cfg.saving-999999999-1").c_str(), GENERIC_WRITE, 0, nullptr,
        CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(stale, INVALID_HANDLE_VALUE);
    ::CloseHandle(stale);
    sys::RemoveStaleTemporaries(path);
    WIN32_FIND_DATAW entry {};
    std::vector<std::wstring> names;
    const HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &entry);
    ASSERT_NE(search, INVALID_HANDLE_VALUE);
    do {
        if (entry.cFileName[0] != L'.')
            names.push_back(entry.cFileName);
    } while (::FindNextFileW(search, &entry));
    ::FindClose(search);
    EXPECT_EQ(names, std::vector<std::wstring> { L"vlm1.cfg" });
    EXPECT_TRUE(sys::ChangeDirectory(programDir) || folder.size() >= MAX_PATH);
}

INSTANTIATE_TEST_SUITE_P(Folders, SettingsInFolder,
    testing::Values(FolderCase { "Chinese", "我的程式/鐘聲" },
        // Deeper than 128 characters, and deeper than MAX_PATH (260).
        FolderCase { "Deep", std::string(60, 'a') + "/" + std::string(60, 'b') + "/" + std::string(30, 'c') },
        FolderCase { "DeeperThanMaxPath",
            std::string(100, 'a') + "/" + std::string(100, 'b') + "/" + std::string(60, 'c') + "/程式" }),
    [](const auto& info) { return std::string(info.param.name); });
#else
TEST_F(SettingsSaveFailure, ReadOnlyFile)
{
    ::chmod(m_path.c_str(), 0444);
    EXPECT_FALSE(SaveSettings(m_path, Sample()));
    ExpectUntouched();
}

TEST_F(SettingsSaveFailure, WriteFailsMidway)
{
    // A file size limit makes the write stop after 100 bytes, as a full disk would.
    rlimit old {};
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit tiny = old;
    tiny.rlim_cur = 100;
    const auto oldHandler = ::signal(SIGXFSZ, SIG_IGN);
    ::setrlimit(RLIMIT_FSIZE, &tiny);
    const bool saved = SaveSettings(m_path, Sample());
    ::setrlimit(RLIMIT_FSIZE, &old);
    ::signal(SIGXFSZ, oldHandler);

    EXPECT_FALSE(saved);
    ExpectUntouched();
}

// A folder that takes no new files (no temporary file for the atomic save) holding a file that may be written: the
// file is written where it is. A file that may not be written stays as it was.
struct RightsCase {
    const char* name;
    mode_t folder;
    mode_t file;
    std::size_t oldSize; // bytes in the file before the save
    bool saved;
};

class SettingsRights : public testing::TestWithParam<RightsCase> { };

// Runs `save` as an ordinary user (nobody, when the tests run as root, for whom rights don't bite), and returns
// its answer.
bool AsOrdinaryUser(const std::function<bool()>& save)
{
    const pid_t child = ::fork();
    if (child == 0) {
        if (::geteuid() == 0 && (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(2);
        ::_exit(save() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) != 2) << "could not become an ordinary user";
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST_P(SettingsRights, WritesInPlaceWhereOnlyTheFileMayBeWritten)
{
    const RightsCase& c = GetParam();
    for (const bool ordinaryUser : { false, true }) {
        SCOPED_TRACE(ordinaryUser ? "as an ordinary user" : "as this user");
        test::TempDir dir;
        const std::string folder = dir.File("program");
        std::filesystem::create_directory(folder);
        const std::string path = folder + "/vlm1.cfg";
        std::vector<unsigned char> old(c.oldSize, 7);
        WriteFile(path, old);
        if (ordinaryUser && ::geteuid() == 0) {
            // The ordinary user may pass through the test's folder and owns neither the folder nor the file.
            ::chmod(dir.Path().c_str(), 0755);
        }
        ::chmod(path.c_str(), c.file);
        ::chmod(folder.c_str(), c.folder);

        const bool saved = ordinaryUser ? AsOrdinaryUser([&] { return SaveSettings(path, Sample()); })
                                        : SaveSettings(path, Sample());
        ::chmod(folder.c_str(), 0755);
        EXPECT_EQ(saved, c.saved);
        const auto bytes = ReadFile(path);
        if (c.saved) {
            const SettingsBytes expected = EncodeSettings(Sample());
            EXPECT_EQ(bytes, std::vector<unsigned char>(expected.begin(), expected.end()));
        } else {
            EXPECT_EQ(bytes, old);
        }
        EXPECT_EQ(FolderEntries(folder), std::vector<std::string> { "vlm1.cfg" }) << "nothing left beside it";
        struct stat info { };
        ASSERT_EQ(::stat(path.c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, c.file) << "the file keeps its rights";
    }
}

INSTANTIATE_TEST_SUITE_P(Rights, SettingsRights,
    testing::Values(RightsCase { "FolderTakesNoNewFiles", 0555, 0666, 684, true },
        RightsCase { "LongerFileIsCutToSize", 0555, 0666, 1000, true },
        RightsCase { "ShorterFileIsFilled", 0555, 0666, 8, true },
        RightsCase { "NeitherFolderNorFile", 0555, 0444, 684, false },
        RightsCase { "ReadOnlyFile", 0755, 0444, 684, false }),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsFile, SaveKeepsTheFilesPermissions)
{
    test::TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    ASSERT_TRUE(SaveSettings(path, Settings {}));
    struct stat info { };
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    ::chmod(path.c_str(), 0600);
    ASSERT_TRUE(SaveSettings(path, Sample()));
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

#endif

TEST(SettingsFile, SaveIntoMissingFolderFails)
{
    test::TempDir dir;
    EXPECT_FALSE(SaveSettings(dir.File("gone/vlm1.cfg"), Settings {}));
}

// Anything but a regular file named vlm1.cfg is unreadable, and reading it must not wait: a FIFO would block the
// start in open() until a writer came, with no window, no tick and SIGTERM unanswered.
class SettingsNotAFile : public testing::TestWithParam<const char*> { };

TEST_P(SettingsNotAFile, LoadsNothingAtOnce)
{
    test::TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    const std::string kind = GetParam();
    if (kind == "folder")
        std::filesystem::create_directory(test::FsPath(path));
#ifndef _WIN32
    else if (kind == "fifo")
        ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    else if (kind == "device")
        std::filesystem::create_symlink("/dev/zero", path);
    else if (kind == "link to a fifo") {
        ASSERT_EQ(::mkfifo(dir.File("pipe").c_str(), 0600), 0);
        std::filesystem::create_symlink("pipe", path);
    }
#endif

    Settings s;
    s.RotationCounter = 9;
    auto load = std::async(std::launch::async, [&] { return LoadSettings(path, s); });
    if (load.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
#ifndef _WIN32
        // Release the reader so the test can end, then fail.
        const int writer = ::open(kind == "link to a fifo" ? dir.File("pipe").c_str() : path.c_str(), O_WRONLY);
        ::close(writer);
#endif
        FAIL() << "loading waited on a " << kind;
    }
    EXPECT_FALSE(load.get());
    EXPECT_EQ(s.RotationCounter, 9) << "nothing applied";
}

#ifdef _WIN32
#define VLM_NOT_A_FILE_KINDS "folder"
#else
#define VLM_NOT_A_FILE_KINDS "fifo", "folder", "device", "link to a fifo"
#endif
INSTANTIATE_TEST_SUITE_P(Kinds, SettingsNotAFile, testing::Values(VLM_NOT_A_FILE_KINDS), [](const auto& info) {
    std::string name = info.param;
    std::replace(name.begin(), name.end(), ' ', '_');
    return name;
});

#ifndef _WIN32
// A settings file that is a symbolic link (kept in a synced folder, say): saving updates what it points to, and
// the link stays a link.
class SettingsLink : public testing::TestWithParam<bool> { };

TEST_P(SettingsLink, SaveReplacesTheTargetAndKeepsTheLink)
{
    const bool relative = GetParam();
    test::TempDir dir;
    std::filesystem::create_directory(dir.File("elsewhere"));
    const std::string target = dir.File("elsewhere/mine.cfg");
    const std::string path = dir.File(kSettingsFileName);
    ASSERT_TRUE(SaveSettings(target, Settings {}));
    std::filesystem::create_symlink(relative ? "elsewhere/mine.cfg" : target, path);

    ASSERT_TRUE(SaveSettings(path, Sample()));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    Settings loaded;
    ASSERT_TRUE(LoadSettings(target, loaded));
    EXPECT_EQ(loaded.Schedule, Sample().Schedule);
    EXPECT_EQ(ReadFile(target).size(), kSettingsFileSize);

    // A dangling link: the first save creates its target.
    std::filesystem::remove(target);
    ASSERT_TRUE(SaveSettings(path, Sample()));
    EXPECT_TRUE(std::filesystem::is_symlink(path));
    EXPECT_EQ(ReadFile(target).size(), kSettingsFileSize);
    EXPECT_EQ(std::distance(
                  std::filesystem::directory_iterator(dir.File("elsewhere")), std::filesystem::directory_iterator()),
        1);
}

INSTANTIATE_TEST_SUITE_P(Links, SettingsLink, testing::Values(false, true),
    [](const auto& info) { return info.param ? "Relative" : "Absolute"; });

#endif

#ifdef _WIN32
// The leftovers of a save whose process has ended go at the next start; those of a process still running stay.
TEST(SettingsTemporaries, LeftoversOfEndedProcessesGo)
{
    test::TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    ASSERT_TRUE(SaveSettings(path, Sample()));

    STARTUPINFOW startup {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child {};
    std::wstring command = L"cmd.exe /c exit 0";
    ASSERT_TRUE(::CreateProcessW(
        nullptr, command.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr, &startup, &child));
    ::WaitForSingleObject(child.hProcess, INFINITE);
    ::CloseHandle(child.hThread);
    ::CloseHandle(child.hProcess);

    // Another process that runs (held suspended) until the end of the test.
    PROCESS_INFORMATION running {};
    std::wstring waiting = L"cmd.exe /c exit 0";
    ASSERT_TRUE(::CreateProcessW(nullptr, waiting.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW | CREATE_SUSPENDED,
        nullptr, nullptr, &startup, &running));

    const std::string ended = path + ".saving-" + std::to_string(child.dwProcessId) + "-1";
    const std::string live = path + ".saving-" + std::to_string(running.dwProcessId) + "-1";
    // Our own id: a leftover of an earlier process that had it (Wine hands out the same ids after a restart).
    const std::string own = path + ".saving-" + std::to_string(::GetCurrentProcessId()) + "-1";
    WriteFile(ended, { 1 });
    WriteFile(live, { 1 });
    WriteFile(own, { 1 });
    WriteFile(path + ".saving-notapid", { 1 });
    WriteFile(dir.File("other.cfg.saving-1-1"), { 1 });

    sys::RemoveStaleTemporaries(path);
    ::TerminateProcess(running.hProcess, 0);
    ::WaitForSingleObject(running.hProcess, INFINITE);
    ::CloseHandle(running.hThread);
    ::CloseHandle(running.hProcess);
    EXPECT_EQ(FolderEntries(dir.Path()),
        (std::vector<std::string> {
            "other.cfg.saving-1-1", "vlm1.cfg", live.substr(live.rfind('\\') + 1), "vlm1.cfg.saving-notapid" }));
}
#else
// kill -9 in the middle of saves: the file is always whole, and the copies the killed saves left behind are removed
// at the next start, while those of a save still running elsewhere are not.
TEST(SettingsTemporaries, KilledSavesLeaveAWholeFileAndTheirLeftoversGoAtTheNextStart)
{
    test::TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    ASSERT_TRUE(SaveSettings(path, Sample()));
    for (int round = 0; round < 30; ++round) {
        const pid_t saver = ::fork();
        if (saver == 0) {
            for (;;)
                SaveSettings(path, Sample());
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(3 + round % 7));
        ::kill(saver, SIGKILL);
        ::waitpid(saver, nullptr, 0);
        EXPECT_EQ(ReadFile(path).size(), kSettingsFileSize);
    }

    // One of another live process, one bearing our own id (the leftover of an earlier process that had it), and
    // files that merely look alike.
    const pid_t other = ::fork();
    if (other == 0) {
        ::pause();
        ::_exit(0);
    }
    const std::string live = path + ".saving-" + std::to_string(other) + "-Ab12Cd";
    WriteFile(live, { 1 });
    WriteFile(path + ".saving-" + std::to_string(::getpid()) + "-Xy34Zw", { 1 });
    WriteFile(path + ".saving-notapid", { 1 });
    WriteFile(dir.File("other.cfg.saving-1-Ab12Cd"), { 1 });

    sys::RemoveStaleTemporaries(path);
    ::kill(other, SIGKILL);
    ::waitpid(other, nullptr, 0);
    EXPECT_EQ(FolderEntries(dir.Path()),
        (std::vector<std::string> {
            "other.cfg.saving-1-Ab12Cd", "vlm1.cfg", live.substr(live.rfind('/') + 1), "vlm1.cfg.saving-notapid" }));
    Settings loaded;
    ASSERT_TRUE(LoadSettings(path, loaded));
    EXPECT_EQ(loaded.Schedule, Sample().Schedule);
}
#endif

// Kept aside under a new name; whatever already bears that name is never replaced.
TEST(SettingsFile, MoveAsideNeverReplaces)
{
    test::TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    WriteFile(path, { 1, 2 });
    WriteFile(path + ".unread", { 3 });
    EXPECT_EQ(sys::MoveAside(path, path + ".unread"), sys::WriteStatus::Failed);
    EXPECT_EQ(ReadFile(path + ".unread"), std::vector<unsigned char> { 3 });
    EXPECT_EQ(sys::MoveAside(path, path + ".unread-2"), sys::WriteStatus::Written);
    EXPECT_EQ(ReadFile(path + ".unread-2"), (std::vector<unsigned char> { 1, 2 }));
    EXPECT_FALSE(sys::Exists(path));
}

TEST(SettingsFile, ReadTellsMissingFromUnreadable)
{
    test::TempDir dir;
    EXPECT_EQ(sys::ReadRegularFile(dir.File("vlm1.cfg"), kSettingsFileSize).Status, sys::ReadStatus::Missing);
    EXPECT_EQ(sys::ReadRegularFile(dir.File("gone/vlm1.cfg"), kSettingsFileSize).Status, sys::ReadStatus::Missing);
    EXPECT_EQ(sys::ReadRegularFile(dir.Path(), kSettingsFileSize).Status, sys::ReadStatus::NotAFile);
}

#ifdef _WIN32
// Held open without sharing (an antivirus scan, a backup at logon) while the program starts: it can't be read,
// and until it has been read no save may take its place.
class UnreadSettingsFile : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(SaveSettings(path, Sample()));
        original = ReadFile(path);
        held = ::CreateFileW(
            Wide(path).c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(held, INVALID_HANDLE_VALUE);
        store.SetPlaces(SettingsPlacesFor(SettingsLayout::Portable, dir.Path(), dir.File("user")));
    }

    test::TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    std::vector<unsigned char> original;
    HANDLE held = INVALID_HANDLE_VALUE;
    SettingsStore store;
};

TEST_F(UnreadSettingsFile, HeldOpenAtStartIsKeptThenRead)
{
    EXPECT_EQ(store.Load(), sys::ReadStatus::Unreadable);
    EXPECT_TRUE(store.Unread());
    EXPECT_FALSE(store.RetryLoad());
    // A save meanwhile can neither move it aside nor replace it, and doesn't go elsewhere for that.
    EXPECT_FALSE(store.Save());
    EXPECT_FALSE(sys::Exists(dir.File("user")));
    ::CloseHandle(held);
    EXPECT_EQ(ReadFile(path), original);

    ASSERT_TRUE(store.RetryLoad());
    EXPECT_EQ(store.Values().Schedule, Sample().Schedule);
    EXPECT_FALSE(store.Values().AutostartFlag);
}

// Locked at start, let go before the first save: the save keeps it aside first.
TEST_F(UnreadSettingsFile, ASaveKeepsItAside)
{
    EXPECT_EQ(store.Load(), sys::ReadStatus::Unreadable);
    ::CloseHandle(held);
    ASSERT_TRUE(store.Save());
    EXPECT_EQ(ReadFile(path + ".unread"), original);
    EXPECT_EQ(ReadFile(path).size(), kSettingsFileSize);
}

// In place: one write over the start of the file, cut to size, nothing made beside it.
TEST(SettingsFile, WriteInPlaceCutsToSize)
{
    test::TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    WriteFile(path, std::vector<unsigned char>(1000, 7));
    const SettingsBytes bytes = EncodeSettings(Sample());
    const std::vector<unsigned char> expected(bytes.begin(), bytes.end());
    ASSERT_EQ(sys::WriteInPlace(path, expected), sys::WriteStatus::Written);
    EXPECT_EQ(ReadFile(path), expected);
    EXPECT_EQ(FolderEntries(dir.Path()), std::vector<std::string> { "vlm1.cfg" });
    EXPECT_EQ(sys::WriteInPlace(dir.File("missing.cfg"), expected), sys::WriteStatus::Denied);
    ASSERT_TRUE(::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(sys::WriteInPlace(path, { 1 }), sys::WriteStatus::Denied);
    EXPECT_EQ(sys::ReplaceFile(path, { 1 }), sys::WriteStatus::Denied);
    ::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(ReadFile(path), expected);
}

TEST(UserFolder, IsTheRoamingApplicationDataFolder)
{
    const std::string folder = sys::UserFolder();
    ASSERT_GT(folder.size(), 6u);
    EXPECT_TRUE(folder.ends_with("\\VLM")) << folder;
    EXPECT_EQ(folder[1], ':') << folder;
    wchar_t appData[MAX_PATH] {};
    if (::GetEnvironmentVariableW(L"APPDATA", appData, MAX_PATH)) {
        EXPECT_EQ(folder, sys::Narrow(appData) + "\\VLM");
    }
}
#else
// Unreadable to its user (rights, a read error): not the same as missing.
TEST(UnreadSettingsFile, NoRightToReadIsUnreadable)
{
    test::TempDir dir;
    ::chmod(dir.Path().c_str(), 0755);
    const std::string path = dir.File(kSettingsFileName);
    ASSERT_TRUE(SaveSettings(path, Sample()));
    ::chmod(path.c_str(), 0);
    EXPECT_TRUE(AsOrdinaryUser(
        [&] { return sys::ReadRegularFile(path, kSettingsFileSize).Status == sys::ReadStatus::Unreadable; }));
}

struct UserFolderCase {
    const char* name;
    const char* configHome; // nullptr: unset
    const char* home;
    const char* expected;
};

class UserFolderOf : public testing::TestWithParam<UserFolderCase> { };

TEST_P(UserFolderOf, FollowsTheConfigHome)
{
    const UserFolderCase& c = GetParam();
    const std::string oldConfig = std::getenv("XDG_CONFIG_HOME") ? std::getenv("XDG_CONFIG_HOME") : "";
    const bool hadConfig = std::getenv("XDG_CONFIG_HOME") != nullptr;
    const std::string oldHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    if (c.configHome)
        ::setenv("XDG_CONFIG_HOME", c.configHome, 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", c.home, 1);
    const std::string folder = sys::UserFolder();
    if (hadConfig)
        ::setenv("XDG_CONFIG_HOME", oldConfig.c_str(), 1);
    else
        ::unsetenv("XDG_CONFIG_HOME");
    ::setenv("HOME", oldHome.c_str(), 1);
    EXPECT_EQ(folder, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Environments, UserFolderOf,
    testing::Values(UserFolderCase { "Set", "/srv/conf", "/home/ann", "/srv/conf/VLM" },
        UserFolderCase { "Unset", nullptr, "/home/ann", "/home/ann/.config/VLM" },
        UserFolderCase { "Empty", "", "/home/ann", "/home/ann/.config/VLM" },
        UserFolderCase { "Relative", "conf", "/home/ann/", "/home/ann/.config/VLM" }),
    [](const auto& info) { return std::string(info.param.name); });
#endif

} // namespace
} // namespace vlm
