#pragma once

#include "core/clock.h"
#include "core/main_view.h"
#include "core/reminder_host.h"
#include "core/scheduler.h"
#include "core/settings.h"
#include "core/sounds.h"

#include <chrono>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <string_view>

namespace vlm {

class AutostartStore;
class SoundOutput;

// What the form needs from outside; tests hand in fakes.
struct FormServices {
    const TimeSource* Time = nullptr;
    SoundOutput* Player = nullptr;
    AutostartStore* Autostart = nullptr;
    // Removes the earlier installation's files; by default those of DefaultLegacyFolders().
    std::function<void()> DeleteLegacyFiles;
    // Where the settings live: the build's layout and the user's own folder (the system's) by default.
    std::optional<SettingsLayout> Layout;
    std::optional<std::string> UserFolder;
    // The settings' file operations; the system's by default.
    SettingsFiles* Files = nullptr;
};

// The layout this program was built for (a copy installed for every user keeps the settings per user only).
SettingsLayout BuiltSettingsLayout();

// What the main window's handlers mean, whatever toolkit draws it: start-up, the tick, the schedule editor, the
// ring-now button, the tray commands and exit. Each shell's TForm1 turns its events into these calls and
// implements MainView for the calls back.
class MainForm final : public ReminderHost {
public:
    MainForm(MainView& view, FormServices services);

    // The creation sequence: program folder, sound paths, current folder, the tick, settings, today's row and
    // autostart. The window is shown by the shell afterwards.
    void FormCreate(const std::string& executablePath);

    // The one-second tick: the first one hides the window and cleans up; every one reads the clock, steps the
    // scheduler and re-arms the timer for just after the next full second.
    void Timer1Timer();

    // The user closed the box that showed `text`. Once the last box of the start-up is closed, a window that the
    // first tick hid behind it comes back.
    void MessageClosed(const std::string& text);

    // Milliseconds from `now` until just after the next full second.
    static int NextTickDelay(std::chrono::system_clock::time_point now);

    // ReminderHost
    void ShowMainWindow(bool show) override;
    void SelectToday() override;
    void PlayCue(int i) override;
    void StopSound() override;
    // A sound failed after its Play had returned: the user is told as for a failed open.
    void SoundFailed(const std::string& error);
    void ShowSettingsMessage(SettingsMessage message) override;

    void ShowDaySchedule(int day);

    // The day (0-6, or 7 for every day) that the selector's text names, or -1 when it names none.
    static int DayOfSelectorText(std::string_view text);

    // The user picked or typed a day (-1 when the text names none).
    void ComboBox2Change(int day);
    // The user clicked in the hour list or changed a check mark: `checks` are the 24 boxes as shown, `day` the
    // selector's day (-1 when its text names none, and then nothing is touched).
    void CheckListBox1Click(int day, const HourChecks& checks);
    void RadioGroup1Click(int choice);
    void CheckBox1Click(bool checked);
    void BitBtn1Click();
    void TrayIcon1MouseDown();
    void N1Click();
    // The exit command: saves, and ends; a failed save is shown first and the program ends when its box closes.
    void N3Click();
    // The session is ending or the program was told to stop: saves and ends without waiting for anyone. Returns
    // whether the save worked.
    bool EndSession();
    // The session manager asks for the settings to be kept now: saves without a word to the user.
    bool CommitData();
    // The window's close box (or Alt+F4, or the system menu): the window only hides.
    void FormCloseQuery();

    // Saves the settings, telling the user when that fails; returns whether it worked.
    bool SaveSettings();

    SettingsStore& Store() { return m_settings; }
    const vlm::Scheduler& Reminders() const { return m_scheduler; }
    const ReferenceClock& Clock() const { return m_clock; }
    const std::string& ProgramDir() const { return m_sounds.ProgramDir(); }
    bool FirstTickDone() const { return m_firstTickDone; }

private:
    void ApplySettingsToControls();
    // A settings file that could not be read at start is tried again at the tick, and applied once it is read.
    void RetryUnreadSettings();
    void ShowMessage(const std::string& text);
    void RegisterAutostart();
    void UnregisterAutostart();
    void HideMainWindow();
    void CheckTrayAvailability();
    void UpdateClock();

    MainView& m_view;
    FormServices m_services;
    SettingsStore m_settings;
    SoundCatalogue m_sounds;
    ReferenceClock m_clock;
    Scheduler m_scheduler;
    bool m_firstTickDone = false;
    bool m_trayAvailable = false;
    bool m_creating = false;
    // Texts of the boxes start-up opened that are still open.
    std::set<std::string> m_startMessages;
};

} // namespace vlm
