#pragma once

#include "core/main_form.h"
#include "core/main_view.h"

#include <QHash>
#include <QPointer>
#include <QSystemTrayIcon>
#include <QWidget>

#include <functional>

class QAction;
class QButtonGroup;
class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QListWidget;
class QListWidgetItem;
class QMenu;
class QMessageBox;
class QPushButton;
class QTimer;

// Everything the window needs from outside; tests hand in fakes.
struct TForm1Services {
    vlm::FormServices form;
    std::function<bool()> trayAvailable; // whether the desktop has a notification area now
    QString executablePath;
};

// The main window on Qt: schedule editor, clock, ring-now button and tray icon. Its handlers turn Qt's signals into
// the form's calls (vlm::MainForm), and it carries out the form's requests as the MainView.
class TForm1 : public QWidget, public vlm::MainView {
    Q_OBJECT

public:
    explicit TForm1(TForm1Services services, QWidget* parent = nullptr);
    ~TForm1() override;

    // Start-up; runs once, before the window is first shown.
    void FormCreate();
    void Timer1Timer();

    void ShowMainWindow(bool show) { m_form.ShowMainWindow(show); }
    void SelectToday() { m_form.SelectToday(); }
    void ShowDaySchedule(int day) { m_form.ShowDaySchedule(day); }

    void ComboBox2Change();
    void CheckListBox1Click();
    void RadioGroup1Click();
    void CheckBox1Click();
    void BitBtn1Click();
    void TrayIcon1MouseDown(QSystemTrayIcon::ActivationReason reason);
    void N1Click();
    void N3Click();
    // The session is ending or the program was told to stop: saves and ends without waiting for anyone.
    void EndSession();
    // The session manager asks for the settings to be kept now.
    void CommitData();

    vlm::MainForm& Form() { return m_form; }
    const vlm::MainForm& Form() const { return m_form; }

    // Watches the application for a request to quit (the session ending): saves and ends instead of refusing.
    bool eventFilter(QObject* watched, QEvent* event) override;

    // MainView
    void ShowWindow() override;
    void HideWindow() override;
    void MinimizeWindow() override;
    bool WindowHidden() const override;
    bool TrayAvailable() const override;
    void DockTrayIcon() override;
    void SetClockText(const std::string& text) override;
    void SetSelectedDay(int day) override;
    void SetHourChecks(const vlm::HourChecks& checks) override;
    void SetBellChoice(int choice) override;
    void SetAutostartChecked(bool checked) override;
    void ShowMessage(const std::string& text) override;
    void StartTimer(int delayMs) override;
    void StopTimer() override;
    void EndProgram(const std::string& farewell) override;
    void Log(vlm::LogTopic topic, const std::string& text) override;

signals:
    // The program is to end: the user chose to, or the session is ending (the settings were saved).
    void exitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void ServeMenuThroughTray();
    void WatchTrayOnTheBus();
    // The box showing `text`, opened or brought forward.
    QMessageBox* Message(const QString& text);
    void RaiseMessages();
    void OnHourItemChanged();
    void OnHourItemClicked();

    TForm1Services m_services;
    vlm::MainForm m_form;
    QHash<QString, QPointer<QMessageBox>> m_messages;
    // A click on a check box also changes it; the change has run the handler already.
    bool m_changeHandled = false;
    // The tray draws PopupMenu1 itself (StatusNotifierItem) rather than leaving it to the program.
    bool m_trayDrawsMenu = false;
    // Whether the tray is there is Qt's answer (not a test's).
    bool m_askQtForTray = false;
    // The window was sent to the taskbar and may still be there, whatever the desktop reports.
    bool m_minimizeRequested = false;

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
