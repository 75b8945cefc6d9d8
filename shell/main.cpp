#include "shell/Unit1.h"
#include "shell/logging.h"
#include "shell/legacy_cleanup.h"
#include "shell/platform/termination_watcher.h"
#include "shell/platform/xdg_autostart.h"
#include "shell/single_instance.h"
#include "shell/sndfile_sound_player.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QSessionManager>

#include <exception>

namespace {

void CentreOnScreen(QWidget& window)
{
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame = window.frameGeometry();
        frame.moveCenter(screen->availableGeometry().center());
        window.move(frame.topLeft());
    }
}

int Run(QApplication& app)
{
    QApplication::setApplicationName(QStringLiteral("VLM"));
    QApplication::setQuitOnLastWindowClosed(false);
    if (qEnvironmentVariableIsEmpty("QT_MESSAGE_PATTERN"))
        qSetMessagePattern(QStringLiteral("%{time yyyy-MM-ddTHH:mm:ss.zzz} +%{time process} %{category}: %{message}"));

    SingleInstance instance;
    if (!instance.Claim())
        return 0;

    vlm::SystemTimeSource clock;
    vlm::XdgAutostart autostart;
    vlm::SndfileSoundPlayer player;
    TForm1Services services;
    services.time = &clock;
    services.player = &player;
    services.autostart = &autostart;
    services.deleteLegacyFiles = [] { vlm::DeleteLegacyFiles(); };
    services.executablePath = QCoreApplication::applicationFilePath();

    TForm1 Form1(std::move(services));
    QObject::connect(&instance, &SingleInstance::showRequested, &Form1, [&Form1] { Form1.ShowMainWindow(true); });
    // exit(), not quit(): quit() first asks every window to close, and the main window only ever hides.
    const auto end = [] { QCoreApplication::exit(0); };
    QObject::connect(&Form1, &TForm1::exitRequested, &app, end);

    // SIGTERM and the like end the program as the exit command does, with its settings saved.
    TerminationWatcher termination;
    QObject::connect(&termination, &TerminationWatcher::terminationRequested, &Form1, &TForm1::N3Click);
    QObject::connect(&app, &QGuiApplication::commitDataRequest, &Form1, [&Form1](QSessionManager&) {
        Form1.SaveSettings();
    });

    app.installEventFilter(&Form1);
    Form1.FormCreate();
    CentreOnScreen(Form1);
    Form1.show();
    qCInfo(lcWindow) << "started";
    return app.exec();
}

} // namespace

int main(int argc, char** argv)
{
    // Plain widgets need no OpenGL; not loading it keeps a couple of megabytes out of a program that stays resident.
    if (qEnvironmentVariableIsEmpty("QT_XCB_GL_INTEGRATION"))
        qputenv("QT_XCB_GL_INTEGRATION", "none");
    QApplication app(argc, argv);
    try {
        return Run(app);
    } catch (const std::exception& error) {
        QMessageBox::critical(nullptr, QStringLiteral("VLM"), QString::fromLocal8Bit(error.what()));
    } catch (...) {
        QMessageBox::critical(nullptr, QStringLiteral("VLM"), QString());
    }
    return 1;
}
