#include "shell/win32/mci_sound_output.h"
#include "shell/win32/run_key_autostart.h"
#include "shell/win32/text.h"

#include <gtest/gtest.h>

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
    void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, m_key.c_str()); }

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

TEST_F(MciTest, FailuresCarryTheMediaLayersText)
{
    vlm::win32::MciSoundOutput player;
    const std::string missing = player.Play(File(L"missing.wav"));
    EXPECT_NE(missing, "");
    EXPECT_NE(missing, "Unknown error code");
    EXPECT_FALSE(player.IsPlaying());

    std::ofstream(m_dir / L"garbage.wav") << "not a sound";
    EXPECT_NE(player.Play(File(L"garbage.wav")), "");
    EXPECT_FALSE(player.IsPlaying());

    EXPECT_EQ(vlm::win32::MciSoundOutput::ErrorText(0x7FFF), "Unknown error code");
    player.Stop();
}

TEST_F(MciTest, PlaysStopsAndPlaysAgainFromTheStart)
{
    if (waveOutGetNumDevs() == 0)
        GTEST_SKIP() << "no sound device";
    WriteTone(m_dir / L"鐘.wav", 3000);
    vlm::win32::MciSoundOutput player;
    const std::string error = player.Play(File(L"鐘.wav"));
    ASSERT_EQ(error, "");
    EXPECT_TRUE(player.IsPlaying());
    player.Stop();
    EXPECT_FALSE(player.IsPlaying());
    EXPECT_EQ(player.Play(File(L"鐘.wav")), "");
    EXPECT_TRUE(player.IsPlaying());
    // Playing another file first closes the one open.
    WriteTone(m_dir / L"short.wav", 100);
    EXPECT_EQ(player.Play(File(L"short.wav")), "");
    const ULONGLONG start = GetTickCount64();
    while (player.IsPlaying() && GetTickCount64() - start < 5000)
        Sleep(20);
    // A sound that has ended is not playing; Stop then does nothing harmful.
    EXPECT_FALSE(player.IsPlaying());
    player.Stop();
}
