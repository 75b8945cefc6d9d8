#include "shell/Unit1.h"

#include "shell/autostart_store.h"
#include "shell/logging.h"
#include "shell/sound_player.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QFileInfo>
#include <QGroupBox>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QTimer>

#include <ctime>

namespace {

const char* const kCaption = "Vellimor - 20150212 (Unicode)";
const char* const kTrayTip = "Vellimor";
const char* const kDayItems[] { "星期日", "星期一", "星期二", "星期三", "星期四", "星期五", "星期六", "每一天" };
constexpr int kEveryDay = 7;
const QColor kMoneyGreen(192, 220, 192);
constexpr int kClientWidth = 364;
constexpr int kClientHeight = 259;
// Ticks are aimed this far past each full second, so the reading is already the new second.
constexpr int kTickMarginMs = 3;

QFont PixelFont(const char* family, int pixels)
{
    QFont font(QString::fromLatin1(family));
    font.setPixelSize(pixels);
    return font;
}

QIcon ApplicationIcon()
{
    QIcon icon;
    for (const int size : { 16, 22, 24, 32, 48, 64, 128, 256 }) {
        const QString file = QStringLiteral(":/icons/vlm-%1.png").arg(size);
        if (QFileInfo::exists(file))
            icon.addFile(file, QSize(size, size));
    }
    return icon;
}

} // namespace

TForm1::TForm1(TForm1Services services, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
    , m_services(std::move(services))
    , m_clock(*m_services.time)
    , m_scheduler(*this, m_settings, m_sounds)
{
    if (!m_services.trayAvailable)
        m_services.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    if (!m_services.deleteLegacyFiles)
        m_services.deleteLegacyFiles = [] {};
    BuildControls();
}

TForm1::~TForm1() = default;

void TForm1::BuildControls()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QString::fromUtf8(kCaption));
    setFixedSize(kClientWidth, kClientHeight);
    setFont(PixelFont("Arial", 12));
    QPalette green = palette();
    green.setColor(QPalette::Window, kMoneyGreen);
    setPalette(green);
    setAutoFillBackground(true);
    const QIcon icon = ApplicationIcon();
    setWindowIcon(icon);

    // Group boxes keep the ordinary button-face colour on the green form.
    QPalette face = palette();
    face.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    const auto groupBox = [this, &face](const QString& title, const QString& name, const QRect& geometry) {
        auto* box = new QGroupBox(title, this);
        box->setObjectName(name);
        box->setGeometry(geometry);
        box->setPalette(face);
        box->setAutoFillBackground(true);
        return box;
    };

    RadioGroup1 = groupBox(QStringLiteral("提醒鐘聲"), QStringLiteral("RadioGroup1"), QRect(177, 98, 167, 55));
    m_bellButtons = new QButtonGroup(RadioGroup1);
    const char* const bells[] { "一聲鐘聲", "三聲鐘聲" };
    for (int i = 0; i < 2; ++i) {
        auto* button = new QRadioButton(QString::fromUtf8(bells[i]), RadioGroup1);
        button->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(i));
        button->setGeometry(8 + i * 80, 22, 78, 24);
        m_bellButtons->addButton(button, i);
    }
    m_bellButtons->button(0)->setChecked(true);

    GroupBox3 = groupBox(QStringLiteral("目前電腦北京時間"), QStringLiteral("GroupBox3"), QRect(177, 16, 167, 65));
    Panel1 = new QLabel(GroupBox3);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(11, 24, 150, 33);
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setAlignment(Qt::AlignCenter);
    Panel1->setFont(PixelFont("Verdana", 13));

    BitBtn1 = new QPushButton(QStringLiteral("立即Vellimor"), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(197, 204, 125, 42);
    BitBtn1->setFont(PixelFont("Arial", 13));

    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    ComboBox2->setGeometry(43, 16, 81, 23);
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
    for (const char* day : kDayItems)
        ComboBox2->addItem(QString::fromUtf8(day));
    ComboBox2->setCurrentIndex(0);

    CheckListBox1 = new QListWidget(this);
    CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
    CheckListBox1->setGeometry(16, 50, 139, 197);
    CheckListBox1->setFont(PixelFont("Arial", 13));
    // Two columns of twelve hours, filled top to bottom.
    CheckListBox1->setFlow(QListView::TopToBottom);
    CheckListBox1->setWrapping(true);
    CheckListBox1->setResizeMode(QListView::Adjust);
    CheckListBox1->setUniformItemSizes(true);
    CheckListBox1->setGridSize(QSize((139 - 4) / 2, 16));
    CheckListBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    CheckListBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int h = 0; h < vlm::kHourCount; ++h) {
        auto* item = new QListWidgetItem(QStringLiteral("%1:55").arg(h, 2, 10, QLatin1Char('0')), CheckListBox1);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }

    CheckBox1 = new QCheckBox(QStringLiteral("電腦一開機便自動啟動。"), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(184, 170, 160, 17);
    CheckBox1->setChecked(true);

    // Tab order: RadioGroup1, GroupBox3, (player), BitBtn1, ComboBox2, CheckListBox1, CheckBox1.
    setTabOrder(m_bellButtons->button(0), BitBtn1);
    setTabOrder(BitBtn1, ComboBox2);
    setTabOrder(ComboBox2, CheckListBox1);
    setTabOrder(CheckListBox1, CheckBox1);

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setSingleShot(true);
    Timer1->setTimerType(Qt::PreciseTimer);

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    N1 = PopupMenu1->addAction(QStringLiteral("顯示視窗(&S)"));
    N1->setObjectName(QStringLiteral("N1"));
    N2 = PopupMenu1->addSeparator();
    N2->setObjectName(QStringLiteral("N2"));
    N3 = PopupMenu1->addAction(QStringLiteral("結束程式(&E)"));
    N3->setObjectName(QStringLiteral("N3"));

    TrayIcon1 = new QSystemTrayIcon(icon, this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    TrayIcon1->setToolTip(QString::fromLatin1(kTrayTip));

    connect(ComboBox2, &QComboBox::activated, this, &TForm1::ComboBox2Change);
    connect(ComboBox2->lineEdit(), &QLineEdit::textEdited, this, &TForm1::ComboBox2Change);
    connect(CheckListBox1, &QListWidget::itemChanged, this, &TForm1::CheckListBox1Click);
    connect(m_bellButtons, &QButtonGroup::idClicked, this, &TForm1::RadioGroup1Click);
    connect(CheckBox1, &QCheckBox::clicked, this, &TForm1::CheckBox1Click);
    connect(BitBtn1, &QPushButton::clicked, this, &TForm1::BitBtn1Click);
    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(TrayIcon1, &QSystemTrayIcon::activated, this, &TForm1::TrayIcon1MouseDown);
    connect(N1, &QAction::triggered, this, &TForm1::N1Click);
    connect(N3, &QAction::triggered, this, &TForm1::N3Click);
}

void TForm1::FormCreate()
{
    m_sounds = vlm::SoundCatalogue(vlm::ProgramDirOf(m_services.executablePath.toStdString()));
    m_settings.SetPath(m_sounds.ProgramDir() + "/" + vlm::kSettingsFileName);
    QDir::setCurrent(m_sounds.ProgramDir().empty() ? QStringLiteral("/") : ProgramDir());

    // The tick runs from here on, whatever the rest of start-up shows or fails at.
    m_trayAvailable = m_services.trayAvailable();
    TrayIcon1->show();
    Timer1->start(1000);
    m_clock.UpdateClock();
    Panel1->setText(QString::fromStdString(m_clock.Text()));

    if (!m_settings.Load()) {
        qCWarning(lcSettings) << "cannot read" << QString::fromStdString(m_settings.Path());
        ShowSettingsMessage(vlm::SettingsMessage::LoadFailed);
    }
    ApplySettingsToControls();
    SelectToday();

    if (CheckBox1->isChecked())
        RegisterAutostart();
}

void TForm1::RegisterAutostart()
{
    if (!m_services.autostart)
        return;
    const QString error = m_services.autostart->RegisterAutostart(ProgramDir());
    if (!error.isEmpty())
        ShowMessage(error);
}

void TForm1::ApplySettingsToControls()
{
    const vlm::Settings& values = m_settings.Values();
    m_bellButtons->button(values.BellChoice)->setChecked(true);
    const QSignalBlocker blocker(CheckBox1);
    CheckBox1->setChecked(values.AutostartFlag);
}

void TForm1::Timer1Timer()
{
    Timer1->stop();
    if (!m_firstTickDone) {
        m_firstTickDone = true;
        ShowMainWindow(false);
        m_services.deleteLegacyFiles();
    }
    CheckTrayAvailability();

    m_clock.UpdateClock();
    Panel1->setText(QString::fromStdString(m_clock.Text()));
    const auto msIntoSecond = std::chrono::duration_cast<std::chrono::milliseconds>(
        m_clock.LastNow().time_since_epoch() % std::chrono::seconds(1));
    qCDebug(lcTick).noquote() << "tick" << QString::fromStdString(m_clock.Text()) << "late" << msIntoSecond.count()
                              << "ms";

    const vlm::ReminderMode before = m_scheduler.Mode();
    m_scheduler.SchedulerTick(m_clock.UtcSecond());
    if (m_scheduler.Mode() != before)
        qCInfo(lcScheduler) << "mode" << int(before) << "->" << int(m_scheduler.Mode()) << "current cue"
                            << m_scheduler.CurrentCue();

    Timer1->start(NextTickDelay(m_services.time->Now()));
}

int TForm1::NextTickDelay(std::chrono::system_clock::time_point now)
{
    const auto intoSecond = std::chrono::duration_cast<std::chrono::milliseconds>(
        now.time_since_epoch() - std::chrono::floor<std::chrono::seconds>(now.time_since_epoch()));
    return static_cast<int>(1000 - intoSecond.count()) + kTickMarginMs;
}

void TForm1::ShowMainWindow(bool show)
{
    qCDebug(lcWindow) << (show ? "show" : "hide");
    if (!show) {
        HideMainWindow();
        return;
    }
    if (isMinimized())
        showNormal();
    else
        QWidget::show();
    raise();
    // Taking the focus would close the tray menu a right click has just opened.
    if (!QApplication::activePopupWidget())
        activateWindow();
}

// Without a notification area a hidden window could never be brought back, so it goes to the taskbar instead.
void TForm1::HideMainWindow()
{
    if (m_trayAvailable)
        hide();
    else
        showMinimized();
}

void TForm1::CheckTrayAvailability()
{
    const bool available = m_services.trayAvailable();
    if (available == m_trayAvailable)
        return;
    m_trayAvailable = available;
    qCInfo(lcWindow) << "notification area" << (available ? "appeared" : "gone");
    if (available) {
        // Dock the icon in the new notification area.
        TrayIcon1->hide();
        TrayIcon1->show();
    }
}

void TForm1::SelectToday()
{
    const std::int64_t now = std::chrono::floor<std::chrono::seconds>(m_services.time->Now().time_since_epoch())
                                 .count();
    const int day = vlm::ClockReading::At(now).LocalWeekday;
    {
        const QSignalBlocker blocker(ComboBox2);
        const QSignalBlocker editBlocker(ComboBox2->lineEdit());
        ComboBox2->setCurrentIndex(day);
    }
    ShowDaySchedule(day);
}

void TForm1::ShowDaySchedule(int day)
{
    const QSignalBlocker blocker(CheckListBox1);
    const auto& row = m_settings.Values().Schedule[day];
    for (int h = 0; h < vlm::kHourCount; ++h)
        CheckListBox1->item(h)->setCheckState(row[h] != 0 ? Qt::Checked : Qt::Unchecked);
}

int TForm1::SelectedDay() const
{
    return ComboBox2->findText(ComboBox2->currentText(), Qt::MatchExactly);
}

void TForm1::ComboBox2Change()
{
    const int day = SelectedDay();
    if (day >= 0 && day < kEveryDay)
        ShowDaySchedule(day);
}

void TForm1::CheckListBox1Click()
{
    const int day = SelectedDay();
    if (day < 0)
        return;
    std::array<std::int32_t, vlm::kHourCount> row {};
    for (int h = 0; h < vlm::kHourCount; ++h)
        row[h] = CheckListBox1->item(h)->checkState() == Qt::Checked ? 1 : 0;
    auto& schedule = m_settings.Values().Schedule;
    if (day == kEveryDay)
        schedule.fill(row);
    else
        schedule[day] = row;
    SaveSettings();
}

void TForm1::RadioGroup1Click()
{
    m_settings.Values().BellChoice = m_bellButtons->checkedId();
    SaveSettings();
}

void TForm1::CheckBox1Click()
{
    m_settings.Values().AutostartFlag = CheckBox1->isChecked();
    SaveSettings();
    // The box says whether the program starts at logon, so the entry follows it at once.
    if (CheckBox1->isChecked())
        RegisterAutostart();
    else if (m_services.autostart)
        m_services.autostart->UnregisterAutostart(ProgramDir());
}

void TForm1::BitBtn1Click()
{
    m_clock.UpdateClock();
    Panel1->setText(QString::fromStdString(m_clock.Text()));
    m_scheduler.StartImmediateReminder(m_clock.UtcSecond());
    qCInfo(lcScheduler).noquote() << "immediate reminder from" << QString::fromStdString(m_clock.Text());
}

void TForm1::PlayCue(int i)
{
    const QString path = QString::fromStdString(m_scheduler.CueTable()[i].Path);
    const QFileInfo file(path);
    if (!file.exists() || file.isDir()) {
        qCInfo(lcScheduler).noquote() << "cue" << i << "skipped, no file" << path;
        return;
    }
    ShowMainWindow(true);
    qCInfo(lcScheduler).noquote() << "cue" << i << "plays" << path;
    if (!m_services.player)
        return;
    if (m_services.player->IsPlaying())
        m_services.player->Stop();
    // A failed open is shown and the cue still counts as played, so the reminder goes on to its next cue.
    const QString error = m_services.player->Play(path);
    if (!error.isEmpty())
        ShowMessage(error);
}

void TForm1::StopSound()
{
    if (m_services.player && m_services.player->IsPlaying())
        m_services.player->Stop();
}

void TForm1::ShowSettingsMessage(vlm::SettingsMessage message)
{
    ShowMessage(QString::fromUtf8(vlm::MessageText(message)));
}

void TForm1::SaveSettings()
{
    if (m_settings.Save()) {
        qCDebug(lcSettings) << "saved" << QString::fromStdString(m_settings.Path());
        return;
    }
    qCWarning(lcSettings) << "cannot save" << QString::fromStdString(m_settings.Path());
    ShowSettingsMessage(vlm::SettingsMessage::SaveFailed);
}

void TForm1::ShowMessage(const QString& text)
{
    qCInfo(lcWindow).noquote() << "message" << text;
    auto* box = new QMessageBox(QMessageBox::NoIcon, windowTitle(), text, QMessageBox::Ok);
    box->setObjectName(QStringLiteral("MessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->setWindowIcon(windowIcon());
    box->show();
    box->raise();
}

void TForm1::TrayIcon1MouseDown(QSystemTrayIcon::ActivationReason reason)
{
    ShowMainWindow(true);
    // The menu is opened here, after the window, rather than by the icon itself: a window mapped after the
    // menu takes the focus from it and the menu closes again.
    if (reason == QSystemTrayIcon::Context)
        PopupMenu1->popup(QCursor::pos());
}

void TForm1::N1Click()
{
    ShowMainWindow(true);
}

void TForm1::N3Click()
{
    SaveSettings();
    emit exitRequested();
}

// A quit request would first ask every window to close, which this window refuses; at log-off or shut-down that
// would keep the session from ending and lose the settings, so the request is answered by saving and ending.
bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
        qCInfo(lcWindow) << "quit requested";
        N3Click();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // The window is never closed, only hidden; the program ends from the tray menu.
    event->ignore();
    ShowMainWindow(false);
}
