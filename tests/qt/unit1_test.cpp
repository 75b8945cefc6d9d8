#include "shell/qt/Unit1.h"

#include "core/autostart_store.h"
#include "core/sound_output.h"
#include "test_support.h"

#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <fstream>
#include <memory>

namespace {

class FakePlayer final : public vlm::SoundOutput {
public:
    QStringList calls;
    bool playing = false;
    QString failure;
    std::string Play(const std::string& path) override
    {
        calls << "play " + QString::fromStdString(path);
        playing = failure.isEmpty();
        return failure.toStdString();
    }
    bool IsPlaying() const override { return playing; }
    void Stop() override
    {
        calls << QStringLiteral("stop");
        playing = false;
    }
};

class FakeAutostart final : public vlm::AutostartStore {
public:
    QStringList calls;
    QString failure;
    std::string RegisterAutostart(const std::string& programDir) override
    {
        calls << "register " + QString::fromStdString(programDir);
        return failure.toStdString();
    }
    void UnregisterAutostart(const std::string& programDir) override
    {
        calls << "unregister " + QString::fromStdString(programDir);
    }
    bool IsRegistered(const std::string&) const override { return false; }
};

QList<QMessageBox*> OpenMessages()
{
    QList<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            boxes << box;
    return boxes;
}

void CloseMessages()
{
    for (QMessageBox* box : OpenMessages())
        box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

// Types text as a keyboard with an input method would deliver it.
void Type(QWidget* widget, const QString& text)
{
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(widget, &press);
}

QByteArray FileBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// 2015-02-12 (a Thursday) at a reference time; the test zone is Beijing's, so the local day is the same.
std::int64_t Thu(int h, int m, int s)
{
    return vlm::test::ReferenceSecond(2015, 2, 12, h, m, s);
}

} // namespace

class Unit1Test : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void windowAsDefined();
    void controlGeometry_data();
    void controlGeometry();
    void trayAndMenu();
    void startWithoutSettingsFile();
    void startLoadsSettingsIntoControls();
    void hourListEditsTheSelectedDay_data();
    void hourListEditsTheSelectedDay();
    void everyDayWritesAllRows();
    void mouseClickOnACheckBoxSaves();
    void codeSetControlsSaveNothing();
    void typedDayMatchingNoItemTouchesNoRow();
    void bellAndAutostartChoices();
    void closeHidesAndExitSaves();
    void withoutNotificationAreaHidingMinimises();
    void firstTickHidesAndCleansUpOnce();
    void scheduledReminderPlaysThroughThePlayer();
    void ringNowRingsTwoSecondsLater();
    void failedOpenIsShownAndTheReminderGoesOn();
    void messagesBelongToTheWindowOnePerText();
    void exitWithAFailedSaveEndsOnceTheBoxIsClosed();
    void notificationAreaGoingAwayWhileHidden();
    void clickOnAnHoursTextRunsTheHandler();

private:
    void Create(bool writeSettings = true);
    void At(std::int64_t utcSecond, int ms = 5) { m_time.SetUtcSecond(utcSecond, ms); }
    void TickAt(std::int64_t utcSecond)
    {
        At(utcSecond);
        m_form->Timer1Timer();
    }
    template <typename T> T* Control(const char* name)
    {
        T* control = m_form->findChild<T*>(QString::fromLatin1(name));
        if (!control)
            qFatal("no control %s", name);
        return control;
    }
    QString ConfigPath() const { return m_dir->filePath(QStringLiteral("vlm1.cfg")); }

    std::unique_ptr<QTemporaryDir> m_dir;
    vlm::test::FakeTimeSource m_time;
    FakePlayer m_player;
    FakeAutostart m_autostart;
    bool m_tray = true;
    int m_cleanups = 0;
    std::unique_ptr<TForm1> m_form;
};

void Unit1Test::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_player = FakePlayer();
    m_autostart = FakeAutostart();
    m_tray = true;
    m_cleanups = 0;
    At(Thu(10, 0, 0));
}

void Unit1Test::cleanup()
{
    m_form.reset();
    CloseMessages();
}

// A program folder with a settings file (Thursday 14:00 ticked, autostart off) unless told otherwise.
void Unit1Test::Create(bool writeSettings)
{
    if (writeSettings) {
        vlm::Settings settings;
        settings.Schedule[4][14] = 1;
        settings.AutostartFlag = false;
        QVERIFY(vlm::SaveSettings(ConfigPath().toStdString(), settings));
    }
    TForm1Services services;
    services.form.Time = &m_time;
    services.form.Player = &m_player;
    services.form.Autostart = &m_autostart;
    services.form.DeleteLegacyFiles = [this] { ++m_cleanups; };
    services.trayAvailable = [this] { return m_tray; };
    services.executablePath = m_dir->filePath(QStringLiteral("VLM"));
    // No folder of the user's own: the settings stay beside the program, whatever this machine's user has.
    services.form.UserFolder = std::string();
    m_form = std::make_unique<TForm1>(std::move(services));
    m_form->FormCreate();
    m_form->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_form.get()));
}

void Unit1Test::windowAsDefined()
{
    Create();
    QCOMPARE(m_form->objectName(), QStringLiteral("Form1"));
    QCOMPARE(m_form->windowTitle(), QStringLiteral("Vellimor - 20150212 (Unicode)"));
    QCOMPARE(m_form->size(), QSize(364, 259));
    QCOMPARE(m_form->minimumSize(), m_form->maximumSize());
    const Qt::WindowFlags flags = m_form->windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QCOMPARE(m_form->palette().color(QPalette::Window), QColor(192, 220, 192));
    QCOMPARE(m_form->font().family(), QStringLiteral("Arial"));
    QCOMPARE(m_form->font().pixelSize(), 12);

    auto* days = Control<QComboBox>("ComboBox2");
    QVERIFY(days->isEditable());
    QStringList items;
    for (int i = 0; i < days->count(); ++i)
        items << days->itemText(i);
    QCOMPARE(items, QStringList({ "星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六", "每一天" }));

    auto* hours = Control<QListWidget>("CheckListBox1");
    QCOMPARE(hours->count(), 24);
    QCOMPARE(hours->item(0)->text(), QStringLiteral("00:55"));
    QCOMPARE(hours->item(23)->text(), QStringLiteral("23:55"));
    QCOMPARE(hours->font().pixelSize(), 13);
    // Two columns: hour 12 starts the second one.
    QCOMPARE(hours->visualItemRect(hours->item(12)).top(), hours->visualItemRect(hours->item(0)).top());
    QVERIFY(hours->visualItemRect(hours->item(12)).left() > hours->visualItemRect(hours->item(11)).left());
    QVERIFY(hours->viewport()->rect().contains(hours->visualItemRect(hours->item(23))));

    QCOMPARE(Control<QGroupBox>("GroupBox3")->title(), QStringLiteral("目前電腦北京時間"));
    auto* clock = Control<QLabel>("Panel1");
    QCOMPARE(clock->parentWidget()->objectName(), QStringLiteral("GroupBox3"));
    QCOMPARE(clock->frameShadow(), QFrame::Sunken);
    QCOMPARE(clock->text(), QStringLiteral("2015-02-12 10:00:00"));
    QCOMPARE(Control<QGroupBox>("RadioGroup1")->title(), QStringLiteral("提醒鐘聲"));
    QCOMPARE(Control<QRadioButton>("RadioGroup1Item0")->text(), QStringLiteral("一聲鐘聲"));
    QCOMPARE(Control<QRadioButton>("RadioGroup1Item1")->text(), QStringLiteral("三聲鐘聲"));
    QCOMPARE(Control<QCheckBox>("CheckBox1")->text(), QStringLiteral("電腦一開機便自動啟動。"));
    QCOMPARE(Control<QPushButton>("BitBtn1")->text(), QStringLiteral("立即Vellimor"));
    QVERIFY(Control<QTimer>("Timer1")->isActive());
}

void Unit1Test::controlGeometry_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QRect>("geometry");
    QTest::newRow("ComboBox2") << "ComboBox2" << QRect(43, 16, 81, 23);
    QTest::newRow("CheckListBox1") << "CheckListBox1" << QRect(16, 50, 139, 197);
    QTest::newRow("GroupBox3") << "GroupBox3" << QRect(177, 16, 167, 65);
    QTest::newRow("Panel1") << "Panel1" << QRect(11, 24, 150, 33);
    QTest::newRow("RadioGroup1") << "RadioGroup1" << QRect(177, 98, 167, 55);
    QTest::newRow("CheckBox1") << "CheckBox1" << QRect(184, 170, 160, 17);
    QTest::newRow("BitBtn1") << "BitBtn1" << QRect(197, 204, 125, 42);
}

void Unit1Test::controlGeometry()
{
    QFETCH(QString, name);
    QFETCH(QRect, geometry);
    Create();
    auto* control = m_form->findChild<QWidget*>(name);
    QVERIFY(control);
    QCOMPARE(control->geometry(), geometry);
}

void Unit1Test::trayAndMenu()
{
    Create();
    auto* tray = m_form->findChild<QSystemTrayIcon*>(QStringLiteral("TrayIcon1"));
    QVERIFY(tray);
    QCOMPARE(tray->toolTip(), QStringLiteral("Vellimor"));
    auto* menu = Control<QMenu>("PopupMenu1");
    const QList<QAction*> actions = menu->actions();
    QCOMPARE(actions.size(), 3);
    QCOMPARE(actions[0]->text(), QStringLiteral("顯示視窗(&S)"));
    QVERIFY(actions[1]->isSeparator());
    QCOMPARE(actions[2]->text(), QStringLiteral("結束程式(&E)"));

    // Any button on the icon, and the menu's first entry, bring the window back.
    for (const auto reason : { QSystemTrayIcon::Trigger, QSystemTrayIcon::Context, QSystemTrayIcon::MiddleClick }) {
        m_form->ShowMainWindow(false);
        QVERIFY(m_form->isHidden());
        emit tray->activated(reason);
        QVERIFY(m_form->isVisible());
        // A right click also opens the menu.
        QCOMPARE(menu->isVisible(), reason == QSystemTrayIcon::Context);
        menu->hide();
    }
    m_form->ShowMainWindow(false);
    actions[0]->trigger();
    QVERIFY(m_form->isVisible());
}

void Unit1Test::startWithoutSettingsFile()
{
    Create(false);
    const auto boxes = OpenMessages();
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0]->text(), QStringLiteral("\u3000開啟vlm1.cfg 錯誤!\u3000"));
    QVERIFY(!boxes[0]->isModal());
    // The box does not hold up the tick.
    QVERIFY(Control<QTimer>("Timer1")->isActive());
    TickAt(Thu(10, 0, 1));
    QCOMPARE(Control<QLabel>("Panel1")->text(), QStringLiteral("2015-02-12 10:00:01"));
    QVERIFY(m_form->isHidden());
    QVERIFY(boxes[0]->isVisible());
    // Once the user has closed the box the window is there, and the ticks leave it up.
    boxes[0]->button(QMessageBox::Ok)->click();
    QVERIFY(OpenMessages().isEmpty());
    QVERIFY(m_form->isVisible());
    TickAt(Thu(10, 0, 2));
    TickAt(Thu(10, 0, 3));
    QVERIFY(m_form->isVisible());
    QCOMPARE(m_cleanups, 1);
    // Defaults: one stroke, autostart on (and so registered), nothing ticked; nothing written yet.
    QVERIFY(Control<QRadioButton>("RadioGroup1Item0")->isChecked());
    QVERIFY(Control<QCheckBox>("CheckBox1")->isChecked());
    QCOMPARE(m_autostart.calls, QStringList { "register " + m_dir->path() });
    QVERIFY(!QFile::exists(ConfigPath()));
    // The first save creates the file.
    Control<QListWidget>("CheckListBox1")->item(3)->setCheckState(Qt::Checked);
    QCOMPARE(FileBytes(ConfigPath()).size(), 684);
}

void Unit1Test::startLoadsSettingsIntoControls()
{
    vlm::Settings settings;
    settings.BellChoice = 1;
    settings.Schedule[4][14] = 2; // stored oddly, shown ticked
    settings.Schedule[4][15] = 1;
    settings.Schedule[3][1] = 1;
    QVERIFY(vlm::SaveSettings(ConfigPath().toStdString(), settings));
    const QByteArray before = FileBytes(ConfigPath());
    Create(false);

    QVERIFY(OpenMessages().isEmpty());
    QCOMPARE(Control<QComboBox>("ComboBox2")->currentText(), QStringLiteral("星期四"));
    auto* hours = Control<QListWidget>("CheckListBox1");
    for (int h = 0; h < 24; ++h)
        QCOMPARE(hours->item(h)->checkState(), (h == 14 || h == 15) ? Qt::Checked : Qt::Unchecked);
    QVERIFY(Control<QRadioButton>("RadioGroup1Item1")->isChecked());
    QCOMPARE(FileBytes(ConfigPath()), before);
}

void Unit1Test::hourListEditsTheSelectedDay_data()
{
    QTest::addColumn<int>("day");
    QTest::addColumn<QList<int>>("hours");
    QTest::newRow("Sunday 0 and 23") << 0 << QList<int> { 0, 23 };
    QTest::newRow("Wednesday 5, 17") << 3 << QList<int> { 5, 17 };
    QTest::newRow("Saturday 12") << 6 << QList<int> { 12 };
    QTest::newRow("Thursday clears 14") << 4 << QList<int> {};
}

void Unit1Test::hourListEditsTheSelectedDay()
{
    QFETCH(int, day);
    QFETCH(QList<int>, hours);
    Create();
    auto* days = Control<QComboBox>("ComboBox2");
    days->setCurrentIndex(day);
    emit days->activated(day);
    auto* list = Control<QListWidget>("CheckListBox1");
    for (int h = 0; h < 24; ++h)
        list->item(h)->setCheckState(hours.contains(h) ? Qt::Checked : Qt::Unchecked);
    // Clearing Thursday's 14:00 is a change too; make sure at least one change reached the handler.
    list->item(hours.isEmpty() ? 14 : hours.first())->setCheckState(hours.isEmpty() ? Qt::Unchecked : Qt::Checked);

    vlm::Settings saved;
    QVERIFY(vlm::LoadSettings(ConfigPath().toStdString(), saved));
    for (int d = 0; d < 7; ++d)
        for (int h = 0; h < 24; ++h) {
            const bool want = d == day ? hours.contains(h) : (d == 4 && h == 14);
            QCOMPARE(saved.Schedule[d][h], want ? 1 : 0);
        }
}

void Unit1Test::everyDayWritesAllRows()
{
    Create();
    auto* days = Control<QComboBox>("ComboBox2");
    days->setCurrentIndex(7);
    emit days->activated(7);
    auto* list = Control<QListWidget>("CheckListBox1");
    // The list still shows today's row (14 ticked); the click copies it, as changed, to every day.
    QCOMPARE(list->item(14)->checkState(), Qt::Checked);
    list->item(14)->setCheckState(Qt::Unchecked);
    list->item(5)->setCheckState(Qt::Checked);
    list->item(17)->setCheckState(Qt::Checked);

    vlm::Settings saved;
    QVERIFY(vlm::LoadSettings(ConfigPath().toStdString(), saved));
    for (int d = 0; d < 7; ++d)
        for (int h = 0; h < 24; ++h)
            QCOMPARE(saved.Schedule[d][h], (h == 5 || h == 17) ? 1 : 0);

    days->setCurrentIndex(3);
    emit days->activated(3);
    for (int h = 0; h < 24; ++h)
        QCOMPARE(list->item(h)->checkState(), (h == 5 || h == 17) ? Qt::Checked : Qt::Unchecked);
}

void Unit1Test::mouseClickOnACheckBoxSaves()
{
    Create();
    auto* list = Control<QListWidget>("CheckListBox1");
    const QRect rect = list->visualItemRect(list->item(20));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(rect.left() + 9, rect.center().y()));
    QCOMPARE(list->item(20)->checkState(), Qt::Checked);
    vlm::Settings saved;
    QVERIFY(vlm::LoadSettings(ConfigPath().toStdString(), saved));
    QCOMPARE(saved.Schedule[4][20], 1);
}

void Unit1Test::codeSetControlsSaveNothing()
{
    Create();
    QFile::remove(ConfigPath());
    m_form->SelectToday();
    m_form->ShowDaySchedule(2);
    m_form->ShowMainWindow(true);
    TickAt(Thu(10, 0, 1));
    QVERIFY(!QFile::exists(ConfigPath()));
}

void Unit1Test::typedDayMatchingNoItemTouchesNoRow()
{
    Create();
    QFile::remove(ConfigPath());
    auto* days = Control<QComboBox>("ComboBox2");
    auto* list = Control<QListWidget>("CheckListBox1");
    days->lineEdit()->clear();
    Type(days->lineEdit(), QStringLiteral("星期八"));
    QCOMPARE(list->item(14)->checkState(), Qt::Checked); // still Thursday's row on screen
    list->item(2)->setCheckState(Qt::Checked);
    QVERIFY(!QFile::exists(ConfigPath()));
    QCOMPARE(m_form->Form().Store().Values().Schedule[4][2], 0);

    // Typing a day's name selects it.
    days->lineEdit()->clear();
    Type(days->lineEdit(), QStringLiteral("星期一"));
    QCOMPARE(list->item(14)->checkState(), Qt::Unchecked);
}

void Unit1Test::bellAndAutostartChoices()
{
    Create();
    QTest::mouseClick(Control<QRadioButton>("RadioGroup1Item1"), Qt::LeftButton);
    vlm::Settings saved;
    QVERIFY(vlm::LoadSettings(ConfigPath().toStdString(), saved));
    QCOMPARE(saved.BellChoice, 1);

    auto* autostart = Control<QCheckBox>("CheckBox1");
    QVERIFY(!autostart->isChecked());
    QVERIFY(m_autostart.calls.isEmpty());
    QTest::mouseClick(autostart, Qt::LeftButton);
    QTest::mouseClick(autostart, Qt::LeftButton);
    QCOMPARE(m_autostart.calls, QStringList({ "register " + m_dir->path(), "unregister " + m_dir->path() }));
    QCOMPARE(FileBytes(ConfigPath()).at(680), char(0));

    m_autostart.failure = QStringLiteral("Failed to set data for 'VLM'");
    QTest::mouseClick(autostart, Qt::LeftButton);
    QCOMPARE(OpenMessages().size(), 1);
    QCOMPARE(OpenMessages()[0]->text(), QStringLiteral("Failed to set data for 'VLM'"));
}

void Unit1Test::closeHidesAndExitSaves()
{
    Create();
    QVERIFY(!m_form->close());
    QVERIFY(m_form->isHidden());

    QFile::remove(ConfigPath());
    QSignalSpy exit(m_form.get(), &TForm1::exitRequested);
    Control<QMenu>("PopupMenu1")->actions()[2]->trigger();
    QCOMPARE(exit.count(), 1);
    QCOMPARE(FileBytes(ConfigPath()).size(), 684);

    // The session ending asks the application to quit: the program saves and ends rather than refusing.
    QFile::remove(ConfigPath());
    qApp->installEventFilter(m_form.get());
    QEvent quit(QEvent::Quit);
    QCoreApplication::sendEvent(qApp, &quit);
    QCOMPARE(exit.count(), 2);
    QCOMPARE(FileBytes(ConfigPath()).size(), 684);
}

void Unit1Test::withoutNotificationAreaHidingMinimises()
{
    m_tray = false;
    Create();
    TickAt(Thu(10, 0, 1));
    QVERIFY(m_form->isVisible());
    QVERIFY(m_form->isMinimized());
    m_form->ShowMainWindow(true);
    QVERIFY(!m_form->isMinimized());

    // Once a notification area appears, hiding hides again.
    m_tray = true;
    TickAt(Thu(10, 0, 2));
    m_form->ShowMainWindow(false);
    QVERIFY(m_form->isHidden());
}

void Unit1Test::firstTickHidesAndCleansUpOnce()
{
    Create();
    QVERIFY(m_form->isVisible());
    QVERIFY(!m_form->Form().FirstTickDone());
    TickAt(Thu(10, 0, 1));
    QVERIFY(m_form->isHidden());
    QCOMPARE(m_cleanups, 1);
    m_form->ShowMainWindow(true);
    TickAt(Thu(10, 0, 2));
    QVERIFY(m_form->isVisible());
    QCOMPARE(m_cleanups, 1);
    QVERIFY(Control<QTimer>("Timer1")->isActive());
}

void Unit1Test::scheduledReminderPlaysThroughThePlayer()
{
    Create();
    const QString music = m_dir->filePath(QString::fromUtf8(vlm::MusicList[0].data(), vlm::MusicList[0].size()));
    QDir(m_dir->path()).mkpath(QStringLiteral("Music"));
    for (const QString& file : { music, m_dir->filePath(QStringLiteral("bell1.wav")) })
        std::ofstream(file.toStdString()) << "x";

    TickAt(Thu(14, 52, 58));
    TickAt(Thu(14, 52, 59));
    QCOMPARE(m_form->Form().Reminders().Mode(), vlm::ReminderMode::Scheduled);
    QVERIFY(m_player.calls.isEmpty());
    TickAt(Thu(14, 53, 0));
    QCOMPARE(m_player.calls, QStringList { "play " + music });
    QVERIFY(m_form->isVisible());
    TickAt(Thu(14, 55, 0));
    QCOMPARE(m_player.calls.mid(1), QStringList({ "stop", "play " + m_dir->filePath("bell1.wav") }));
    QCOMPARE(m_form->Form().Store().Values().RotationCounter, 1);
    vlm::Settings saved;
    QVERIFY(vlm::LoadSettings(ConfigPath().toStdString(), saved));
    QCOMPARE(saved.RotationCounter, 1);

    // A missing bell file is skipped silently.
    QFile::remove(m_dir->filePath("bell1.wav"));
    m_player.calls.clear();
    TickAt(Thu(15, 0, 0));
    QVERIFY(m_player.calls.isEmpty());
    QVERIFY(OpenMessages().isEmpty());
}

void Unit1Test::ringNowRingsTwoSecondsLater()
{
    Create();
    std::ofstream(m_dir->filePath("bell1.wav").toStdString()) << "x";
    TickAt(Thu(10, 0, 1));
    m_player.playing = true;
    At(Thu(10, 0, 1), 400);
    QTest::mouseClick(Control<QPushButton>("BitBtn1"), Qt::LeftButton);
    QCOMPARE(m_player.calls, QStringList { "stop" });
    TickAt(Thu(10, 0, 2));
    QCOMPARE(m_player.calls.size(), 1);
    TickAt(Thu(10, 0, 3));
    QCOMPARE(m_player.calls.last(), "play " + m_dir->filePath("bell1.wav"));
    QVERIFY(m_form->isVisible());
}

void Unit1Test::failedOpenIsShownAndTheReminderGoesOn()
{
    Create();
    std::ofstream(m_dir->filePath("bell1.wav").toStdString()) << "x";
    m_player.failure = QStringLiteral("Format not recognised.");
    m_form->BitBtn1Click();
    TickAt(Thu(10, 0, 2));
    QCOMPARE(OpenMessages().size(), 1);
    QCOMPARE(OpenMessages()[0]->text(), QStringLiteral("Format not recognised."));
    QVERIFY(m_form->Form().Reminders().CueTable()[0].Done);
    m_player.failure.clear();
    m_player.calls.clear();
    TickAt(Thu(10, 5, 2));
    QCOMPARE(m_player.calls, QStringList { "play " + m_dir->filePath("bell1.wav") });
}

void Unit1Test::messagesBelongToTheWindowOnePerText()
{
    Create();
    std::ofstream(m_dir->filePath("bell1.wav").toStdString()) << "x";
    m_player.failure = QStringLiteral("Format not recognised.");
    // Two silent reminders: eight failing cues.
    for (int round = 0; round < 2; ++round) {
        const std::int64_t start = Thu(10 + round, 0, 0);
        At(start);
        m_form->BitBtn1Click();
        for (int cue = 0; cue < 4; ++cue)
            TickAt(start + 2 + 300 * cue);
    }
    QCOMPARE(OpenMessages().size(), 1);
    QMessageBox* box = OpenMessages()[0];
    // Owned by the main window, so the desktop keeps it above that window; hiding and showing the window keeps it.
    QCOMPARE(box->parentWidget(), m_form.get());
    QCOMPARE(box->windowHandle()->transientParent(), m_form->windowHandle());
    m_form->ShowMainWindow(false);
    m_form->ShowMainWindow(true);
    QVERIFY(box->isVisible());

    // Another text gets a box of its own; once a box is closed, its text may come again. Closing a box opened
    // after start-up leaves the window as it was.
    m_form->ShowMessage("\u3000開啟vlm1.cfg 錯誤!\u3000");
    QCOMPARE(OpenMessages().size(), 2);
    m_form->ShowMainWindow(false);
    box->close();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCOMPARE(OpenMessages().size(), 1);
    QVERIFY(m_form->isHidden());
    m_form->ShowMessage("Format not recognised.");
    QCOMPARE(OpenMessages().size(), 2);
}

void Unit1Test::exitWithAFailedSaveEndsOnceTheBoxIsClosed()
{
    Create();
    QSignalSpy exit(m_form.get(), &TForm1::exitRequested);
    QFile::setPermissions(ConfigPath(), QFile::ReadOwner);
    Control<QMenu>("PopupMenu1")->actions()[2]->trigger();
    QCOMPARE(OpenMessages().size(), 1);
    QCOMPARE(OpenMessages()[0]->text(), QStringLiteral(" 更改設定存檔錯誤 "));
    QTest::qWait(50);
    QCOMPARE(exit.count(), 0);
    OpenMessages()[0]->button(QMessageBox::Ok)->click();
    QCOMPARE(exit.count(), 1);

    // At the session's end or on SIGTERM nobody is there to read a box: the program ends at once.
    exit.clear();
    m_form->EndSession();
    QCOMPARE(exit.count(), 1);
    QVERIFY(OpenMessages().isEmpty());
}

void Unit1Test::notificationAreaGoingAwayWhileHidden()
{
    Create();
    TickAt(Thu(10, 0, 1));
    QVERIFY(m_form->isHidden());
    // Hidden with no way back: it goes to the taskbar.
    m_tray = false;
    TickAt(Thu(10, 0, 2));
    QVERIFY(m_form->isVisible());
    QVERIFY(m_form->isMinimized());
    // Back again: hiding hides.
    m_tray = true;
    TickAt(Thu(10, 0, 3));
    m_form->ShowMainWindow(true);
    m_form->ShowMainWindow(false);
    QVERIFY(m_form->isHidden());
}

void Unit1Test::clickOnAnHoursTextRunsTheHandler()
{
    Create();
    auto* days = Control<QComboBox>("ComboBox2");
    days->setCurrentIndex(7);
    emit days->activated(7);
    auto* list = Control<QListWidget>("CheckListBox1");
    // On the text, well right of the box: nothing changes on screen, yet the shown row becomes every day's.
    const QRect rect = list->visualItemRect(list->item(6));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(rect.left() + 40, rect.center().y()));
    QCOMPARE(list->item(6)->checkState(), Qt::Unchecked);
    vlm::Settings saved;
    QVERIFY(vlm::LoadSettings(ConfigPath().toStdString(), saved));
    for (int d = 0; d < 7; ++d)
        for (int h = 0; h < 24; ++h)
            QCOMPARE(saved.Schedule[d][h], h == 14 ? 1 : 0);

    // A click on a box changes it and saves it once.
    QFile::remove(ConfigPath());
    const QRect box = list->visualItemRect(list->item(8));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(box.left() + 9, box.center().y()));
    QCOMPARE(list->item(8)->checkState(), Qt::Checked);
    QVERIFY(vlm::LoadSettings(ConfigPath().toStdString(), saved));
    QCOMPARE(saved.Schedule[2][8], 1);

    // The space bar changes the current item's box, and that is saved too.
    list->setCurrentRow(9);
    QTest::keyClick(list, Qt::Key_Space);
    QCOMPARE(list->item(9)->checkState(), Qt::Checked);
    QVERIFY(vlm::LoadSettings(ConfigPath().toStdString(), saved));
    QCOMPARE(saved.Schedule[5][9], 1);
}

QTEST_MAIN(Unit1Test)
#include "unit1_test.moc"
