#include "shell/qt/single_instance.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs `body` in a child process; returns its pid.
template <typename Body> pid_t Fork(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0)
        ::_exit(body());
    return pid;
}

int WaitExit(pid_t pid)
{
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void secondStartShowsTheFirst();
    void startsTogetherLeaveOne();
    void lockOfAKilledCopyIsTakenOver();
    void unusableLockPathFallsToTheNext();

private:
    std::vector<std::string> Locks() const
    {
        return { m_dir->filePath("home/.cache/VLM/instance.lock").toStdString(),
            m_dir->filePath("tmp/VLM/instance.lock").toStdString() };
    }
    const std::string& Socket() const { return m_socket; }

    std::unique_ptr<QTemporaryDir> m_dir;
    std::string m_socket;
    int m_round = 0;
};

void SingleInstanceTest::init()
{
    m_dir = std::make_unique<QTemporaryDir>();
    m_socket = "vlm-test-" + std::to_string(::getpid()) + "-" + std::to_string(++m_round);
}

void SingleInstanceTest::secondStartShowsTheFirst()
{
    SingleInstance first(Locks(), Socket());
    QVERIFY(first.Claim());
    QSignalSpy shown(&first, &SingleInstance::showRequested);

    // The second start runs in its own process, as it does in use; it waits for nothing of ours.
    const pid_t second = Fork([this] {
        SingleInstance again(Locks(), Socket());
        return again.Claim() ? 1 : 0;
    });
    QTRY_COMPARE(shown.count(), 1);
    QCOMPARE(WaitExit(second), 0);
}

// Many copies started at the same moment: exactly one keeps running.
void SingleInstanceTest::startsTogetherLeaveOne()
{
    constexpr int kCopies = 45;
    int ready[2];
    int results[2];
    QCOMPARE(::pipe(ready), 0);
    QCOMPARE(::pipe(results), 0);
    std::vector<pid_t> copies;
    for (int i = 0; i < kCopies; ++i) {
        copies.push_back(Fork([&] {
            ::close(ready[1]);
            char go = 0;
            [[maybe_unused]] const ssize_t got = ::read(ready[0], &go, 1); // all start on the same signal
            SingleInstance copy(Locks(), Socket());
            const char won = copy.Claim() ? '1' : '0';
            [[maybe_unused]] const ssize_t sent = ::write(results[1], &won, 1);
            if (won == '1')
                ::pause(); // keep the lock, as a running program does
            return 0;
        }));
    }
    ::close(ready[0]);
    ::close(ready[1]); // releases every copy at once
    ::close(results[1]);
    int first = 0;
    for (int i = 0; i < kCopies; ++i) {
        char won = 0;
        QCOMPARE(::read(results[0], &won, 1), ssize_t(1));
        first += won == '1';
    }
    ::close(results[0]);
    for (const pid_t pid : copies)
        ::kill(pid, SIGKILL);
    for (const pid_t pid : copies)
        WaitExit(pid);
    QCOMPARE(first, 1);
}

void SingleInstanceTest::lockOfAKilledCopyIsTakenOver()
{
    int held[2];
    QCOMPARE(::pipe(held), 0);
    const pid_t killed = Fork([&] {
        SingleInstance copy(Locks(), Socket());
        const char won = copy.Claim() ? '1' : '0';
        [[maybe_unused]] const ssize_t sent = ::write(held[1], &won, 1);
        ::pause();
        return 0;
    });
    char won = 0;
    QCOMPARE(::read(held[0], &won, 1), ssize_t(1));
    QCOMPARE(won, '1');
    ::kill(killed, SIGKILL);
    WaitExit(killed);

    SingleInstance next(Locks(), Socket());
    QVERIFY(next.Claim());
}

// A folder (or anything but a file) where the lock file should be: the next place is used, and it still holds.
void SingleInstanceTest::unusableLockPathFallsToTheNext()
{
    QVERIFY(QDir().mkpath(QString::fromStdString(Locks()[0])));
    SingleInstance first(Locks(), Socket());
    QVERIFY(first.Claim());
    QVERIFY(QFileInfo::exists(QString::fromStdString(Locks()[1])));
    const pid_t second = Fork([this] {
        SingleInstance again(Locks(), Socket());
        return again.Claim() ? 1 : 0;
    });
    QCOMPARE(WaitExit(second), 0);
}

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "single_instance_test.moc"
