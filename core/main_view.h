#pragma once

#include <array>
#include <string>

namespace vlm {

using HourChecks = std::array<bool, 24>;

// What the diagnostics are about; a shell may log them or not.
enum class LogTopic { Tick, Scheduler, Settings, Window, Sound, Autostart, Cleanup };

// The main window, its tray icon and its timer as the form's logic sees them; each shell implements it with its
// toolkit's controls. Setting a control from here never runs that control's handler.
class MainView {
public:
    virtual ~MainView() = default;

    // Makes the window visible, not minimised, and brings it to the front where the desktop allows.
    virtual void ShowWindow() = 0;
    virtual void HideWindow() = 0;
    virtual void MinimizeWindow() = 0;
    // Not shown at all (a minimised window is shown).
    virtual bool WindowHidden() const = 0;

    // Whether the desktop has a notification area now.
    virtual bool TrayAvailable() const = 0;
    // Puts the tray icon into a notification area that has (re)appeared.
    virtual void DockTrayIcon() = 0;

    virtual void SetClockText(const std::string& text) = 0;
    // Points the day selector at item `day` (0-7).
    virtual void SetSelectedDay(int day) = 0;
    virtual void SetHourChecks(const HourChecks& checks) = 0;
    virtual void SetBellChoice(int choice) = 0;
    virtual void SetAutostartChecked(bool checked) = 0;

    // Tells the user something in a box owned by the window that leaves the tick, the tray and the window
    // running. While a box with the same text is open, that box is brought forward instead of a second one. The
    // shell hands the text to MainForm::MessageClosed when the user closes the box.
    virtual void ShowMessage(const std::string& text) = 0;

    // (Re)starts the one-shot tick timer to fire after `delayMs`; stops it.
    virtual void StartTimer(int delayMs) = 0;
    virtual void StopTimer() = 0;

    // Ends the program. With a farewell text, that text is shown first and the program ends once the user has
    // closed its box; without one it ends at once.
    virtual void EndProgram(const std::string& farewell) = 0;

    virtual void Log(LogTopic topic, const std::string& text)
    {
        (void)topic;
        (void)text;
    }
};

} // namespace vlm
