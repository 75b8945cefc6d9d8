#include "shell/qt/platform/termination_watcher.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int g_pipe[2] { -1, -1 };

void OnSignal(int signalNumber)
{
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(g_pipe[0], &byte, 1);
}

} // namespace

TerminationWatcher::TerminationWatcher(QObject* parent)
    : QObject(parent)
{
    if (g_pipe[0] < 0 && ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_pipe) != 0)
        return;
    ::fcntl(g_pipe[0], F_SETFL, O_NONBLOCK);
    m_notifier = new QSocketNotifier(g_pipe[1], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationWatcher::OnReadable);

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (const int signalNumber : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction(signalNumber, &action, nullptr);
}

TerminationWatcher::~TerminationWatcher()
{
    struct sigaction action {};
    action.sa_handler = SIG_DFL;
    for (const int signalNumber : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction(signalNumber, &action, nullptr);
}

void TerminationWatcher::OnReadable()
{
    unsigned char byte = 0;
    if (::read(g_pipe[1], &byte, 1) == 1)
        emit terminationRequested(byte);
}
