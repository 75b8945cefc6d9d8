#include "shell/qt/Unit1.h"
#include "shell/qt/logging.h"
#include "shell/qt/platform/termination_watcher.h"
#include "shell/qt/platform/xdg_autostart.h"
#include "shell/qt/single_instance.h"
#include "shell/qt/sndfile_sound_player.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSessionManager>
#include <QTimer>
#include <QWindow>

#include <exception>

namespace {

void CentreOnScreen(QWidget& window)
{
    if (const QScreen* screen = window.screen()) {
        QRect frame = window.frameGeometry();
        // The whole screen, panels included, not just the part they leave free.
        frame.moveCenter(screen->geometry().center());
        window.move(frame.topLeft());
    }
}

// The frame, not just the client area, is centred; its size is known only once the window manager has framed the
// shown window, so the window is centred again as soon as it is.
void CentreWhenFramed(QWidget& window)
{
    auto* poll = new QTimer(&window);
    poll->setInterval(10);
    QObject::connect(poll, &QTimer::timeout, &window, [&window, poll, tries = 0]() mutable {
        const QWindow* handle = window.windowHandle();
        if (handle && !handle->frameMargins().isNull())
            CentreOnScreen(window);
        if ((handle && !handle->frameMargins().isNull()) || ++tries >= 100) {
            poll->stop();
            poll->deleteLater();
        }
    });
    poll->start();
}

int Run(QApplication& app, SingleInstance& instance)
{
    QApplication::setApplicationName(QStringLiteral("VLM"));
    QApplication::setQuitOnLastWindowClosed(false);
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QStringLiteral("%{time yyyy-MM-ddTHH:mm:ss.zzz} +%{time process} %{category}: %{message}"));

    vlm::SystemTimeSource clock;
#ifdef VLM_SYSTEM_LAUNCHER
    // The system install: the desktop knows the program by its application id, and logon starts the command.
    QGuiApplication::setDesktopFileName(QStringLiteral(VLM_APP_ID));
    vlm::XdgAutostart autostart({}, QStringLiteral(VLM_SYSTEM_LAUNCHER));
#else
    vlm::XdgAutostart autostart;
#endif
    vlm::SndfileSoundPlayer player;
    TForm1Services services;
    services.form.Time = &clock;
    services.form.Player = &player;
    services.form.Autostart = &autostart;
    services.executablePath = QCoreApplication::applicationFilePath();

    TForm1 Form1(std::move(services));
    QObject::connect(&instance, &SingleInstance::showRequested, &Form1, [&Form1] { Form1.ShowMainWindow(true); });
    instance.Watch();
    // exit(), not quit(): quit() first asks every window to close, and the main window only ever hides.
    const auto end = [] { QCoreApplication::exit(0); };
    QObject::connect(&Form1, &TForm1::exitRequested, &app, end);

    // SIGTERM and the like end the program with its settings saved, as the session's end does: nothing waits.
    TerminationWatcher termination;
    QObject::connect(&termination, &TerminationWatcher::terminationRequested, &Form1, &TForm1::EndSession);
    QObject::connect(
        &app, &QGuiApplication::commitDataRequest, &Form1, [&Form1](QSessionManager&) { Form1.CommitData(); });

    app.installEventFilter(&Form1);
    // Placed before start-up can show a box, so a box is centred over where the window will be.
    CentreOnScreen(Form1);
    Form1.FormCreate();
    Form1.show();
    CentreWhenFramed(Form1);
    qCInfo(lcWindow) << "started";
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    // Plain widgets need no OpenGL; not loading it keeps a couple of megabytes out of a program that stays resident.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    // Before anything else, so two copies started together can't both get past it.
    SingleInstance instance;
    if (!instance.Claim())
        return 0;

    QApplication app(argc, argv);
    try {
        return Run(app, instance);
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QStringLiteral("VLM"), QString::fromLocal8Bit(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QStringLiteral("VLM"), QString());
    }
    return 1;
}
