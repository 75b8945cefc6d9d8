#pragma once

#include <QObject>
#include <QString>

class QLocalServer;

// Keeps one running program per user: a second start asks the first to show its window and ends.
class SingleInstance : public QObject {
    Q_OBJECT

public:
    // `name` is the rendezvous; the default is one per user.
    explicit SingleInstance(QString name = DefaultName(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this process is the first; otherwise the first one has been asked to show itself.
    bool Claim();

    static QString DefaultName();

signals:
    void showRequested();

private:
    void OnNewConnection();

    QString m_name;
    QLocalServer* m_server = nullptr;
};
