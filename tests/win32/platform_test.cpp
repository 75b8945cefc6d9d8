#include "shell/win32/mci_media_layer.h"
#include "shell/win32/mci_sound_output.h"
#include "shell/win32/run_key_autostart.h"
#include "shell/win32/text.h"

#include "pump_messages.h"

#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

namespace fs = std::filesystem;
using vlm::win32::Widen;

namespace {

// A key of its own under HKEY_CURRENT_USER, removed afterwards.
class RunKeyTest : public ::testing::Test {
protected:
    void TearDown() override
    {
        SetKeyAccess(L"D:(A;;KA;;;WD)");
        RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str());
    }

    // Gives the key the access list `sddl` (its owner may always change it back).
    void SetKeyAccess(const wchar_t* sddl) const
    {
        HKEY key = nullptr;
        if (RegOpenKeyExW(HKEY_CURRENT_USER, m_key.c_str(), 0, WRITE_DAC, &key) != ERROR_SUCCESS)
            return;
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        if (ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl, SDDL_REVISION_1, &descriptor, nullptr)) {
            RegSetKeySecurity(key, DACL_SECURITY_INFORMATION, descriptor);
            LocalFree(descriptor);
        }
        RegCloseKey(key);
    }

    // The value's type and data, or an empty type when there is none.
    std::pair<DWORD, std::wstring> Value(const wchar_t* name = L"VLM") const
    {
        DWORD type = 0;
        wchar_t data[1024] {};
        DWORD size = sizeof(data);
        if (RegGetValueW(HKEY_CURRENT_USER, m_key.c_str(), name, RRF_RT_ANY | RRF_NOEXPAND, &type, data, &size)
            != ERROR_SUCCESS)
            return { 0, {} };
        return { type, data };
    }
    void Put(const wchar_t* name, const std::wstring& data) const
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, m_key.c_str(), name, REG_SZ, data.c_str(),
            static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }

    std::wstring m_key = L"Software\\VLM-test-" + std::to_wstring(GetCurrentProcessId()) + L"\\Run";
};

} // namespace

TEST_F(RunKeyTest, RegisterWritesTheQuotedExecutableAndUnregisterRemovesOnlyOurs)
{
    vlm::win32::RunKeyAutostart autostart(m_key);
    const std::string dir = "C:\\Program Files\\VLM 鐘聲";
    // The key is created when missing.
    EXPECT_EQ(autostart.RegisterAutostart(dir), "");
    EXPECT_EQ(Value(), (std::pair<DWORD, std::wstring> { REG_SZ, L"\"C:\\Program Files\\VLM 鐘聲\\VLM.exe\"" }));

    // Another folder's copy leaves the entry alone; this folder's (in any letter case) removes it.
    autostart.UnregisterAutostart("D:\\VLM");
    EXPECT_EQ(Value().first, DWORD(REG_SZ));
    autostart.UnregisterAutostart("c:\\program files\\vlm 鐘聲");
    EXPECT_EQ(Value().first, 0u);

    // An entry naming something else under the name, and other programs' entries, stay.
    Put(L"VLM", L"\"C:\\Other\\Tool.exe\"");
    Put(L"Other", L"\"C:\\Program Files\\VLM 鐘聲\\VLM.exe\"");
    autostart.UnregisterAutostart(dir);
    EXPECT_EQ(Value().second, L"\"C:\\Other\\Tool.exe\"");
    EXPECT_EQ(Value(L"Other").first, DWORD(REG_SZ));
    // Registering replaces it; an unquoted entry of ours is still ours.
    EXPECT_EQ(autostart.RegisterAutostart(dir), "");
    EXPECT_EQ(Value().second, L"\"C:\\Program Files\\VLM 鐘聲\\VLM.exe\"");
    Put(L"VLM", L"C:\\Program Files\\VLM 鐘聲\\VLM.exe");
    autostart.UnregisterAutostart(dir);
    EXPECT_EQ(Value().first, 0u);
    // Nothing to remove is no failure.
    autostart.UnregisterAutostart(dir);
}

// A Run key the user may read but not change (a policy, or an administrator's lock): nothing is shown, nothing is
// written or removed, and IsRegistered says so.
TEST_F(RunKeyTest, ReadOnlyKeyChangesNothingAndSaysSo)
{
    vlm::win32::RunKeyAutostart autostart(m_key);
    const std::string ours = "C:\\VLM";
    ASSERT_EQ(autostart.RegisterAutostart(ours), "");
    ASSERT_TRUE(autostart.IsRegistered(ours));
    SetKeyAccess(L"D:P(A;;KR;;;WD)");
    HKEY probe = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, m_key.c_str(), 0, KEY_SET_VALUE, &probe) == ERROR_SUCCESS) {
        RegCloseKey(probe);
        GTEST_SKIP() << "this system does not enforce a key's access list";
    }

    EXPECT_EQ(autostart.RegisterAutostart("D:\\Elsewhere"), "");
    EXPECT_FALSE(autostart.IsRegistered("D:\\Elsewhere"));
    autostart.UnregisterAutostart(ours);
    EXPECT_TRUE(autostart.IsRegistered(ours));
    EXPECT_EQ(Value().second, L"\"C:\\VLM\\VLM.exe\"");
}

TEST_F(RunKeyTest, IsRegisteredOnlyForThisFolder)
{
    vlm::win32::RunKeyAutostart autostart(m_key);
    // No key at all.
    EXPECT_FALSE(autostart.IsRegistered("C:\\VLM"));
    Put(L"VLM", L"\"C:\\Other\\Tool.exe\"");
    EXPECT_FALSE(autostart.IsRegistered("C:\\VLM"));
    Put(L"VLM", L"C:\\vlm\\VLM.exe");
    EXPECT_TRUE(autostart.IsRegistered("C:\\VLM"));
}

TEST_F(RunKeyTest, DriveRootFolder)
{
    vlm::win32::RunKeyAutostart autostart(m_key);
    EXPECT_EQ(autostart.RegisterAutostart("C:"), "");
    EXPECT_EQ(Value().second, L"\"C:\\VLM.exe\"");
}

namespace {

// A short 16-bit mono tone.
void WriteTone(const fs::path& path, int milliseconds)
{
    const std::uint32_t rate = 22050;
    const std::uint32_t samples = rate * static_cast<std::uint32_t>(milliseconds) / 1000;
    std::ofstream out(path, std::ios::binary);
    const auto u32 = [&](std::uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    const auto u16 = [&](std::uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + samples * 2);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(1);
    u32(rate);
    u32(rate * 2);
    u16(2);
    u16(16);
    out.write("data", 4);
    u32(samples * 2);
    for (std::uint32_t i = 0; i < samples; ++i)
        u16(static_cast<std::uint16_t>(static_cast<std::int16_t>(8000 * std::sin(i * 0.1))));
}

class MciTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_dir = fs::temp_directory_path() / (L"vlm-音-" + std::to_wstring(GetCurrentProcessId()));
        fs::create_directories(m_dir);
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }
    std::string File(const wchar_t* name) const { return vlm::win32::Narrow((m_dir / name).wstring()); }

    fs::path m_dir;
};

} // namespace

namespace {

using vlm::test::PumpUntil;

} // namespace

TEST_F(MciTest, FailuresCarryTheMediaLayersText)
{
    vlm::win32::MciSoundOutput player;
    std::vector<std::string> failures;
    player.SetFailureHandler([&](const std::string& text) { failures.push_back(text); });
    EXPECT_EQ(player.Play(File(L"missing.wav")), "");
    ASSERT_TRUE(PumpUntil([&] { return !failures.empty(); }));
    EXPECT_NE(failures[0], "");
    EXPECT_NE(failures[0], "Unknown error code");
    EXPECT_FALSE(player.IsPlaying());

    std::ofstream(m_dir / L"garbage.wav") << "not a sound";
    player.Play(File(L"garbage.wav"));
    ASSERT_TRUE(PumpUntil([&] { return failures.size() == 2; }));
    EXPECT_NE(failures[1], "");
    EXPECT_FALSE(player.IsPlaying());

    EXPECT_EQ(vlm::win32::MciMediaLayer().ErrorText(0x7FFF), "Unknown error code");
    player.Stop();
}

TEST_F(MciTest, PlaysStopsAndPlaysAgainFromTheStart)
{
    if (waveOutGetNumDevs() == 0)
        GTEST_SKIP() << "no sound device";
    WriteTone(m_dir / L"鐘.wav", 3000);
    vlm::win32::MciSoundOutput player;
    std::vector<std::string> failures;
    player.SetFailureHandler([&](const std::string& text) { failures.push_back(text); });
    ASSERT_EQ(player.Play(File(L"鐘.wav")), "");
    EXPECT_TRUE(player.IsPlaying());
    player.Stop();
    EXPECT_FALSE(player.IsPlaying());
    EXPECT_EQ(player.Play(File(L"鐘.wav")), "");
    EXPECT_TRUE(player.IsPlaying());
    // Playing another file first closes the one open; a sound that has ended is not playing.
    WriteTone(m_dir / L"short.wav", 100);
    EXPECT_EQ(player.Play(File(L"short.wav")), "");
    EXPECT_TRUE(PumpUntil([&] { return !player.IsPlaying(); }));
    EXPECT_EQ(failures, std::vector<std::string> {});
    player.Stop();
}

// A program folder deep enough that its sounds' paths reach MAX_PATH characters: the layer takes no such path, so
// the output names the file in a way it can open.
class DeepFolderTest : public MciTest, public ::testing::WithParamInterface<const wchar_t*> {};

TEST_P(DeepFolderTest, SoundsPlay)
{
    fs::path deep = m_dir;
    while (deep.wstring().size() < 262)
        deep /= std::wstring(60, L'd');
    fs::create_directories(deep);
    const fs::path file = deep / GetParam();
    WriteTone(file, 300);
    ASSERT_GE(file.wstring().size(), std::size_t(MAX_PATH));
    const std::wstring name = vlm::win32::MciSoundOutput::OpenableName(vlm::win32::Narrow(file.wstring()));
    EXPECT_LT(name.size(), std::size_t(MAX_PATH));

    vlm::win32::MciSoundOutput player;
    std::vector<std::string> failures;
    player.SetFailureHandler([&](const std::string& text) { failures.push_back(text); });
    EXPECT_EQ(player.Play(vlm::win32::Narrow(file.wstring())), "");
    EXPECT_TRUE(PumpUntil([&] { return !player.IsPlaying(); }));
    EXPECT_EQ(failures, std::vector<std::string> {});
}

// Where a file has no short name (a volume made without them), the part below the current folder names it.
TEST_F(MciTest, DeepPathWithoutShortNameGoesThroughTheCurrentFolder)
{
    fs::path deep = m_dir;
    deep /= std::wstring(240 - std::min<std::size_t>(deep.wstring().size(), 200), L'd');
    fs::create_directories(deep);
    const std::wstring file = (deep / std::wstring(30, L'n')).wstring() + L".wav"; // not there: no short name
    ASSERT_GE(file.size(), std::size_t(MAX_PATH));
    const fs::path before = fs::current_path();
    ASSERT_TRUE(SetCurrentDirectoryW(deep.c_str()));
    const std::wstring name = vlm::win32::MciSoundOutput::OpenableName(vlm::win32::Narrow(file));
    SetCurrentDirectoryW(before.c_str());
    EXPECT_EQ(name, std::wstring(30, L'n') + L".wav");
}

INSTANTIATE_TEST_SUITE_P(Names, DeepFolderTest, ::testing::Values(L"bell1.wav", L"鐘聲.wav"));
