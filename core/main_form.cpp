#include "core/main_form.h"

#include "core/autostart_store.h"
#include "core/legacy_cleanup.h"
#include "core/sound_output.h"
#include "core/system.h"
#include "core/window_definition.h"

namespace vlm {

namespace {

// Ticks are aimed this far past each full second, so the reading is already the new second.
constexpr int kTickMarginMs = 3;
constexpr int kFirstTickMs = 1000;

} // namespace

SettingsLayout BuiltSettingsLayout()
{
#ifdef VLM_SYSTEM_LAYOUT
    return SettingsLayout::System;
#else
    return SettingsLayout::Portable;
#endif
}

MainForm::MainForm(MainView& view, FormServices services)
    : m_view(view)
    , m_services(std::move(services))
    , m_clock(*m_services.Time)
    , m_scheduler(*this, m_settings, m_sounds)
{
    if (!m_services.DeleteLegacyFiles)
        m_services.DeleteLegacyFiles = [] { DeleteLegacyFiles(); };
}

void MainForm::FormCreate(const std::string& executablePath)
{
    const std::string userFolder = m_services.UserFolder ? *m_services.UserFolder : sys::UserFolder();
    m_sounds = SoundCatalogue(ProgramDirOf(executablePath), userFolder);
    const SettingsPlaces places
        = SettingsPlacesFor(m_services.Layout.value_or(BuiltSettingsLayout()), m_sounds.ProgramDir(), userFolder);
    m_settings.SetPlaces(places);
    if (m_services.Files)
        m_settings.SetFiles(*m_services.Files);
    m_settings.SetLog([this](const std::string& text) { m_view.Log(LogTopic::Settings, text); });
    sys::ChangeDirectory(m_sounds.ProgramDir());
    // A save killed half-way in an earlier run left its temporary copy; nothing else will ever remove it.
    for (const std::string& place : { places.ProgramFile, places.UserFile })
        if (!place.empty())
            sys::RemoveStaleTemporaries(place);

    m_creating = true;
    // The tick runs from here on, whatever the rest of start-up shows or fails at.
    m_trayAvailable = m_view.TrayAvailable();
    m_view.StartTimer(kFirstTickMs);
    UpdateClock();

    if (m_settings.Load() != sys::ReadStatus::Read) {
        m_view.Log(LogTopic::Settings, "cannot read " + m_settings.Path());
        ShowSettingsMessage(SettingsMessage::LoadFailed);
    }
    ApplySettingsToControls();
    SelectToday();

    if (m_settings.Values().AutostartFlag)
        RegisterAutostart();
    m_creating = false;
}

void MainForm::ApplySettingsToControls()
{
    const vlm::Settings& values = m_settings.Values();
    m_view.SetBellChoice(values.BellChoice);
    m_view.SetAutostartChecked(values.AutostartFlag);
}

void MainForm::RetryUnreadSettings()
{
    if (!m_settings.Unread())
        return;
    const bool autostartBefore = m_settings.Values().AutostartFlag;
    if (!m_settings.RetryLoad())
        return;
    ApplySettingsToControls();
    SelectToday();
    // The start registered the defaults' autostart; the user's own choice wins.
    if (m_settings.Values().AutostartFlag == autostartBefore)
        return;
    if (m_settings.Values().AutostartFlag)
        RegisterAutostart();
    else
        UnregisterAutostart();
}

void MainForm::RegisterAutostart()
{
    if (!m_services.Autostart)
        return;
    const std::string error = m_services.Autostart->RegisterAutostart(ProgramDir());
    // A place that can't be opened is not the user's concern, but the log says what became of the entry.
    if (m_services.Autostart->IsRegistered(ProgramDir()))
        m_view.Log(LogTopic::Autostart, "registered " + ProgramDir());
    else
        m_view.Log(LogTopic::Autostart,
            "not registered, the entry was not written: " + ProgramDir() + (error.empty() ? "" : ": " + error));
    if (!error.empty())
        ShowMessage(error);
}

void MainForm::ShowMessage(const std::string& text)
{
    if (m_creating)
        m_startMessages.insert(text);
    m_view.ShowMessage(text);
}

void MainForm::UnregisterAutostart()
{
    if (!m_services.Autostart)
        return;
    m_services.Autostart->UnregisterAutostart(ProgramDir());
    m_view.Log(LogTopic::Autostart,
        m_services.Autostart->IsRegistered(ProgramDir())
            ? "not unregistered, the entry was not removed: " + ProgramDir()
            : "unregistered " + ProgramDir());
}

void MainForm::UpdateClock()
{
    m_clock.UpdateClock();
    m_view.SetClockText(m_clock.Text());
}

void MainForm::Timer1Timer()
{
    m_view.StopTimer();
    if (!m_firstTickDone) {
        m_firstTickDone = true;
        // A start-up box still open hides the window from a user who has yet to see it: it is back once the box
        // is closed (MessageClosed).
        ShowMainWindow(false);
        m_services.DeleteLegacyFiles();
    }
    RetryUnreadSettings();

    UpdateClock();
    const auto intoSecond = std::chrono::duration_cast<std::chrono::milliseconds>(
        m_clock.LastNow().time_since_epoch() % std::chrono::seconds(1));
    m_view.Log(LogTopic::Tick, "tick " + m_clock.Text() + " late " + std::to_string(intoSecond.count()) + " ms");

    const ReminderMode before = m_scheduler.Mode();
    m_scheduler.SchedulerTick(m_clock.UtcSecond());
    if (m_scheduler.Mode() != before)
        m_view.Log(LogTopic::Scheduler,
            "mode " + std::to_string(int(before)) + " -> " + std::to_string(int(m_scheduler.Mode())) + " current cue "
                + std::to_string(m_scheduler.CurrentCue()));
    // After the second's work: asking a tray reached over D-Bus takes a round trip that a cue must not wait for.
    CheckTrayAvailability();

    m_view.StartTimer(NextTickDelay(m_services.Time->Now()));
}

void MainForm::MessageClosed(const std::string& text)
{
    // Start-up opens no box after the first tick, so the last one closed after it is the one the window waited for.
    if (m_startMessages.erase(text) == 0 || !m_startMessages.empty() || !m_firstTickDone)
        return;
    m_view.Log(LogTopic::Window, "start-up message closed");
    ShowMainWindow(true);
}

int MainForm::NextTickDelay(std::chrono::system_clock::time_point now)
{
    const auto intoSecond = std::chrono::duration_cast<std::chrono::milliseconds>(
        now.time_since_epoch() - std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()));
    return static_cast<int>(1000 - intoSecond.count()) + kTickMarginMs;
}

void MainForm::ShowMainWindow(bool show)
{
    m_view.Log(LogTopic::Window, show ? "show" : "hide");
    if (show)
        m_view.ShowWindow();
    else
        HideMainWindow();
}

// Without a notification area a hidden window could never be brought back, so it goes to the taskbar instead.
void MainForm::HideMainWindow()
{
    if (m_trayAvailable)
        m_view.HideWindow();
    else
        m_view.MinimizeWindow();
}

void MainForm::CheckTrayAvailability()
{
    const bool available = m_view.TrayAvailable();
    if (available == m_trayAvailable)
        return;
    m_trayAvailable = available;
    m_view.Log(LogTopic::Window, available ? "notification area appeared" : "notification area gone");
    if (available)
        m_view.DockTrayIcon();
    else if (m_view.WindowHidden())
        m_view.MinimizeWindow();
}

void MainForm::SelectToday()
{
    const std::int64_t now
        = std::chrono::floor<std::chrono::seconds>(m_services.Time->Now().time_since_epoch()).count();
    const int day = sys::LocalWeekday(now);
    m_view.SetSelectedDay(day);
    ShowDaySchedule(day);
}

void MainForm::ShowDaySchedule(int day)
{
    const auto& row = m_settings.Values().Schedule[day];
    HourChecks checks {};
    for (int h = 0; h < kHourCount; ++h)
        checks[h] = row[h] != 0;
    m_view.SetHourChecks(checks);
}

int MainForm::DayOfSelectorText(std::string_view text)
{
    for (int day = 0; day < static_cast<int>(form::kDayItems.size()); ++day)
        if (text == form::kDayItems[day])
            return day;
    return -1;
}

void MainForm::ComboBox2Change(int day)
{
    // "Every day" keeps showing what the list showed.
    if (day >= 0 && day < form::kEveryDay)
        ShowDaySchedule(day);
}

void MainForm::CheckListBox1Click(int day, const HourChecks& checks)
{
    // Typed text that names no day selects no row to write.
    if (day < 0 || day > form::kEveryDay)
        return;
    std::array<std::int32_t, kHourCount> row {};
    for (int h = 0; h < kHourCount; ++h)
        row[h] = checks[h] ? 1 : 0;
    auto& schedule = m_settings.Values().Schedule;
    if (day == form::kEveryDay)
        schedule.fill(row);
    else
        schedule[day] = row;
    SaveSettings();
}

void MainForm::RadioGroup1Click(int choice)
{
    if (choice < 0 || choice >= kBellChoiceCount)
        return;
    m_settings.Values().BellChoice = choice;
    SaveSettings();
}

void MainForm::CheckBox1Click(bool checked)
{
    m_settings.Values().AutostartFlag = checked;
    SaveSettings();
    // The box says whether the program starts at logon, so the entry follows it at once.
    if (checked)
        RegisterAutostart();
    else
        UnregisterAutostart();
}

void MainForm::BitBtn1Click()
{
    UpdateClock();
    m_scheduler.StartImmediateReminder(m_clock.UtcSecond());
    m_view.Log(LogTopic::Scheduler, "immediate reminder from " + m_clock.Text());
}

void MainForm::PlayCue(int i)
{
    const std::string& path = m_scheduler.CueTable()[i].Path;
    if (!sys::IsFile(path)) {
        m_view.Log(LogTopic::Scheduler, "cue " + std::to_string(i) + " skipped, no file " + path);
        return;
    }
    ShowMainWindow(true);
    m_view.Log(LogTopic::Scheduler, "cue " + std::to_string(i) + " plays " + path);
    if (!m_services.Player)
        return;
    if (m_services.Player->IsPlaying())
        m_services.Player->Stop();
    // A failed open is shown and the cue still counts as played, so the reminder goes on to its next cue.
    const std::string error = m_services.Player->Play(path);
    if (!error.empty()) {
        m_view.Log(LogTopic::Sound, "cue " + std::to_string(i) + " failed: " + error);
        ShowMessage(error);
    }
}

void MainForm::SoundFailed(const std::string& error)
{
    m_view.Log(LogTopic::Sound, "sound failed: " + error);
    ShowMessage(error);
}

void MainForm::StopSound()
{
    if (m_services.Player && m_services.Player->IsPlaying())
        m_services.Player->Stop();
}

void MainForm::ShowSettingsMessage(SettingsMessage message)
{
    ShowMessage(MessageText(message));
}

bool MainForm::SaveSettings()
{
    if (m_settings.Save()) {
        m_view.Log(LogTopic::Settings, "saved " + m_settings.Path());
        return true;
    }
    m_view.Log(LogTopic::Settings, "cannot save " + m_settings.Path());
    ShowSettingsMessage(SettingsMessage::SaveFailed);
    return false;
}

void MainForm::TrayIcon1MouseDown()
{
    ShowMainWindow(true);
}

void MainForm::N1Click()
{
    ShowMainWindow(true);
}

void MainForm::N3Click()
{
    // The user must learn that their settings were not kept before the program is gone.
    if (m_settings.Save()) {
        m_view.Log(LogTopic::Settings, "saved " + m_settings.Path());
        m_view.EndProgram({});
        return;
    }
    m_view.Log(LogTopic::Settings, "cannot save " + m_settings.Path() + " at exit");
    m_view.EndProgram(MessageText(SettingsMessage::SaveFailed));
}

bool MainForm::EndSession()
{
    const bool saved = m_settings.Save();
    m_view.Log(LogTopic::Settings, (saved ? "saved " : "cannot save ") + m_settings.Path() + " at session end");
    m_view.EndProgram({});
    return saved;
}

bool MainForm::CommitData()
{
    const bool saved = m_settings.Save();
    m_view.Log(LogTopic::Settings, (saved ? "saved " : "cannot save ") + m_settings.Path() + " for the session");
    return saved;
}

void MainForm::FormCloseQuery()
{
    ShowMainWindow(false);
}

} // namespace vlm
