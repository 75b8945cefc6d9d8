#pragma once

#include "core/clock.h"
#include "core/reminder_host.h"
#include "core/scheduler.h"
#include "core/settings.h"
#include "core/sounds.h"

#include <QSystemTrayIcon>
#include <QWidget>

#include <chrono>
#include <functional>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QMenu;
class QPushButton;
class QTimer;

namespace vlm {
class AutostartStore;
class SoundPlayer;
} // namespace vlm

// Everything the window needs from outside; tests hand in fakes.
struct TForm1Services {
    const vlm::TimeSource* time = nullptr;
    vlm::SoundPlayer* player = nullptr;
    vlm::AutostartStore* autostart = nullptr;
    std::function<void()> deleteLegacyFiles;
    std::function<bool()> trayAvailable; // whether the desktop has a notification area now
    QString executablePath;
};

// The main window: schedule editor, clock, ring-now button and tray icon; hosts the reminder core.
class TForm1 : public QWidget, public vlm::ReminderHost {
    Q_OBJECT

public:
    explicit TForm1(TForm1Services services, QWidget* parent = nullptr);
    ~TForm1() override;

    // Start-up: program folder, settings, today's row, autostart. Runs once, before the window is first shown.
    void FormCreate();

    // The one-second tick: clock, scheduler, and the re-arm for just after the next reference second.
    void Timer1Timer();

    void ShowMainWindow(bool show) override;
    void SelectToday() override;
    void PlayCue(int i) override;
    void StopSound() override;
    void ShowSettingsMessage(vlm::SettingsMessage message) override;

    void ShowDaySchedule(int day);

    void ComboBox2Change();
    void CheckListBox1Click();
    void RadioGroup1Click();
    void CheckBox1Click();
    void BitBtn1Click();
    void TrayIcon1MouseDown(QSystemTrayIcon::ActivationReason reason);
    void N1Click();
    void N3Click();

    // Saves the settings, telling the user when that fails.
    void SaveSettings();
    // Shows a message in a box that leaves the tick, the tray and the window running.
    void ShowMessage(const QString& text);

    // Milliseconds from `now` until just after the next full second.
    static int NextTickDelay(std::chrono::system_clock::time_point now);

    vlm::SettingsStore& Settings() { return m_settings; }
    const vlm::Scheduler& Scheduler() const { return m_scheduler; }
    bool FirstTickDone() const { return m_firstTickDone; }

    // Watches the application for a request to quit (the session ending): saves and ends instead of refusing.
    bool eventFilter(QObject* watched, QEvent* event) override;

signals:
    // The program is to end: the user chose to, or the session is ending (the settings were saved).
    void exitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void ApplySettingsToControls();
    // The executable's folder, without a trailing "/".
    QString ProgramDir() const { return QString::fromStdString(m_sounds.ProgramDir()); }
    // Makes the program start at logon, telling the user when that fails.
    void RegisterAutostart();
    void HideMainWindow();
    void CheckTrayAvailability();
    // The day the selector's text names (0-6, 7 for every day), or -1 when it names none.
    int SelectedDay() const;

    TForm1Services m_services;
    vlm::SettingsStore m_settings;
    vlm::SoundCatalogue m_sounds;
    vlm::ReferenceClock m_clock;
    vlm::Scheduler m_scheduler;
    bool m_firstTickDone = false;
    bool m_trayAvailable = false;

    QComboBox* ComboBox2 = nullptr;
    QListWidget* CheckListBox1 = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    QLabel* Panel1 = nullptr;
    QGroupBox* RadioGroup1 = nullptr;
    QButtonGroup* m_bellButtons = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QPushButton* BitBtn1 = nullptr;
    QTimer* Timer1 = nullptr;
    QSystemTrayIcon* TrayIcon1 = nullptr;
    QMenu* PopupMenu1 = nullptr;
    QAction* N1 = nullptr;
    QAction* N2 = nullptr;
    QAction* N3 = nullptr;
};
