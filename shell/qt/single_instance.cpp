#include "shell/qt/single_instance.h"

#include "shell/qt/logging.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

namespace {

constexpr char kShowCommand[] = "show\n";
// How long a second start keeps trying to reach a first one that holds the lock but is not listening yet.
constexpr auto kReachFor = std::chrono::seconds(3);

std::string FolderOf(const std::string& path)
{
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

// Creates the folder (and its parents) private to the user; true when it exists afterwards as a folder of ours.
bool MakePrivateFolder(const std::string& folder)
{
    for (std::size_t at = 1; at <= folder.size(); ++at) {
        if (at != folder.size() && folder[at] != '/')
            continue;
        const std::string part = folder.substr(0, at);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    struct stat info { };
    return ::stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == ::getuid();
}

// An abstract socket address: no file to go stale or to be replaced by something else.
socklen_t AbstractAddress(const std::string& name, sockaddr_un& address)
{
    std::memset(&address, 0, sizeof address);
    address.sun_family = AF_UNIX;
    const std::size_t length = std::min(name.size(), sizeof address.sun_path - 1);
    std::memcpy(address.sun_path + 1, name.data(), length);
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + length);
}

// The peer is a process of this user (not someone else's listener squatting on the name).
bool PeerIsOurs(int fd)
{
    ucred peer {};
    socklen_t size = sizeof peer;
    return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && peer.uid == ::getuid();
}

bool AskToShow(const std::string& socketName)
{
    sockaddr_un address {};
    const socklen_t length = AbstractAddress(socketName, address);
    const auto deadline = std::chrono::steady_clock::now() + kReachFor;
    do {
        // Not blocking: a first copy too busy to accept must not hold up this one's end.
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0)
            return false;
        if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), length) == 0 && PeerIsOurs(fd)) {
            const bool sent = ::send(fd, kShowCommand, sizeof kShowCommand - 1, MSG_NOSIGNAL) > 0;
            ::close(fd);
            return sent;
        }
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

} // namespace

SingleInstance::SingleInstance(std::vector<std::string> lockPaths, std::string socketName, QObject* parent)
    : QObject(parent)
    , m_lockPaths(std::move(lockPaths))
    , m_socketName(std::move(socketName))
{
}

SingleInstance::~SingleInstance()
{
    if (m_listenFd >= 0)
        ::close(m_listenFd);
    if (m_lockFd >= 0)
        ::close(m_lockFd);
}

std::vector<std::string> SingleInstance::DefaultLockPaths()
{
    std::vector<std::string> paths;
    const char* home = std::getenv("HOME");
    if (!home || home[0] != '/') {
        const passwd* user = ::getpwuid(::getuid());
        home = user ? user->pw_dir : nullptr;
    }
    if (home && home[0] == '/')
        paths.push_back(std::string(home) + "/.cache/VLM/instance.lock");
    paths.push_back("/tmp/VLM-" + std::to_string(::getuid()) + "/instance.lock");
    return paths;
}

std::string SingleInstance::DefaultSocketName()
{
    // Named after the lock, so a program and the second start it answers always agree.
    const std::size_t lock = std::hash<std::string> {}(DefaultLockPaths().front());
    char name[64];
    std::snprintf(name, sizeof name, "VLM-%u-%zx", unsigned(::getuid()), lock);
    return name;
}

bool SingleInstance::Claim()
{
    if (!Lock()) {
        const bool asked = AskToShow(m_socketName);
        qCInfo(lcWindow) << "already running;" << (asked ? "asked it to show its window" : "it did not answer");
        return false;
    }
    Listen();
    return true;
}

// True when this process holds the lock, or when no lock file can be had anywhere (the program then runs rather
// than not at all).
bool SingleInstance::Lock()
{
    for (const std::string& path : m_lockPaths) {
        if (!MakePrivateFolder(FolderOf(path)))
            continue;
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
        if (fd < 0)
            continue;
        struct stat info { };
        if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
            ::close(fd);
            continue;
        }
        int result = 0;
        while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) { }
        if (result == 0) {
            m_lockFd = fd;
            return true;
        }
        const bool held = errno == EWOULDBLOCK;
        ::close(fd);
        if (held)
            return false;
    }
    qCWarning(lcWindow) << "no lock file could be had; not checking for another running copy";
    return true;
}

void SingleInstance::Listen()
{
    m_listenFd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_listenFd < 0)
        return;
    sockaddr_un address {};
    const socklen_t length = AbstractAddress(m_socketName, address);
    if (::bind(m_listenFd, reinterpret_cast<const sockaddr*>(&address), length) != 0 || ::listen(m_listenFd, 8) != 0) {
        qCWarning(lcWindow) << "cannot listen for a second start:" << std::strerror(errno);
        ::close(m_listenFd);
        m_listenFd = -1;
        return;
    }
    if (QCoreApplication::instance())
        Watch();
}

void SingleInstance::Watch()
{
    if (m_listenFd < 0 || m_notifier)
        return;
    m_notifier = new QSocketNotifier(m_listenFd, QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &SingleInstance::OnConnection);
    // A start that asked before the application object existed is waiting in the backlog.
    OnConnection();
}

void SingleInstance::OnConnection()
{
    for (;;) {
        const int fd = ::accept4(m_listenFd, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            return;
        // The message is a few bytes sent at once; a peer that sends nothing is not waited for.
        timeval wait { 0, 200000 };
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
        char buffer[16] {};
        const ssize_t got = ::recv(fd, buffer, sizeof buffer - 1, 0);
        const bool ours = PeerIsOurs(fd);
        ::close(fd);
        if (ours && got > 0 && std::strstr(buffer, "show"))
            emit showRequested();
    }
}
