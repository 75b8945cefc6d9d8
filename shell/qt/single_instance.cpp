#include "shell/qt/single_instance.h"

#include "shell/qt/logging.h"

#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QStandardPaths>

#include <unistd.h>

namespace {
constexpr int kConnectTimeoutMs = 1000;
const char kShowCommand[] = "show\n";
} // namespace

SingleInstance::SingleInstance(QString name, QObject* parent)
    : QObject(parent)
    , m_name(std::move(name))
{
}

SingleInstance::~SingleInstance() = default;

QString SingleInstance::DefaultName()
{
    QString folder = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    if (folder.isEmpty())
        folder = QDir::tempPath();
    return folder + QStringLiteral("/VLM-%1.instance").arg(::getuid());
}

bool SingleInstance::Claim()
{
    {
        QLocalSocket socket;
        socket.connectToServer(m_name);
        if (socket.waitForConnected(kConnectTimeoutMs)) {
            socket.write(kShowCommand);
            socket.waitForBytesWritten(kConnectTimeoutMs);
            socket.disconnectFromServer();
            qCInfo(lcWindow) << "already running; asked it to show its window";
            return false;
        }
    }
    // Nobody answers: whatever is left at the name is from a program that ended.
    QLocalServer::removeServer(m_name);
    m_server = new QLocalServer(this);
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(m_name)) {
        qCWarning(lcWindow) << "cannot listen for a second start:" << m_server->errorString();
        return true;
    }
    connect(m_server, &QLocalServer::newConnection, this, &SingleInstance::OnNewConnection);
    return true;
}

void SingleInstance::OnNewConnection()
{
    while (QLocalSocket* socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (socket->readAll().contains("show"))
                emit showRequested();
        });
    }
}
