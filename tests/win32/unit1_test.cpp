#include "shell/win32/Unit1.h"

#include "core/autostart_store.h"
#include "core/settings.h"
#include "core/sound_output.h"
#include "core/sounds.h"
#include "core/system.h"
#include "shell/win32/message_window.h"
#include "shell/win32/single_instance.h"
#include "shell/win32/text.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace fs = std::filesystem;
namespace form = vlm::form;
using vlm::win32::Narrow;
using vlm::win32::Widen;

namespace {

class FakeTime final : public vlm::TimeSource {
public:
    std::chrono::system_clock::time_point now {};
    std::chrono::system_clock::time_point Now() const override { return now; }
};

class FakePlayer final : public vlm::SoundOutput {
public:
    std::vector<std::string> calls;
    bool playing = false;
    std::string failure;
    std::string Play(const std::string& path) override
    {
        calls.push_back("play " + path);
        playing = failure.empty();
        return failure;
    }
    bool IsPlaying() const override { return playing; }
    void Stop() override
    {
        calls.push_back("stop");
        playing = false;
    }
};

class FakeAutostart final : public vlm::AutostartStore {
public:
    std::vector<std::string> calls;
    std::string failure;
    std::string RegisterAutostart(const std::string& programDir) override
    {
        calls.push_back("register " + programDir);
        return failure;
    }
    void UnregisterAutostart(const std::string& programDir) override { calls.push_back("unregister " + programDir); }
    bool IsRegistered(const std::string&) const override { return false; }
};

// UTC second at which the reference clock (UTC+8) shows 2015-02-12 (a Thursday) at h:m:s.
std::int64_t Thu(int h, int m, int s)
{
    using namespace std::chrono;
    const sys_days date = year_month_day { year { 2015 }, month { 2 }, day { 12 } };
    return duration_cast<seconds>(date.time_since_epoch()).count() + h * 3600 + m * 60 + s
        - vlm::kReferenceOffsetSeconds;
}

// Runs what is queued for this thread's windows, leaving the real tick out: the tests give the ticks themselves.
void Pump()
{
    MSG message {};
    while (PeekMessageW(&message, nullptr, 0, TForm1::kTickMessage - 1, PM_REMOVE)
        || PeekMessageW(&message, nullptr, TForm1::kTickMessage + 1, 0xFFFFFFFF, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

std::wstring WindowText(HWND window)
{
    std::vector<wchar_t> text(static_cast<std::size_t>(GetWindowTextLengthW(window)) + 1, L'\0');
    GetWindowTextW(window, text.data(), static_cast<int>(text.size()));
    return text.data();
}

std::wstring ClassName(HWND window)
{
    wchar_t name[64] {};
    GetClassNameW(window, name, 64);
    return name;
}

// Where a control sits in its top-level window's client area.
RECT ClientRect(HWND control)
{
    RECT rect {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetAncestor(control, GA_ROOT), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

LOGFONTW FontOf(HWND control)
{
    LOGFONTW font {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)), sizeof(font), &font);
    return font;
}

BOOL CALLBACK AddMessageWindow(HWND window, LPARAM list)
{
    if (ClassName(window) == vlm::win32::MessageWindow::kWindowClass && IsWindowVisible(window))
        reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

// Every box of this thread that is open.
std::vector<HWND> OpenMessages()
{
    std::vector<HWND> boxes;
    EnumThreadWindows(GetCurrentThreadId(), &AddMessageWindow, reinterpret_cast<LPARAM>(&boxes));
    return boxes;
}

std::vector<int> TickedHours(const std::array<std::int32_t, vlm::kHourCount>& row)
{
    std::vector<int> hours;
    for (int h = 0; h < vlm::kHourCount; ++h)
        if (row[h] == 1)
            hours.push_back(h);
    return hours;
}

} // namespace

class Unit1Test : public ::testing::Test {
protected:
    void SetUp() override
    {
        // A folder named in Chinese: paths go through the wide APIs whole.
        m_dir = fs::temp_directory_path() / (L"vlm-測試-" + std::to_wstring(GetCurrentProcessId()));
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
        fs::create_directories(m_dir);
        At(Thu(10, 0, 0));
    }
    void TearDown() override
    {
        m_form.reset();
        // The form made the program folder the current one.
        SetCurrentDirectoryW(fs::temp_directory_path().c_str());
        for (HWND box : OpenMessages())
            DestroyWindow(box);
        Pump();
        SetFileAttributesW(ConfigPath().c_str(), FILE_ATTRIBUTE_NORMAL);
        std::error_code ignored;
        fs::remove_all(m_dir, ignored);
    }

    // A program folder with a settings file (Thursday 14:00 ticked, autostart off) unless told otherwise.
    void Create(bool writeSettings = true)
    {
        if (writeSettings) {
            vlm::Settings settings;
            settings.Schedule[4][14] = 1;
            settings.AutostartFlag = false;
            ASSERT_TRUE(vlm::SaveSettings(Narrow(ConfigPath().wstring()), settings));
        }
        TForm1Services services;
        services.form.Time = &m_time;
        services.form.Player = &m_player;
        services.form.Autostart = &m_autostart;
        services.form.DeleteLegacyFiles = [this] { ++m_cleanups; };
        services.trayAvailable = [this] { return m_tray; };
        services.exitRequested = [this] { ++m_exits; };
        services.executablePath = (m_dir / L"VLM.exe").wstring();
        // No folder of the user's own: the settings stay beside the program, whatever this machine's user has.
        services.form.UserFolder = std::string();
        m_form = std::make_unique<TForm1>(std::move(services));
        m_form->FormCreate();
        m_form->Show();
        Pump();
    }

    void At(std::int64_t utcSecond, int ms = 5)
    {
        m_time.now = std::chrono::system_clock::time_point { std::chrono::seconds { utcSecond }
            + std::chrono::milliseconds { ms } };
    }
    void TickAt(std::int64_t utcSecond)
    {
        At(utcSecond);
        m_form->Timer1Timer();
        Pump();
    }

    HWND Control(TForm1::Id id) const { return m_form->Control(id); }
    fs::path ConfigPath() const { return m_dir / L"vlm1.cfg"; }
    std::string Dir() const { return Narrow(m_dir.wstring()); }
    vlm::Settings Saved() const
    {
        vlm::Settings saved;
        EXPECT_TRUE(vlm::LoadSettings(Narrow(ConfigPath().wstring()), saved));
        return saved;
    }
    void MakeSettingsReadOnly() const { SetFileAttributesW(ConfigPath().c_str(), FILE_ATTRIBUTE_READONLY); }
    void Touch(const fs::path& file) const
    {
        fs::create_directories(file.parent_path());
        std::ofstream(file) << "x";
    }

    void Click(TForm1::Id id)
    {
        SendMessageW(Control(id), BM_CLICK, 0, 0);
        Pump();
    }
    // A mouse click on hour item `hour`, on its check box or on its text.
    void ClickHour(int hour, bool onBox)
    {
        HWND list = Control(TForm1::kCheckListBox1);
        RECT item {};
        SendMessageW(list, LB_GETITEMRECT, hour, reinterpret_cast<LPARAM>(&item));
        const LPARAM at = MAKELPARAM(item.left + (onBox ? 6 : 40), (item.top + item.bottom) / 2);
        SendMessageW(list, WM_LBUTTONDOWN, MK_LBUTTON, at);
        SendMessageW(list, WM_LBUTTONUP, 0, at);
        Pump();
    }
    void PressSpaceOnHour(int hour)
    {
        HWND list = Control(TForm1::kCheckListBox1);
        SendMessageW(list, LB_SETCARETINDEX, hour, FALSE);
        SendMessageW(list, WM_KEYDOWN, VK_SPACE, 0);
        SendMessageW(list, WM_CHAR, L' ', 0);
        SendMessageW(list, WM_KEYUP, VK_SPACE, 0);
        Pump();
    }
    // The user picks item `day` from the selector's list.
    void PickDay(int day)
    {
        HWND combo = Control(TForm1::kComboBox2);
        SendMessageW(combo, CB_SETCURSEL, day, 0);
        SendMessageW(m_form->Handle(), WM_COMMAND, MAKEWPARAM(TForm1::kComboBox2, CBN_SELCHANGE),
            reinterpret_cast<LPARAM>(combo));
        Pump();
    }
    // The user replaces the selector's text by typing.
    void TypeDay(const std::wstring& text)
    {
        HWND edit = FindWindowExW(Control(TForm1::kComboBox2), nullptr, L"Edit", nullptr);
        ASSERT_NE(edit, nullptr);
        SendMessageW(edit, EM_SETSEL, 0, -1);
        for (const wchar_t c : text)
            SendMessageW(edit, WM_CHAR, c, 0);
        Pump();
    }
    vlm::HourChecks ShownChecks() const
    {
        vlm::HourChecks checks {};
        for (int h = 0; h < vlm::kHourCount; ++h)
            checks[h] = SendMessageW(Control(TForm1::kCheckListBox1), LB_GETITEMDATA, h, 0) != 0;
        return checks;
    }
    std::vector<int> ShownHours() const
    {
        std::vector<int> hours;
        const vlm::HourChecks checks = ShownChecks();
        for (int h = 0; h < vlm::kHourCount; ++h)
            if (checks[h])
                hours.push_back(h);
        return hours;
    }
    bool Visible() const { return IsWindowVisible(m_form->Handle()) != FALSE; }

    fs::path m_dir;
    FakeTime m_time;
    FakePlayer m_player;
    FakeAutostart m_autostart;
    bool m_tray = true;
    int m_cleanups = 0;
    int m_exits = 0;
    std::unique_ptr<TForm1> m_form;
};

TEST_F(Unit1Test, WindowAsDefined)
{
    Create();
    HWND window = m_form->Handle();
    EXPECT_EQ(WindowText(window), Widen(form::kCaption));
    RECT client {};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, form::kClientWidth);
    EXPECT_EQ(client.bottom, form::kClientHeight);
    // A single fixed border with the system menu and its close box only.
    const auto style = static_cast<DWORD>(GetWindowLongPtrW(window, GWL_STYLE));
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), DWORD(WS_CAPTION | WS_SYSMENU));
    EXPECT_EQ(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX), 0u);
    EXPECT_TRUE(Visible());

    // The green form; group boxes and what they hold in the button face.
    HDC dc = GetDC(window);
    const auto brushColour = [&](TForm1::Id id) {
        LOGBRUSH brush {};
        const auto handle = reinterpret_cast<HBRUSH>(SendMessageW(
            window, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(Control(id))));
        GetObjectW(handle, sizeof(brush), &brush);
        return brush.lbColor;
    };
    EXPECT_EQ(brushColour(TForm1::kCheckBox1), RGB(192, 220, 192));
    EXPECT_EQ(brushColour(TForm1::kRadioGroup1Item0), GetSysColor(COLOR_BTNFACE));
    EXPECT_EQ(brushColour(TForm1::kPanel1), GetSysColor(COLOR_BTNFACE));
    ReleaseDC(window, dc);
    EXPECT_NE(WindowText(Control(TForm1::kPanel1)), L"");
}

// Centred on the whole screen, not on the part a taskbar leaves free.
TEST_F(Unit1Test, CentredOnTheWholeScreen)
{
    MONITORINFO monitor {};
    monitor.cbSize = sizeof(monitor);
    ASSERT_TRUE(GetMonitorInfoW(MonitorFromPoint(POINT { 0, 0 }, MONITOR_DEFAULTTOPRIMARY), &monitor));
    RECT workArea {};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &workArea, 0);
    RECT taskbarKept = monitor.rcMonitor;
    taskbarKept.bottom -= 120;
    ASSERT_TRUE(SystemParametersInfoW(SPI_SETWORKAREA, 0, &taskbarKept, 0));
    Create();
    SystemParametersInfoW(SPI_SETWORKAREA, 0, &workArea, 0);

    RECT frame {};
    GetWindowRect(m_form->Handle(), &frame);
    const RECT& screen = monitor.rcMonitor;
    EXPECT_NEAR((frame.left + frame.right) / 2, (screen.left + screen.right) / 2, 1);
    EXPECT_NEAR((frame.top + frame.bottom) / 2, (screen.top + screen.bottom) / 2, 1);
}

struct ControlRow {
    const char* name;
    TForm1::Id id;
    const wchar_t* className;
    const char* text;
    form::Rect rect; // in the client area
    form::Font font;
    int heightSlack = 0; // the closed combo box is never lower than its font allows, which differs by system
};

class ControlGeometry : public Unit1Test, public ::testing::WithParamInterface<ControlRow> { };

TEST_P(ControlGeometry, AsDefined)
{
    Create();
    const ControlRow& row = GetParam();
    HWND control = Control(row.id);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(ClassName(control), row.className);
    if (row.text) {
        EXPECT_EQ(WindowText(control), Widen(row.text));
    }
    const RECT rect = ClientRect(control);
    EXPECT_EQ(rect.left, row.rect.Left);
    EXPECT_EQ(rect.top, row.rect.Top);
    EXPECT_EQ(rect.right - rect.left, row.rect.Width);
    EXPECT_GE(rect.bottom - rect.top, row.rect.Height);
    EXPECT_LE(rect.bottom - rect.top, row.rect.Height + row.heightSlack);
    const LOGFONTW font = FontOf(control);
    EXPECT_EQ(font.lfHeight, -row.font.PixelHeight);
    EXPECT_EQ(std::wstring(font.lfFaceName), Widen(row.font.Family));
}

const form::Rect kPanelInClient { form::kGroupBox3.Left + form::kPanel1.Left, form::kGroupBox3.Top + form::kPanel1.Top,
    form::kPanel1.Width, form::kPanel1.Height };

INSTANTIATE_TEST_SUITE_P(Controls, ControlGeometry,
    ::testing::Values(ControlRow { "ComboBox2", TForm1::kComboBox2, L"ComboBox", "星期四", form::kComboBox2,
                          form::kComboBox2Font, 2 },
        ControlRow { "CheckListBox1", TForm1::kCheckListBox1, L"ListBox", nullptr, form::kCheckListBox1,
            form::kCheckListBox1Font },
        ControlRow {
            "GroupBox3", TForm1::kGroupBox3, L"Button", form::kGroupBox3Caption, form::kGroupBox3, form::kFormFont },
        ControlRow { "Panel1", TForm1::kPanel1, L"Static", nullptr, kPanelInClient, form::kPanel1Font },
        ControlRow { "RadioGroup1", TForm1::kRadioGroup1, L"Button", form::kRadioGroup1Caption, form::kRadioGroup1,
            form::kFormFont },
        ControlRow { "RadioGroup1Item0", TForm1::kRadioGroup1Item0, L"Button", form::kBellItems[0],
            { 185, 120, 78, 24 }, form::kFormFont },
        ControlRow { "RadioGroup1Item1", TForm1::kRadioGroup1Item1, L"Button", form::kBellItems[1],
            { 265, 120, 78, 24 }, form::kFormFont },
        ControlRow {
            "CheckBox1", TForm1::kCheckBox1, L"Button", form::kCheckBox1Caption, form::kCheckBox1, form::kFormFont },
        ControlRow {
            "BitBtn1", TForm1::kBitBtn1, L"Button", form::kBitBtn1Caption, form::kBitBtn1, form::kBitBtn1Font }),
    [](const ::testing::TestParamInfo<ControlRow>& info) { return std::string(info.param.name); });

TEST_F(Unit1Test, TabOrderAndHourList)
{
    Create();
    HWND window = m_form->Handle();
    std::vector<HWND> order { Control(TForm1::kRadioGroup1Item0) };
    for (int i = 0; i < 5; ++i)
        order.push_back(GetNextDlgTabItem(window, order.back(), FALSE));
    EXPECT_EQ(order,
        (std::vector<HWND> { Control(TForm1::kRadioGroup1Item0), Control(TForm1::kBitBtn1), Control(TForm1::kComboBox2),
            Control(TForm1::kCheckListBox1), Control(TForm1::kCheckBox1), Control(TForm1::kRadioGroup1Item0) }));

    // Two columns of twelve, all in view: 00:55 to 11:55, then 12:55 to 23:55.
    HWND list = Control(TForm1::kCheckListBox1);
    ASSERT_EQ(SendMessageW(list, LB_GETCOUNT, 0, 0), vlm::kHourCount);
    RECT client {};
    GetClientRect(list, &client);
    for (int h = 0; h < vlm::kHourCount; ++h) {
        wchar_t text[16] {};
        SendMessageW(list, LB_GETTEXT, h, reinterpret_cast<LPARAM>(text));
        EXPECT_EQ(Narrow(text), form::HourItemText(h));
        RECT item {};
        SendMessageW(list, LB_GETITEMRECT, h, reinterpret_cast<LPARAM>(&item));
        EXPECT_EQ(item.left > client.right / 2 - 2, h >= 12) << h;
        EXPECT_LE(item.bottom, client.bottom) << h;
    }
}

TEST_F(Unit1Test, StartLoadsSettingsIntoControlsWithoutSaving)
{
    vlm::Settings settings;
    settings.Schedule[4] = {};
    settings.Schedule[4][7] = 1;
    settings.Schedule[4][14] = 1;
    settings.Schedule[2][3] = 1;
    settings.BellChoice = 1;
    settings.AutostartFlag = true;
    ASSERT_TRUE(vlm::SaveSettings(Narrow(ConfigPath().wstring()), settings));
    // Any save from here on would fail and say so.
    MakeSettingsReadOnly();
    Create(false);

    EXPECT_EQ(WindowText(Control(TForm1::kComboBox2)), L"星期四");
    EXPECT_EQ(ShownHours(), (std::vector<int> { 7, 14 }));
    EXPECT_EQ(SendMessageW(Control(TForm1::kRadioGroup1Item1), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(SendMessageW(Control(TForm1::kRadioGroup1Item0), BM_GETCHECK, 0, 0), BST_UNCHECKED);
    EXPECT_EQ(SendMessageW(Control(TForm1::kCheckBox1), BM_GETCHECK, 0, 0), BST_CHECKED);
    EXPECT_EQ(m_autostart.calls, std::vector<std::string> { "register " + Dir() });

    // Controls set from code run no handler.
    m_form->Form().ShowDaySchedule(2);
    m_form->Form().SelectToday();
    Pump();
    EXPECT_EQ(ShownHours(), (std::vector<int> { 7, 14 }));
    EXPECT_TRUE(OpenMessages().empty());
}

TEST_F(Unit1Test, StartWithoutSettingsFileSaysSoAndTicks)
{
    Create(false);
    const std::vector<HWND> boxes = OpenMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(vlm::win32::MessageWindow::Text(boxes[0]), Widen(vlm::kLoadErrorText));
    EXPECT_EQ(GetWindow(boxes[0], GW_OWNER), m_form->Handle());
    EXPECT_EQ(WindowText(boxes[0]), Widen(form::kCaption));
    // The default settings: autostart on.
    EXPECT_EQ(m_autostart.calls, std::vector<std::string> { "register " + Dir() });
    TickAt(Thu(10, 0, 1));
    EXPECT_EQ(OpenMessages().size(), 1u);
    EXPECT_FALSE(Visible());
    EXPECT_EQ(m_cleanups, 1);

    // Once the user has closed the box the window is there, and the ticks leave it up.
    SendMessageW(boxes[0], WM_COMMAND, IDOK, 0);
    Pump();
    EXPECT_TRUE(OpenMessages().empty());
    EXPECT_TRUE(Visible());
    TickAt(Thu(10, 0, 2));
    TickAt(Thu(10, 0, 3));
    EXPECT_TRUE(Visible());
    EXPECT_EQ(m_cleanups, 1);
}

enum class HourAction { BoxClick, TextClick, SpaceBar };

struct HourRow {
    const char* name;
    HourAction action;
    int hour;
    std::vector<int> thursday; // the row saved
};

class HourListEdits : public Unit1Test, public ::testing::WithParamInterface<HourRow> { };

// Every edit in the list saves the row as shown; the file is removed first, so it is there only if it was saved.
TEST_P(HourListEdits, SaveTheSelectedDay)
{
    Create();
    fs::remove(ConfigPath());
    const HourRow& row = GetParam();
    switch (row.action) {
    case HourAction::BoxClick:
        ClickHour(row.hour, true);
        break;
    case HourAction::TextClick:
        ClickHour(row.hour, false);
        break;
    case HourAction::SpaceBar:
        PressSpaceOnHour(row.hour);
        break;
    }
    EXPECT_EQ(ShownHours(), row.thursday);
    ASSERT_TRUE(fs::exists(ConfigPath()));
    const vlm::Settings saved = Saved();
    EXPECT_EQ(TickedHours(saved.Schedule[4]), row.thursday);
    EXPECT_TRUE(TickedHours(saved.Schedule[3]).empty());
    EXPECT_TRUE(OpenMessages().empty());
}

INSTANTIATE_TEST_SUITE_P(Actions, HourListEdits,
    ::testing::Values(HourRow { "BoxTicks", HourAction::BoxClick, 5, { 5, 14 } },
        HourRow { "BoxClears", HourAction::BoxClick, 14, {} },
        HourRow { "SecondColumnBox", HourAction::BoxClick, 20, { 14, 20 } },
        HourRow { "TextKeepsTheMark", HourAction::TextClick, 5, { 14 } },
        HourRow { "SpaceBarTicks", HourAction::SpaceBar, 7, { 7, 14 } },
        HourRow { "SpaceBarClears", HourAction::SpaceBar, 14, {} }),
    [](const ::testing::TestParamInfo<HourRow>& info) { return std::string(info.param.name); });

TEST_F(Unit1Test, EveryDayWritesAllRowsAndOtherDaysShowTheirRow)
{
    Create();
    PickDay(form::kEveryDay);
    // "Every day" keeps showing what the list showed.
    EXPECT_EQ(ShownHours(), std::vector<int> { 14 });
    ClickHour(5, true);
    const vlm::Settings saved = Saved();
    for (int day = 0; day < vlm::kDayCount; ++day)
        EXPECT_EQ(TickedHours(saved.Schedule[day]), (std::vector<int> { 5, 14 })) << day;
    PickDay(3);
    EXPECT_EQ(ShownHours(), (std::vector<int> { 5, 14 }));
    EXPECT_EQ(m_form->Form().Store().Values().Schedule[3], saved.Schedule[3]);
}

TEST_F(Unit1Test, TypedDayText)
{
    Create();
    // Text that names no day selects no row: the list edits nothing and nothing is saved.
    TypeDay(L"星期");
    fs::remove(ConfigPath());
    ClickHour(5, true);
    EXPECT_FALSE(fs::exists(ConfigPath()));
    EXPECT_TRUE(TickedHours(m_form->Form().Store().Values().Schedule[4]) == std::vector<int> { 14 });

    // A typed day's name selects it like a pick from the list.
    TypeDay(L"星期二");
    EXPECT_TRUE(ShownHours().empty());
    ClickHour(9, true);
    EXPECT_EQ(TickedHours(Saved().Schedule[2]), std::vector<int> { 9 });
}

TEST_F(Unit1Test, BellAndAutostartChoicesSave)
{
    Create();
    Click(TForm1::kRadioGroup1Item1);
    EXPECT_EQ(Saved().BellChoice, 1);
    Click(TForm1::kRadioGroup1Item0);
    EXPECT_EQ(Saved().BellChoice, 0);

    m_autostart.calls.clear();
    Click(TForm1::kCheckBox1); // off -> on
    EXPECT_TRUE(Saved().AutostartFlag);
    Click(TForm1::kCheckBox1); // on -> off
    EXPECT_FALSE(Saved().AutostartFlag);
    EXPECT_EQ(m_autostart.calls, (std::vector<std::string> { "register " + Dir(), "unregister " + Dir() }));
}

TEST_F(Unit1Test, AutostartFailureIsShownWithoutStoppingTheTick)
{
    m_autostart.failure = vlm::kAutostartFailedText;
    vlm::Settings settings;
    ASSERT_TRUE(vlm::SaveSettings(Narrow(ConfigPath().wstring()), settings));
    Create(false);
    ASSERT_EQ(OpenMessages().size(), 1u);
    EXPECT_EQ(vlm::win32::MessageWindow::Text(OpenMessages()[0]), L"Failed to set data for 'VLM'");
    TickAt(Thu(10, 0, 1));
    EXPECT_EQ(WindowText(Control(TForm1::kPanel1)), L"2015-02-12 10:00:01");
    EXPECT_FALSE(Visible());
    // Closed with its close box: the window the first tick hid behind it comes back.
    SendMessageW(OpenMessages()[0], WM_CLOSE, 0, 0);
    Pump();
    EXPECT_TRUE(Visible());
}

TEST_F(Unit1Test, TrayIconAndMenu)
{
    Create();
    HMENU menu = m_form->PopupMenu1();
    ASSERT_EQ(GetMenuItemCount(menu), 3);
    wchar_t text[64] {};
    GetMenuStringW(menu, 0, text, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(text), Widen(form::kN1Caption));
    EXPECT_EQ(GetMenuState(menu, 1, MF_BYPOSITION) & MF_SEPARATOR, UINT(MF_SEPARATOR));
    GetMenuStringW(menu, 2, text, 64, MF_BYPOSITION);
    EXPECT_EQ(std::wstring(text), Widen(form::kN3Caption));
    EXPECT_EQ(GetMenuItemID(menu, 0), UINT(TForm1::kN1));
    EXPECT_EQ(GetMenuItemID(menu, 2), UINT(TForm1::kN3));

    TickAt(Thu(10, 0, 1));
    EXPECT_FALSE(Visible());
    // Any button pressed on the icon shows the window.
    for (const UINT press : { WM_LBUTTONDOWN, WM_MBUTTONDOWN, WM_RBUTTONDOWN }) {
        m_form->HideWindow();
        SendMessageW(m_form->Handle(), TForm1::kTrayMessage, 0, press);
        EXPECT_TRUE(Visible()) << press;
    }
    m_form->HideWindow();
    SendMessageW(m_form->Handle(), WM_COMMAND, TForm1::kN1, 0);
    EXPECT_TRUE(Visible());
}

TEST_F(Unit1Test, CloseHidesAndExitSaves)
{
    Create();
    SendMessageW(m_form->Handle(), WM_CLOSE, 0, 0);
    EXPECT_FALSE(Visible());
    EXPECT_TRUE(IsWindow(m_form->Handle()));
    EXPECT_EQ(m_exits, 0);

    fs::remove(ConfigPath());
    SendMessageW(m_form->Handle(), WM_COMMAND, TForm1::kN3, 0);
    EXPECT_EQ(m_exits, 1);
    EXPECT_EQ(fs::file_size(ConfigPath()), vlm::kSettingsFileSize);
}

TEST_F(Unit1Test, ExitWithAFailedSaveEndsOnceTheBoxIsClosed)
{
    Create();
    MakeSettingsReadOnly();
    SendMessageW(m_form->Handle(), WM_COMMAND, TForm1::kN3, 0);
    Pump();
    ASSERT_EQ(OpenMessages().size(), 1u);
    EXPECT_EQ(vlm::win32::MessageWindow::Text(OpenMessages()[0]), Widen(vlm::kSaveErrorText));
    EXPECT_EQ(m_exits, 0);
    SendMessageW(OpenMessages()[0], WM_COMMAND, IDOK, 0);
    Pump();
    EXPECT_EQ(m_exits, 1);
}

TEST_F(Unit1Test, SessionEndSavesAndLetsItEnd)
{
    Create();
    fs::remove(ConfigPath());
    EXPECT_EQ(SendMessageW(m_form->Handle(), WM_QUERYENDSESSION, 0, 0), TRUE);
    EXPECT_EQ(fs::file_size(ConfigPath()), vlm::kSettingsFileSize);
    EXPECT_EQ(m_exits, 0);
    fs::remove(ConfigPath());
    SendMessageW(m_form->Handle(), WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(fs::file_size(ConfigPath()), vlm::kSettingsFileSize);
    EXPECT_EQ(m_exits, 1);
    EXPECT_TRUE(OpenMessages().empty());
}

// An installer about to replace the program's files asks the running copy to save and end: no box, nothing waits.
TEST_F(Unit1Test, EndRequestSavesAndEnds)
{
    Create();
    fs::remove(ConfigPath());
    const UINT request = RegisterWindowMessageW(L"VLM.Vellimor.SaveAndEnd");
    ASSERT_EQ(request, vlm::win32::SingleInstance::EndRequestMessage());
    EXPECT_EQ(SendMessageW(m_form->Handle(), request, 0, 0), TRUE);
    EXPECT_EQ(fs::file_size(ConfigPath()), vlm::kSettingsFileSize);
    EXPECT_EQ(m_exits, 1);
    EXPECT_TRUE(OpenMessages().empty());
}

// Even when the settings can't be kept: the installer can't wait for a user to read a box.
TEST_F(Unit1Test, EndRequestEndsWhenTheSaveFails)
{
    Create();
    MakeSettingsReadOnly();
    EXPECT_EQ(SendMessageW(m_form->Handle(), vlm::win32::SingleInstance::EndRequestMessage(), 0, 0), TRUE);
    Pump();
    EXPECT_EQ(m_exits, 1);
    EXPECT_TRUE(OpenMessages().empty());
}

TEST_F(Unit1Test, FirstTickHidesAndCleansUpOnce)
{
    Create();
    EXPECT_TRUE(Visible());
    TickAt(Thu(10, 0, 1));
    EXPECT_FALSE(Visible());
    EXPECT_EQ(m_cleanups, 1);
    m_form->ShowWindow();
    TickAt(Thu(10, 0, 2));
    EXPECT_TRUE(Visible());
    EXPECT_EQ(m_cleanups, 1);
    EXPECT_EQ(WindowText(Control(TForm1::kPanel1)), L"2015-02-12 10:00:02");
}

TEST_F(Unit1Test, WithoutNotificationAreaTheWindowGoesToTheTaskbar)
{
    m_tray = false;
    Create();
    TickAt(Thu(10, 0, 1));
    EXPECT_TRUE(Visible());
    EXPECT_TRUE(IsIconic(m_form->Handle()));

    // The notification area appears, then goes away while the window is hidden.
    m_tray = true;
    TickAt(Thu(10, 0, 2));
    m_form->HideWindow();
    m_tray = false;
    TickAt(Thu(10, 0, 3));
    EXPECT_TRUE(Visible());
    EXPECT_TRUE(IsIconic(m_form->Handle()));
    // A click on its taskbar button brings it back whole.
    SendMessageW(m_form->Handle(), WM_COMMAND, TForm1::kN1, 0);
    EXPECT_FALSE(IsIconic(m_form->Handle()));
}

TEST_F(Unit1Test, ScheduledReminderPlaysThroughThePlayer)
{
    Create();
    const std::string music = Dir() + "\\" + vlm::sys::NativePath(vlm::MusicList[0]);
    Touch(Widen(music));
    Touch(m_dir / L"bell1.wav");

    TickAt(Thu(14, 52, 58));
    TickAt(Thu(14, 52, 59));
    EXPECT_EQ(m_form->Form().Reminders().Mode(), vlm::ReminderMode::Scheduled);
    m_form->HideWindow();
    EXPECT_TRUE(m_player.calls.empty());
    TickAt(Thu(14, 53, 0));
    EXPECT_EQ(m_player.calls, std::vector<std::string> { "play " + music });
    EXPECT_TRUE(Visible());
    TickAt(Thu(14, 55, 0));
    EXPECT_EQ(m_player.calls, (std::vector<std::string> { "play " + music, "stop", "play " + Dir() + "\\bell1.wav" }));
    EXPECT_EQ(Saved().RotationCounter, 1);

    // A missing bell file is skipped silently.
    fs::remove(m_dir / L"bell1.wav");
    m_player.calls.clear();
    TickAt(Thu(15, 0, 0));
    EXPECT_TRUE(m_player.calls.empty());
    EXPECT_TRUE(OpenMessages().empty());
}

TEST_F(Unit1Test, RingNowRingsTwoSecondsLater)
{
    Create();
    Touch(m_dir / L"bell1.wav");
    TickAt(Thu(10, 0, 1));
    m_player.playing = true;
    At(Thu(10, 0, 1), 400);
    Click(TForm1::kBitBtn1);
    EXPECT_EQ(m_player.calls, std::vector<std::string> { "stop" });
    TickAt(Thu(10, 0, 2));
    EXPECT_EQ(m_player.calls.size(), 1u);
    TickAt(Thu(10, 0, 3));
    EXPECT_EQ(m_player.calls.back(), "play " + Dir() + "\\bell1.wav");
    EXPECT_TRUE(Visible());
}

TEST_F(Unit1Test, FailedOpenIsShownOncePerTextAndTheReminderGoesOn)
{
    Create();
    Touch(m_dir / L"bell1.wav");
    m_player.failure = "The specified file cannot be played on the specified MCI device.";
    Click(TForm1::kBitBtn1);
    TickAt(Thu(10, 0, 2));
    std::vector<HWND> boxes = OpenMessages();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(Narrow(vlm::win32::MessageWindow::Text(boxes[0])), m_player.failure);
    EXPECT_EQ(GetWindow(boxes[0], GW_OWNER), m_form->Handle());
    EXPECT_TRUE(m_form->Form().Reminders().CueTable()[0].Done);

    // The next cue fails the same way: the open box comes forward, no second one.
    TickAt(Thu(10, 5, 2));
    EXPECT_EQ(OpenMessages(), boxes);
    EXPECT_EQ(m_form->OpenMessageCount(), 1);

    // Once closed, the same text opens a box again; closing it leaves the window as it was.
    m_form->HideWindow();
    SendMessageW(boxes[0], WM_COMMAND, IDOK, 0);
    Pump();
    EXPECT_EQ(m_form->OpenMessageCount(), 0);
    EXPECT_FALSE(Visible());
    m_player.failure.clear();
    m_player.calls.clear();
    TickAt(Thu(10, 10, 2));
    EXPECT_EQ(m_player.calls, std::vector<std::string> { "play " + Dir() + "\\bell1.wav" });
}

TEST_F(Unit1Test, TickTimerReachesTheWindow)
{
    Create();
    m_form->StartTimer(30);
    const ULONGLONG start = GetTickCount64();
    MSG message {};
    bool ticked = false;
    while (!ticked && GetTickCount64() - start < 5000) {
        if (PeekMessageW(&message, m_form->Handle(), TForm1::kTickMessage, TForm1::kTickMessage, PM_REMOVE)) {
            DispatchMessageW(&message);
            ticked = true;
        } else {
            Sleep(5);
        }
    }
    ASSERT_TRUE(ticked);
    // The tick ran the form's tick: the first one hides the window.
    EXPECT_FALSE(Visible());
    EXPECT_EQ(m_cleanups, 1);

    // A tick already on its way when the timer is stopped is dropped.
    m_form->ShowWindow();
    m_form->StartTimer(1);
    Sleep(100);
    m_form->StopTimer();
    while (PeekMessageW(&message, m_form->Handle(), TForm1::kTickMessage, TForm1::kTickMessage, PM_REMOVE))
        DispatchMessageW(&message);
    EXPECT_TRUE(Visible());
}

TEST_F(Unit1Test, SecondCopyShowsTheFirstWindow)
{
    Create();
    TickAt(Thu(10, 0, 1));
    ASSERT_FALSE(Visible());
    vlm::win32::SingleInstance first;
    ASSERT_TRUE(first.Claim());
    vlm::win32::SingleInstance second;
    EXPECT_FALSE(second.Claim());
    EXPECT_TRUE(vlm::win32::SingleInstance::ShowRunningCopy());
    EXPECT_TRUE(Visible());
}
