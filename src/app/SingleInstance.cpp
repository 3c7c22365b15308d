#include "SingleInstance.h"

#include "platform/Paths.h"

#include <QLocalSocket>
#include <QPointer>
#include <QTimer>

using namespace Qt::StringLiterals;

SingleInstance::SingleInstance(InstanceLock lock, QObject *parent)
    : QObject(parent)
    , m_lock(std::move(lock))
{
    // Other users cannot connect, whatever the folder allows.
    m_server.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&m_server, &QLocalServer::newConnection, this, &SingleInstance::accept);
}

SingleInstance::~SingleInstance()
{
    if (m_server.isListening())
        m_server.close();
}

QString SingleInstance::socketPath()
{
    return Paths::runtimeDir() + u"/brisvane-download.socket"_s;
}

bool SingleInstance::listen()
{
    if (m_server.isListening())
        return true;
    if (!m_lock.isHeld())
        return false;
    // Holding the lock means whoever made a socket there is gone.
    QLocalServer::removeServer(socketPath());
    return m_server.listen(socketPath());
}

void SingleInstance::accept()
{
    while (QLocalSocket *socket = m_server.nextPendingConnection()) {
        auto *idle = new QTimer(socket);
        idle->setSingleShot(true);
        connect(idle, &QTimer::timeout, socket, &QLocalSocket::abort);
        idle->start(idleLimitMs);
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket, idle] {
            // The limit holds before anything is parsed: a line longer than a request is refused.
            const qsizetype end = socket->peek(InstanceRequest::maxBytes + 1).indexOf('\n');
            if (end < 0) {
                if (socket->bytesAvailable() > InstanceRequest::maxBytes)
                    socket->abort();
                return;
            }
            const QByteArray line = socket->read(end + 1).chopped(1);
            idle->stop();
            disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
            const std::optional<InstanceRequest> request = InstanceRequest::decode(line);
            if (!request) {
                socket->abort();
                return;
            }
            QPointer<QLocalSocket> guard(socket);
            Q_EMIT received(*request);
            if (!guard)
                return;
            socket->write("ok\n");
            socket->disconnectFromServer();
        });
    }
}
