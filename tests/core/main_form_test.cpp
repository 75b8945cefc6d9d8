#include "core/main_form.h"

#include "core/autostart_store.h"
#include "core/sound_output.h"
#include "core/system.h"
#include "fake_settings_files.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <vector>
#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace vlm {
namespace {

// Records what the form asks of the window, in order.
class RecordingView final : public MainView {
public:
    std::vector<std::string> calls;
    bool tray = true;
    bool hidden = true;
    HourChecks checks {};
    int day = -1;

    void ShowWindow() override { Record("show"), hidden = false; }
    void HideWindow() override { Record("hide"), hidden = true; }
    void MinimizeWindow() override { Record("minimize"), hidden = false; }
    bool WindowHidden() const override { return hidden; }
    bool TrayAvailable() const override { return tray; }
    void DockTrayIcon() override { Record("dock"); }
    void SetClockText(const std::string& text) override { clock = text; }
    void SetSelectedDay(int d) override { day = d, Record("day " + std::to_string(d)); }
    void SetHourChecks(const HourChecks& c) override { checks = c; }
    void SetBellChoice(int choice) override { Record("bell " + std::to_string(choice)); }
    void SetAutostartChecked(bool checked) override { Record(checked ? "autostart on" : "autostart off"); }
    void ShowMessage(const std::string& text) override { Record("message " + text); }
    void StartTimer(int delayMs) override { Record("timer " + std::to_string(delayMs)); }
    void StopTimer() override { Record("timer stop"); }
    void EndProgram(const std::string& farewell) override { Record("end " + farewell); }
    void Log(LogTopic, const std::string& text) override { logs.push_back(text); }

    std::vector<std::string> logs;

    std::string clock;

private:
    void Record(std::string call) { calls.push_back(std::move(call)); }
};

class FakePlayer final : public SoundOutput {
public:
    std::vector<std::string>* log = nullptr;
    std::string failure;
    bool playing = false;
    std::string Play(const std::string& path) override
    {
        log->push_back("play " + path);
        playing = failure.empty();
        return failure;
    }
    bool IsPlaying() const override { return playing; }
    void Stop() override
    {
        log->push_back("stop");
        playing = false;
    }
};

class FakeAutostart final : public AutostartStore {
public:
    std::vector<std::string>* log = nullptr;
    std::string failure;
    // Whether the entry's place takes writes; when it doesn't, registering and unregistering change nothing.
    bool writable = true;
    bool registered = false;
    std::string RegisterAutostart(const std::string& dir) override
    {
        log->push_back("register " + dir);
        registered = registered || (writable && failure.empty());
        return failure;
    }
    void UnregisterAutostart(const std::string& dir) override
    {
        log->push_back("unregister " + dir);
        registered = registered && !writable;
    }
    bool IsRegistered(const std::string&) const override { return registered; }
};

// 2015-02-12, a Thursday, in a Beijing-time zone so the local weekday is the reference one.
std::int64_t Thu(int h, int m, int s)
{
    return test::ReferenceSecond(2015, 2, 12, h, m, s);
}

class MainFormTest : public testing::Test {
protected:
    MainFormTest()
    {
        m_player.log = &m_view.calls;
        m_autostart.log = &m_view.calls;
        m_time.SetUtcSecond(Thu(10, 0, 0), 5);
    }

    void WriteSettings(const Settings& settings) { ASSERT_TRUE(SaveSettings(Config(), settings)); }
    std::string Config() const { return m_dir.File(kSettingsFileName); }
    // The user's own folder (missing until a save makes it).
    std::string UserFolder() const { return m_dir.File("user"); }
    std::string UserConfig() const { return m_dir.File("user/vlm1.cfg"); }
    void Create()
    {
        FormServices services;
        services.Time = &m_time;
        services.Player = &m_player;
        services.Autostart = &m_autostart;
        services.DeleteLegacyFiles = [this] { m_view.calls.push_back("cleanup"); };
        services.Layout = m_layout;
        services.UserFolder = UserFolder();
        services.Files = m_files;
        m_form = std::make_unique<MainForm>(m_view, services);
        m_form->FormCreate(m_dir.File("VLM"));
    }
    void TickAt(std::int64_t second, int ms = 3)
    {
        m_time.SetUtcSecond(second, ms);
        m_form->Timer1Timer();
    }
    void Touch(const std::string& relative)
    {
        const auto path = std::filesystem::path(m_dir.Path()) / relative;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream(path) << "x";
    }

    test::ScopedTimeZone m_zone { "CST-8" };
    test::TempDir m_dir;
    test::FakeTimeSource m_time;
    RecordingView m_view;
    FakePlayer m_player;
    FakeAutostart m_autostart;
    std::unique_ptr<MainForm> m_form;
    SettingsLayout m_layout = SettingsLayout::Portable;
    SettingsFiles* m_files = nullptr;
};

TEST_F(MainFormTest, CreationSequenceInOrder)
{
    Settings settings;
    settings.BellChoice = 1;
    settings.Schedule[4][14] = 1;
    WriteSettings(settings);
    Create();
    // The tick runs before anything can show a box; the settings reach the controls; today's row; autostart last.
    EXPECT_EQ(m_view.calls,
        (std::vector<std::string> { "timer 1000", "bell 1", "autostart on", "day 4", "register " + m_dir.Path() }));
    EXPECT_EQ(m_view.clock, "2015-02-12 10:00:00");
    EXPECT_TRUE(m_view.checks[14]);
    EXPECT_EQ(m_form->ProgramDir(), m_dir.Path());
    EXPECT_EQ(std::filesystem::current_path(), std::filesystem::path(m_dir.Path()));
}

TEST_F(MainFormTest, StartWithoutSettingsOrWithAFailingAutostartSaysSoAndGoesOn)
{
    m_autostart.failure = kAutostartFailedText;
    Create();
    EXPECT_EQ(m_view.calls,
        (std::vector<std::string> { "timer 1000", "message \u3000開啟vlm1.cfg 錯誤!\u3000", "bell 0", "autostart on",
            "day 4", "register " + m_dir.Path(), "message Failed to set data for 'VLM'" }));
    EXPECT_FALSE(std::filesystem::exists(Config())) << "loading saves nothing";
}

TEST_F(MainFormTest, StaleSaveCopiesAreRemovedAtStart)
{
#ifdef _WIN32
    const std::string ownId = std::to_string(::GetCurrentProcessId());
#else
    const std::string ownId = std::to_string(::getpid());
#endif
    // An ended process's, one with this process's own id (an earlier process that had the same id: nothing has
    // been saved yet), and one in the user's folder.
    const std::vector<std::string> stale { "vlm1.cfg.saving-999999999-Ab12Cd", "vlm1.cfg.saving-" + ownId + "-Ab12Cd",
        "user/vlm1.cfg.saving-" + ownId + "-1" };
    for (const std::string& name : stale)
        Touch(name);
    Create();
    for (const std::string& name : stale)
        EXPECT_FALSE(std::filesystem::exists(test::FsPath(m_dir.File(name)))) << name;
}

// A program folder that can't be written: the settings go to the user's folder without a word, and stay there.
TEST_F(MainFormTest, SettingsMoveToTheUserFolderWhenTheProgramFolderRefuses)
{
    Settings settings;
    settings.BellChoice = 1;
    WriteSettings(settings);
    std::filesystem::permissions(Config(), std::filesystem::perms::owner_read);
    Create();
    m_view.calls.clear();
    m_form->RadioGroup1Click(0);
    EXPECT_EQ(m_view.calls, std::vector<std::string> {}) << "no message";
    EXPECT_EQ(m_form->Store().Path(), UserConfig());
    Settings saved;
    ASSERT_TRUE(LoadSettings(UserConfig(), saved));
    EXPECT_EQ(saved.BellChoice, 0);
    ASSERT_TRUE(LoadSettings(Config(), saved));
    EXPECT_EQ(saved.BellChoice, 1) << "the file beside the program stays";

    // The next start reads the user's file.
    m_view.calls.clear();
    Create();
    EXPECT_EQ(m_view.calls[1], "bell 0");
}

// Installed for every user: the user's own file only; one beside the program is neither read nor written.
TEST_F(MainFormTest, SystemLayoutKeepsTheSettingsInTheUserFolder)
{
    Settings settings;
    settings.BellChoice = 1;
    WriteSettings(settings);
    m_layout = SettingsLayout::System;
    Create();
    EXPECT_EQ(m_view.calls[1], "message \u3000開啟vlm1.cfg 錯誤!\u3000") << "a first start for this user";
    EXPECT_EQ(m_view.calls[2], "bell 0");
    m_view.calls.clear();
    m_form->RadioGroup1Click(1);
    EXPECT_EQ(m_view.calls, std::vector<std::string> {});
    Settings saved;
    ASSERT_TRUE(LoadSettings(UserConfig(), saved));
    EXPECT_EQ(saved.BellChoice, 1);
    m_form->RadioGroup1Click(0);
    ASSERT_TRUE(LoadSettings(Config(), saved));
    EXPECT_EQ(saved.BellChoice, 1) << "the program's folder is never written";
}

// A settings file held open by another program at start: the load message, then the file is applied once the
// other program lets go, controls, today's row and autostart included.
TEST_F(MainFormTest, UnreadSettingsAreAppliedAtTheTickOnceReadable)
{
    test::FakeFiles files;
    files.folders[m_dir.Path()] = {};
    Settings settings;
    settings.BellChoice = 1;
    settings.Schedule[4][14] = 1;
    settings.AutostartFlag = false;
    const SettingsBytes bytes = EncodeSettings(settings);
    test::FakeFile held { { bytes.begin(), bytes.end() } };
    held.inUse = true;
    files.files[Config()] = held;
    m_files = &files;
    Create();
    EXPECT_EQ(m_view.calls,
        (std::vector<std::string> { "timer 1000", "message \u3000開啟vlm1.cfg 錯誤!\u3000", "bell 0", "autostart on",
            "day 4", "register " + m_dir.Path() }));
    TickAt(Thu(10, 0, 1));
    EXPECT_FALSE(m_view.checks[14]);

    files.files[Config()].inUse = false;
    m_view.calls.clear();
    TickAt(Thu(10, 0, 2));
    EXPECT_EQ(m_view.calls,
        (std::vector<std::string> {
            "timer stop", "bell 1", "autostart off", "day 4", "unregister " + m_dir.Path(), "timer 1000" }));
    EXPECT_TRUE(m_view.checks[14]);
    EXPECT_FALSE(m_form->Store().Unread());
}

// The user's own sounds, where there are any, ring instead of the program's.
TEST_F(MainFormTest, TheUsersOwnBellRingsInstead)
{
    WriteSettings({});
    Touch("bell1.wav");
    Create();
    TickAt(Thu(10, 0, 1));
    m_form->BitBtn1Click();
    m_view.calls.clear();
    TickAt(Thu(10, 0, 3));
    const auto played = [this](const std::string& path) {
        return std::find(m_view.calls.begin(), m_view.calls.end(), "play " + path) != m_view.calls.end();
    };
    EXPECT_TRUE(played(m_dir.File("bell1.wav")));

    Touch("user/bell1.wav");
    m_form->BitBtn1Click();
    m_view.calls.clear();
    TickAt(Thu(10, 0, 5));
    EXPECT_TRUE(played(m_dir.File("user/bell1.wav")));
}

TEST_F(MainFormTest, FirstTickHidesAndCleansUpOnceEveryTickReArms)
{
    WriteSettings({});
    Create();
    m_view.calls.clear();
    TickAt(Thu(10, 0, 1), 4);
    EXPECT_EQ(m_view.calls, (std::vector<std::string> { "timer stop", "hide", "cleanup", "timer 999" }));
    m_view.calls.clear();
    TickAt(Thu(10, 0, 2), 998);
    EXPECT_EQ(m_view.calls, (std::vector<std::string> { "timer stop", "timer 5" }));
    EXPECT_EQ(m_view.clock, "2015-02-12 10:00:02");
}

// What the window does once a box of a first start is closed, in the order of the calls on it.
std::vector<std::string> WindowCalls(const std::vector<std::string>& calls)
{
    std::vector<std::string> window;
    for (const std::string& call : calls)
        if (call == "show" || call == "hide" || call == "minimize")
            window.push_back(call);
    return window;
}

struct StartBoxCase {
    const char* name;
    bool settingsFile;
    bool autostartFails;
    // The texts of the boxes as the user closes them, and what the window does after each.
    std::vector<std::string> closed;
    std::vector<std::vector<std::string>> windowAfter;
};

void PrintTo(const StartBoxCase& row, std::ostream* out)
{
    *out << row.name;
}

class StartBoxes : public MainFormTest, public testing::WithParamInterface<StartBoxCase> { };

// The first tick hides the window behind a box that start-up opened; once the user has closed the last such box
// the window is shown and stays up.
TEST_P(StartBoxes, WindowComesBackWhenTheLastIsClosed)
{
    const StartBoxCase& row = GetParam();
    if (row.settingsFile)
        WriteSettings({});
    if (row.autostartFails)
        m_autostart.failure = kAutostartFailedText;
    Create();
    m_view.calls.clear();
    TickAt(Thu(10, 0, 1));
    EXPECT_EQ(WindowCalls(m_view.calls), std::vector<std::string> { "hide" });
    for (std::size_t i = 0; i < row.closed.size(); ++i) {
        m_view.calls.clear();
        m_form->MessageClosed(row.closed[i]);
        EXPECT_EQ(WindowCalls(m_view.calls), row.windowAfter[i]) << row.closed[i];
    }
    EXPECT_FALSE(m_view.hidden);
    m_view.calls.clear();
    for (int s = 2; s < 5; ++s)
        TickAt(Thu(10, 0, s));
    EXPECT_EQ(WindowCalls(m_view.calls), std::vector<std::string> {}) << "later ticks leave the window up";

    // The same texts again later (the autostart box opened by the check box, say) change nothing.
    m_form->ShowMainWindow(false);
    m_view.calls.clear();
    for (const std::string& text : row.closed)
        m_form->MessageClosed(text);
    EXPECT_EQ(WindowCalls(m_view.calls), std::vector<std::string> {});
}

INSTANTIATE_TEST_SUITE_P(FirstStart, StartBoxes,
    testing::Values(StartBoxCase { "LoadMessage", false, false, { kLoadErrorText }, { { "show" } } },
        StartBoxCase { "AutostartFailure", true, true, { kAutostartFailedText }, { { "show" } } },
        StartBoxCase { "BothBoxes", false, true, { kAutostartFailedText, kLoadErrorText }, { {}, { "show" } } },
        StartBoxCase { "OtherTextsFirst", false, false, { "Format not recognised.", kSaveErrorText, kLoadErrorText },
            { {}, {}, { "show" } } }),
    [](const auto& info) { return std::string(info.param.name); });

// A box closed before the first tick: the window hides as on any start, and nothing brings it back later.
TEST_F(MainFormTest, StartBoxClosedBeforeTheFirstTickLeavesTheRuleAlone)
{
    Create();
    m_form->MessageClosed(kLoadErrorText);
    m_view.calls.clear();
    TickAt(Thu(10, 0, 1));
    m_form->MessageClosed(kLoadErrorText);
    EXPECT_EQ(WindowCalls(m_view.calls), std::vector<std::string> { "hide" });
    EXPECT_TRUE(m_view.hidden);
}

// Boxes opened after start-up (a failed save, a failed cue) change nothing about the window when closed.
TEST_F(MainFormTest, LaterBoxesLeaveTheWindowAlone)
{
    WriteSettings({});
    Create();
    Touch("bell1.wav");
    TickAt(Thu(10, 0, 1));
    // Neither beside the program nor in the user's folder (a file stands where it would be made).
    std::filesystem::permissions(Config(), std::filesystem::perms::owner_read);
    std::ofstream(UserFolder()) << "not a folder";
    HourChecks checks {};
    m_form->CheckListBox1Click(4, checks);
    m_player.failure = "Format not recognised.";
    m_form->BitBtn1Click();
    TickAt(Thu(10, 0, 3));
    for (const std::string& shown :
        { std::string("message ") + kSaveErrorText, std::string("message Format not recognised.") })
        EXPECT_NE(std::find(m_view.calls.begin(), m_view.calls.end(), shown), m_view.calls.end()) << shown;
    m_form->ShowMainWindow(false);
    m_view.calls.clear();
    m_form->MessageClosed(kSaveErrorText);
    m_form->MessageClosed("Format not recognised.");
    EXPECT_EQ(m_view.calls, std::vector<std::string> {});
    EXPECT_TRUE(m_view.hidden);
}

struct DelayCase {
    const char* name;
    int msIntoSecond;
    int delay;
};

class NextTickDelay : public testing::TestWithParam<DelayCase> { };

// Ticks are aimed just past each full second, so the clock read there is the new second.
TEST_P(NextTickDelay, AimsJustPastTheNextSecond)
{
    const auto now = std::chrono::system_clock::time_point { std::chrono::seconds { Thu(10, 0, 0) }
        + std::chrono::milliseconds { GetParam().msIntoSecond } };
    EXPECT_EQ(MainForm::NextTickDelay(now), GetParam().delay);
}

INSTANTIATE_TEST_SUITE_P(Delays, NextTickDelay,
    testing::Values(DelayCase { "OnTheSecond", 0, 1003 }, DelayCase { "JustAfter", 4, 999 },
        DelayCase { "MidSecond", 500, 503 }, DelayCase { "Late", 999, 4 }),
    [](const auto& info) { return std::string(info.param.name); });

// Rotation and save, file test, show, stop, open and play; a failed open is shown and counts as played.
TEST_F(MainFormTest, PlayCueInOrder)
{
    WriteSettings({});
    Create();
    Touch("bell1.wav");
    TickAt(Thu(10, 0, 1));
    m_player.playing = true;
    m_view.calls.clear();
    m_form->BitBtn1Click();
    EXPECT_EQ(m_view.calls, (std::vector<std::string> { "stop" }));
    TickAt(Thu(10, 0, 3));
    const std::string bell = m_dir.File("bell1.wav");
    EXPECT_EQ(m_view.calls,
        (std::vector<std::string> { "stop", "timer stop", "show", "play " + bell, "show", "timer 1000" }));
    EXPECT_EQ(m_form->Store().Values().RotationCounter, 1);

    m_player.failure = "Format not recognised.";
    m_view.calls.clear();
    TickAt(Thu(10, 5, 3));
    EXPECT_EQ(m_view.calls,
        (std::vector<std::string> {
            "timer stop", "show", "stop", "play " + bell, "message Format not recognised.", "show", "timer 1000" }));
    EXPECT_EQ(m_form->Reminders().CueTable()[1].Done, 1);

    // A missing file: nothing shown, nothing played, the cue done all the same.
    std::filesystem::remove(bell);
    m_view.calls.clear();
    TickAt(Thu(10, 10, 3));
    EXPECT_EQ(m_view.calls, (std::vector<std::string> { "timer stop", "show", "timer 1000" }));
    EXPECT_EQ(m_form->Reminders().CueTable()[2].Done, 1);
}

TEST(DayOfSelectorText, NamesOfTheItemsOnly)
{
    EXPECT_EQ(MainForm::DayOfSelectorText("星期日"), 0);
    EXPECT_EQ(MainForm::DayOfSelectorText("星期六"), 6);
    EXPECT_EQ(MainForm::DayOfSelectorText("每一天"), 7);
    EXPECT_EQ(MainForm::DayOfSelectorText("星期八"), -1);
    EXPECT_EQ(MainForm::DayOfSelectorText("星期"), -1);
    EXPECT_EQ(MainForm::DayOfSelectorText(""), -1);
}

TEST_F(MainFormTest, HourListWritesTheSelectedRowOrEveryRow)
{
    Settings settings;
    settings.Schedule[4][14] = 1;
    settings.Schedule[2][3] = 2;
    WriteSettings(settings);
    Create();
    HourChecks checks {};
    checks[5] = checks[17] = true;

    m_form->CheckListBox1Click(-1, checks);
    EXPECT_EQ(m_form->Store().Values().Schedule, settings.Schedule) << "a day that names no row touches none";

    m_form->CheckListBox1Click(3, checks);
    Settings saved;
    ASSERT_TRUE(LoadSettings(Config(), saved));
    EXPECT_EQ(saved.Schedule[3][5], 1);
    EXPECT_EQ(saved.Schedule[2][3], 2) << "other rows go back out as read";

    m_form->CheckListBox1Click(7, checks);
    ASSERT_TRUE(LoadSettings(Config(), saved));
    for (int d = 0; d < 7; ++d)
        for (int h = 0; h < 24; ++h)
            EXPECT_EQ(saved.Schedule[d][h], (h == 5 || h == 17) ? 1 : 0);

    // "Every day" keeps showing what the list showed; a day shows its row.
    m_view.checks = {};
    m_form->ComboBox2Change(7);
    EXPECT_FALSE(m_view.checks[5]);
    m_form->ComboBox2Change(1);
    EXPECT_TRUE(m_view.checks[5]);
}

TEST_F(MainFormTest, AutostartBoxFollowsTheEntryAtOnce)
{
    Settings settings;
    settings.AutostartFlag = false;
    WriteSettings(settings);
    Create();
    m_view.calls.clear();
    m_form->CheckBox1Click(true);
    m_form->CheckBox1Click(false);
    EXPECT_EQ(m_view.calls, (std::vector<std::string> { "register " + m_dir.Path(), "unregister " + m_dir.Path() }));
    Settings saved;
    ASSERT_TRUE(LoadSettings(Config(), saved));
    EXPECT_FALSE(saved.AutostartFlag);
}

// What the log says about the start-at-logon entry after the box is ticked or cleared, for an entry whose place
// takes writes, refuses them without a word (a read-only Run key), or fails the write with a text to show.
struct AutostartLogCase {
    const char* name;
    bool writable;
    const char* failure;
    bool registeredBefore;
    bool tick;
    const char* log; // with <dir> for the program folder
    bool message;
};

class AutostartLog : public MainFormTest, public testing::WithParamInterface<AutostartLogCase> {};

TEST_P(AutostartLog, SaysWhatBecameOfTheEntry)
{
    const AutostartLogCase& c = GetParam();
    Settings settings;
    settings.AutostartFlag = false;
    WriteSettings(settings);
    Create();
    m_autostart.writable = c.writable;
    m_autostart.failure = c.failure;
    m_autostart.registered = c.registeredBefore;
    m_view.calls.clear();
    m_view.logs.clear();
    m_form->CheckBox1Click(c.tick);

    std::string expected = c.log;
    expected.replace(expected.find("<dir>"), 5, m_dir.Path());
    std::vector<std::string> said;
    for (const std::string& line : m_view.logs)
        if (line.find("registered") != std::string::npos)
            said.push_back(line);
    EXPECT_EQ(said, std::vector<std::string> { expected });
    const bool shown = std::find(m_view.calls.begin(), m_view.calls.end(), std::string("message ") + c.failure)
        != m_view.calls.end();
    EXPECT_EQ(shown, c.message);
}

INSTANTIATE_TEST_SUITE_P(Entries, AutostartLog,
    testing::Values(AutostartLogCase { "Written", true, "", false, true, "registered <dir>", false },
        AutostartLogCase { "ReadOnlyPlace", false, "", false, true, "not registered, the entry was not written: <dir>",
            false },
        AutostartLogCase { "WriteFails", true, kAutostartFailedText, false, true,
            "not registered, the entry was not written: <dir>: Failed to set data for 'VLM'", true },
        AutostartLogCase { "Removed", true, "", true, false, "unregistered <dir>", false },
        AutostartLogCase { "ReadOnlyPlaceKeepsIt", false, "", true, false,
            "not unregistered, the entry was not removed: <dir>", false }),
    [](const testing::TestParamInfo<AutostartLogCase>& info) { return std::string(info.param.name); });

TEST_F(MainFormTest, ExitAndSessionEnd)
{
    WriteSettings({});
    Create();
    m_view.calls.clear();
    m_form->N3Click();
    EXPECT_EQ(m_view.calls, (std::vector<std::string> { "end " }));

    // The exit command with a failing save says so before ending; the session's end waits for nobody. (Neither
    // place can be written: the user's folder can't be made where a file is in the way.)
    std::filesystem::permissions(Config(), std::filesystem::perms::owner_read);
    Touch("user");
    m_view.calls.clear();
    m_form->N3Click();
    EXPECT_EQ(m_view.calls, (std::vector<std::string> { "end  更改設定存檔錯誤 " }));
    m_view.calls.clear();
    EXPECT_FALSE(m_form->EndSession());
    EXPECT_EQ(m_view.calls, (std::vector<std::string> { "end " }));
    EXPECT_FALSE(m_form->CommitData());
    EXPECT_EQ(m_view.calls.size(), 1u) << "nothing shown";
}

// Without a notification area a hidden window could never come back: it goes to the taskbar instead.
TEST_F(MainFormTest, WithoutANotificationAreaTheWindowMinimises)
{
    WriteSettings({});
    m_view.tray = false;
    Create();
    m_view.calls.clear();
    TickAt(Thu(10, 0, 1));
    EXPECT_EQ(m_view.calls[1], "minimize");

    // The area appears: the icon docks and hiding hides again; it goes away while hidden: back to the taskbar.
    m_view.tray = true;
    m_view.calls.clear();
    TickAt(Thu(10, 0, 2));
    EXPECT_EQ(m_view.calls[1], "dock");
    m_form->ShowMainWindow(false);
    EXPECT_EQ(m_view.calls.back(), "hide");
    m_view.tray = false;
    m_view.calls.clear();
    TickAt(Thu(10, 0, 3));
    EXPECT_EQ(m_view.calls[1], "minimize");
}

} // namespace
} // namespace vlm
