#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGINT and SIGHUP into a signal on the event loop, so the program can save and end cleanly.
class TerminationWatcher : public QObject {
    Q_OBJECT

public:
    explicit TerminationWatcher(QObject* parent = nullptr);
    ~TerminationWatcher() override;

signals:
    void terminationRequested(int signalNumber);

private:
    void OnReadable();

    QSocketNotifier* m_notifier = nullptr;
};
