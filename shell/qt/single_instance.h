#pragma once

#include <QObject>

#include <string>
#include <vector>

class QSocketNotifier;

// Keeps one running program per user. The first start holds an exclusive lock on a file in the user's home for its
// whole life (the system drops it when the process ends, however it ends); a second start finds the lock taken,
// asks the first over a local socket to show its window, and ends.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // `lockPaths` are tried in order until one can be opened; `socketName` names the abstract local socket the
    // first start listens on. The defaults are per user.
    explicit SingleInstance(std::vector<std::string> lockPaths = DefaultLockPaths(),
        std::string socketName = DefaultSocketName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first (it then listens for later starts); otherwise the first one has been
    // asked to show itself. Needs no application object, so it can run before anything else.
    bool Claim();

    // Starts answering later starts (sending showRequested); needs the application object. Claim does it when that
    // exists already.
    void Watch();

    // The lock file in the user's home folder (not under $XDG_RUNTIME_DIR, which is unset or differs between the
    // ways a program gets started), then one in a private folder under /tmp.
    static std::vector<std::string> DefaultLockPaths();
    static std::string DefaultSocketName();

signals:
    void showRequested();

private:
    bool Lock();
    void Listen();
    void OnConnection();

    std::vector<std::string> m_lockPaths;
    std::string m_socketName;
    int m_lockFd = -1;
    int m_listenFd = -1;
    QSocketNotifier* m_notifier = nullptr;
};
