#include "shell/qt/Unit1.h"

#include "core/window_definition.h"
#include "shell/qt/logging.h"

#include <QAction>
#include <QApplication>
#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCursor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusServiceWatcher>
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
#include <QTimer>

#include <memory>

namespace form = vlm::form;

namespace {

QString Text(const char* utf8)
{
    return QString::fromUtf8(utf8);
}

QRect Geometry(const form::Rect& r)
{
    return QRect(r.Left, r.Top, r.Width, r.Height);
}

QFont PixelFont(const form::Font& definition)
{
    QFont font(QString::fromLatin1(definition.Family));
    font.setPixelSize(definition.PixelHeight);
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
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
    , m_services(std::move(services))
    , m_form(*this, m_services.form)
{
    m_askQtForTray = !m_services.trayAvailable;
    if (m_askQtForTray)
        m_services.trayAvailable = [] { return QSystemTrayIcon::isSystemTrayAvailable(); };
    BuildControls();
    // The window exists from the start (though not yet shown), so a message shown during start-up already
    // belongs to it and stays above it.
    winId();
}

TForm1::~TForm1()
{
    for (const QPointer<QMessageBox>& box : std::as_const(m_messages))
        delete box.data();
}

void TForm1::BuildControls()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(Text(form::kCaption));
    setFixedSize(form::kClientWidth, form::kClientHeight);
    setFont(PixelFont(form::kFormFont));
    QPalette green = palette();
    green.setColor(QPalette::Window, QColor(form::kFormColour.Red, form::kFormColour.Green, form::kFormColour.Blue));
    setPalette(green);
    setAutoFillBackground(true);
    const QIcon icon = ApplicationIcon();
    setWindowIcon(icon);

    // Group boxes keep the ordinary button-face colour on the green form.
    QPalette face = palette();
    face.setColor(QPalette::Window, QApplication::palette().color(QPalette::Button));
    const auto groupBox = [this, &face](const char* title, const QString& name, const form::Rect& geometry) {
        auto* box = new QGroupBox(Text(title), this);
        box->setObjectName(name);
        box->setGeometry(Geometry(geometry));
        box->setPalette(face);
        box->setAutoFillBackground(true);
        return box;
    };

    RadioGroup1 = groupBox(form::kRadioGroup1Caption, QStringLiteral("RadioGroup1"), form::kRadioGroup1);
    m_bellButtons = new QButtonGroup(RadioGroup1);
    for (int i = 0; i < int(form::kBellItems.size()); ++i) {
        auto* button = new QRadioButton(Text(form::kBellItems[i]), RadioGroup1);
        button->setObjectName(QStringLiteral("RadioGroup1Item%1").arg(i));
        button->setGeometry(8 + i * 80, 22, 78, 24);
        m_bellButtons->addButton(button, i);
    }
    m_bellButtons->button(0)->setChecked(true);

    GroupBox3 = groupBox(form::kGroupBox3Caption, QStringLiteral("GroupBox3"), form::kGroupBox3);
    Panel1 = new QLabel(GroupBox3);
    Panel1->setObjectName(QStringLiteral("Panel1"));
    Panel1->setGeometry(Geometry(form::kPanel1));
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Panel1->setAlignment(Qt::AlignCenter);
    Panel1->setFont(PixelFont(form::kPanel1Font));

    BitBtn1 = new QPushButton(Text(form::kBitBtn1Caption), this);
    BitBtn1->setObjectName(QStringLiteral("BitBtn1"));
    BitBtn1->setGeometry(Geometry(form::kBitBtn1));
    BitBtn1->setFont(PixelFont(form::kBitBtn1Font));

    ComboBox2 = new QComboBox(this);
    ComboBox2->setObjectName(QStringLiteral("ComboBox2"));
    ComboBox2->setGeometry(Geometry(form::kComboBox2));
    ComboBox2->setFont(PixelFont(form::kComboBox2Font));
    ComboBox2->setEditable(true);
    ComboBox2->setInsertPolicy(QComboBox::NoInsert);
    for (const char* day : form::kDayItems)
        ComboBox2->addItem(Text(day));
    ComboBox2->setCurrentIndex(0);

    CheckListBox1 = new QListWidget(this);
    CheckListBox1->setObjectName(QStringLiteral("CheckListBox1"));
    CheckListBox1->setGeometry(Geometry(form::kCheckListBox1));
    CheckListBox1->setFont(PixelFont(form::kCheckListBox1Font));
    // Two columns of twelve hours, filled top to bottom.
    CheckListBox1->setFlow(QListView::TopToBottom);
    CheckListBox1->setWrapping(true);
    CheckListBox1->setResizeMode(QListView::Adjust);
    CheckListBox1->setUniformItemSizes(true);
    CheckListBox1->setGridSize(QSize((form::kCheckListBox1.Width - 4) / form::kHourColumns, 16));
    CheckListBox1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    CheckListBox1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (int h = 0; h < vlm::kHourCount; ++h) {
        auto* item = new QListWidgetItem(QString::fromStdString(form::HourItemText(h)), CheckListBox1);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
        item->setCheckState(Qt::Unchecked);
    }

    CheckBox1 = new QCheckBox(Text(form::kCheckBox1Caption), this);
    CheckBox1->setObjectName(QStringLiteral("CheckBox1"));
    CheckBox1->setGeometry(Geometry(form::kCheckBox1));
    CheckBox1->setChecked(true);

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
    N1 = PopupMenu1->addAction(Text(form::kN1Caption));
    N1->setObjectName(QStringLiteral("N1"));
    N2 = PopupMenu1->addSeparator();
    N2->setObjectName(QStringLiteral("N2"));
    N3 = PopupMenu1->addAction(Text(form::kN3Caption));
    N3->setObjectName(QStringLiteral("N3"));

    TrayIcon1 = new QSystemTrayIcon(icon, this);
    TrayIcon1->setObjectName(QStringLiteral("TrayIcon1"));
    TrayIcon1->setToolTip(Text(form::kTrayTip));

    connect(ComboBox2, &QComboBox::activated, this, &TForm1::ComboBox2Change);
    connect(ComboBox2->lineEdit(), &QLineEdit::textEdited, this, &TForm1::ComboBox2Change);
    connect(CheckListBox1, &QListWidget::itemChanged, this, &TForm1::OnHourItemChanged);
    connect(CheckListBox1, &QListWidget::itemClicked, this, &TForm1::OnHourItemClicked);
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
    ServeMenuThroughTray();
    TrayIcon1->show();
    m_form.FormCreate(m_services.executablePath.toStdString());
}

void TForm1::Timer1Timer()
{
    m_form.Timer1Timer();
}

void TForm1::ComboBox2Change()
{
    m_form.ComboBox2Change(vlm::MainForm::DayOfSelectorText(ComboBox2->currentText().toStdString()));
}

void TForm1::CheckListBox1Click()
{
    vlm::HourChecks checks {};
    for (int h = 0; h < vlm::kHourCount; ++h)
        checks[h] = CheckListBox1->item(h)->checkState() == Qt::Checked;
    m_form.CheckListBox1Click(vlm::MainForm::DayOfSelectorText(ComboBox2->currentText().toStdString()), checks);
}

// Every change of a check mark runs the handler, by mouse or by the space bar, and so does a click anywhere on an
// item. A click on a box both changes it and clicks it; that runs the handler once.
void TForm1::OnHourItemChanged()
{
    CheckListBox1Click();
    m_changeHandled = true;
    QTimer::singleShot(0, this, [this] { m_changeHandled = false; });
}

void TForm1::OnHourItemClicked()
{
    if (m_changeHandled) {
        m_changeHandled = false;
        return;
    }
    CheckListBox1Click();
}

void TForm1::RadioGroup1Click()
{
    m_form.RadioGroup1Click(m_bellButtons->checkedId());
}

void TForm1::CheckBox1Click()
{
    m_form.CheckBox1Click(CheckBox1->isChecked());
}

void TForm1::BitBtn1Click()
{
    m_form.BitBtn1Click();
}

void TForm1::TrayIcon1MouseDown(QSystemTrayIcon::ActivationReason reason)
{
    m_form.TrayIcon1MouseDown();
    // The menu is opened here, after the window, rather than by the icon itself: a window mapped after the
    // menu takes the focus from it and the menu closes again. A tray that draws the menu itself opens its own.
    if (reason == QSystemTrayIcon::Context && !m_trayDrawsMenu)
        PopupMenu1->popup(QCursor::pos());
}

// A StatusNotifierItem tray (reached over D-Bus) draws the menu from what the icon exports and opens it on a right
// click without telling the icon; an XEmbed tray leaves the menu to the program. Only the first kind gives the
// menu a platform counterpart.
void TForm1::ServeMenuThroughTray()
{
    TrayIcon1->setContextMenu(PopupMenu1);
    m_trayDrawsMenu = PopupMenu1->platformMenu() != nullptr;
    if (!m_trayDrawsMenu) {
        TrayIcon1->setContextMenu(nullptr);
        return;
    }
    // A press on the icon shows the window whichever button it was, so the menu opening brings it up too.
    connect(PopupMenu1, &QMenu::aboutToShow, this, [this] { m_form.TrayIcon1MouseDown(); });
    if (m_askQtForTray)
        WatchTrayOnTheBus();
}

// Asking Qt whether such a tray is there costs several D-Bus round trips each time, and the tick asks every second;
// the bus says when the tray's watcher comes and goes instead.
void TForm1::WatchTrayOnTheBus()
{
    const QString service = QStringLiteral("org.kde.StatusNotifierWatcher");
    QDBusConnection bus = QDBusConnection::sessionBus();
    auto* watcher = new QDBusServiceWatcher(service, bus, QDBusServiceWatcher::WatchForOwnerChange, this);
    auto present = std::make_shared<bool>(bus.interface()->isServiceRegistered(service));
    connect(watcher, &QDBusServiceWatcher::serviceRegistered, this, [present] { *present = true; });
    connect(watcher, &QDBusServiceWatcher::serviceUnregistered, this, [present] { *present = false; });
    m_services.trayAvailable = [present] { return *present; };
}

void TForm1::N1Click()
{
    m_form.N1Click();
}

void TForm1::N3Click()
{
    m_form.N3Click();
}

void TForm1::EndSession()
{
    m_form.EndSession();
}

void TForm1::CommitData()
{
    m_form.CommitData();
}

// A quit request would first ask every window to close, which this window refuses; at log-off or shut-down that
// would keep the session from ending and lose the settings, so the request is answered by saving and ending.
bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == QCoreApplication::instance() && event->type() == QEvent::Quit) {
        qCInfo(lcWindow) << "quit requested";
        EndSession();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::closeEvent(QCloseEvent* event)
{
    // The window is never closed, only hidden; the program ends from the tray menu.
    event->ignore();
    m_form.FormCloseQuery();
}

void TForm1::ShowWindow()
{
    if (isMinimized() || m_minimizeRequested) {
        // A Wayland desktop never says whether a window is minimised; mapping it afresh is how it comes back.
        if (!isMinimized())
            hide();
        showNormal();
    } else
        show();
    m_minimizeRequested = false;
    raise();
    // Taking the focus would close the tray menu a right click has just opened.
    if (!QApplication::activePopupWidget())
        activateWindow();
    RaiseMessages();
}

void TForm1::HideWindow()
{
    qCDebug(lcWindow) << "hidden";
    hide();
    m_minimizeRequested = false;
}

void TForm1::MinimizeWindow()
{
    qCDebug(lcWindow) << "minimised";
    showMinimized();
    m_minimizeRequested = true;
}

bool TForm1::WindowHidden() const
{
    return isHidden();
}

bool TForm1::TrayAvailable() const
{
    return m_services.trayAvailable();
}

void TForm1::DockTrayIcon()
{
    TrayIcon1->hide();
    TrayIcon1->show();
}

void TForm1::SetClockText(const std::string& text)
{
    Panel1->setText(QString::fromStdString(text));
}

void TForm1::SetSelectedDay(int day)
{
    const QSignalBlocker blocker(ComboBox2);
    const QSignalBlocker editBlocker(ComboBox2->lineEdit());
    ComboBox2->setCurrentIndex(day);
}

void TForm1::SetHourChecks(const vlm::HourChecks& checks)
{
    const QSignalBlocker blocker(CheckListBox1);
    for (int h = 0; h < vlm::kHourCount; ++h)
        CheckListBox1->item(h)->setCheckState(checks[h] ? Qt::Checked : Qt::Unchecked);
}

void TForm1::SetBellChoice(int choice)
{
    if (QAbstractButton* button = m_bellButtons->button(choice))
        button->setChecked(true);
}

void TForm1::SetAutostartChecked(bool checked)
{
    const QSignalBlocker blocker(CheckBox1);
    CheckBox1->setChecked(checked);
}

void TForm1::ShowMessage(const std::string& text)
{
    Message(QString::fromStdString(text));
}

// Boxes belong to the window, so the desktop keeps them above it, and none of them holds up the tick. One box per
// text: a failure that repeats (each cue of a reminder) brings its box forward instead of piling up boxes.
QMessageBox* TForm1::Message(const QString& text)
{
    qCInfo(lcWindow).noquote() << "message" << text;
    if (QMessageBox* open = m_messages.value(text)) {
        open->show();
        open->raise();
        open->activateWindow();
        return open;
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, windowTitle(), text, QMessageBox::Ok, this);
    box->setObjectName(QStringLiteral("MessageBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::NonModal);
    box->setWindowIcon(windowIcon());
    m_messages.insert(text, box);
    connect(box, &QObject::destroyed, this, [this, text] { m_messages.remove(text); });
    // Closed by the user (deleting the box with the window is no answer from them).
    connect(box, &QDialog::finished, this, [this, text] { m_form.MessageClosed(text.toStdString()); });
    box->show();
    box->raise();
    return box;
}

void TForm1::RaiseMessages()
{
    for (const QPointer<QMessageBox>& box : std::as_const(m_messages))
        if (box && box->isVisible())
            box->raise();
}

void TForm1::StartTimer(int delayMs)
{
    Timer1->start(delayMs);
}

void TForm1::StopTimer()
{
    Timer1->stop();
}

void TForm1::EndProgram(const std::string& farewell)
{
    if (farewell.empty()) {
        emit exitRequested();
        return;
    }
    // The program ends once the user has read why their settings were not kept.
    QMessageBox* box = Message(QString::fromStdString(farewell));
    connect(box, &QDialog::finished, this, &TForm1::exitRequested, Qt::UniqueConnection);
}

void TForm1::Log(vlm::LogTopic topic, const std::string& text)
{
    const QString line = QString::fromStdString(text);
    switch (topic) {
    case vlm::LogTopic::Tick:
        qCDebug(lcTick).noquote() << line;
        break;
    case vlm::LogTopic::Scheduler:
        qCInfo(lcScheduler).noquote() << line;
        break;
    case vlm::LogTopic::Settings:
        qCInfo(lcSettings).noquote() << line;
        break;
    case vlm::LogTopic::Window:
        qCDebug(lcWindow).noquote() << line;
        break;
    case vlm::LogTopic::Sound:
        qCInfo(lcSound).noquote() << line;
        break;
    case vlm::LogTopic::Autostart:
        qCInfo(lcAutostart).noquote() << line;
        break;
    case vlm::LogTopic::Cleanup:
        qCInfo(lcCleanup).noquote() << line;
        break;
    }
}
