#include "core/settings.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <vector>

namespace vlm {
namespace {

std::vector<unsigned char> ReadFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return { std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>() };
}

void WriteFile(const std::string& path, const std::vector<unsigned char>& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
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
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
            ++entries;
        EXPECT_EQ(entries, 1u) << "a temporary file was left behind";
    }
    test::TempDir m_dir;
    std::string m_path = m_dir.File(kSettingsFileName);
    std::vector<unsigned char> m_before;
};

TEST_F(SettingsSaveFailure, ReadOnlyFile)
{
    ::chmod(m_path.c_str(), 0444);
    EXPECT_FALSE(SaveSettings(m_path, Sample()));
    ExpectUntouched();
}

TEST_F(SettingsSaveFailure, ReadOnlyFolder)
{
    ::chmod(m_dir.Path().c_str(), 0555);
    EXPECT_FALSE(SaveSettings(m_path, Sample()));
    ::chmod(m_dir.Path().c_str(), 0755);
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

TEST(SettingsFile, SaveKeepsTheFilesPermissions)
{
    test::TempDir dir;
    const std::string path = dir.File(kSettingsFileName);
    ASSERT_TRUE(SaveSettings(path, Settings {}));
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0644u);
    ::chmod(path.c_str(), 0600);
    ASSERT_TRUE(SaveSettings(path, Sample()));
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
}

TEST(SettingsFile, SaveIntoMissingFolderFails)
{
    test::TempDir dir;
    EXPECT_FALSE(SaveSettings(dir.File("gone/vlm1.cfg"), Settings {}));
}

} // namespace
} // namespace vlm
