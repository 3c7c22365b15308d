#include "TestTlsServer.h"

#include "TestEnvironment.h"

#include <QFile>
#include <QPointer>
#include <QProcess>
#include <QSslSocket>
#include <QTimer>

#include <memory>

using namespace Qt::StringLiterals;

bool TestTlsServer::start()
{
    const QString folder = TestEnvironment::makeDirectory(u"tls"_s);
    QProcess openssl;
    openssl.start(u"openssl"_s,
                  {u"req"_s, u"-x509"_s, u"-newkey"_s, u"ec"_s, u"-pkeyopt"_s,
                   u"ec_paramgen_curve:prime256v1"_s, u"-nodes"_s, u"-keyout"_s, folder + u"/key.pem"_s,
                   u"-out"_s, folder + u"/cert.pem"_s, u"-days"_s, u"2"_s, u"-subj"_s, u"/CN=127.0.0.1"_s,
                   u"-addext"_s, u"subjectAltName=IP:127.0.0.1"_s});
    if (!openssl.waitForFinished(30000) || openssl.exitCode() != 0)
        return false;
    QFile cert(folder + u"/cert.pem"_s);
    QFile key(folder + u"/key.pem"_s);
    if (!cert.open(QIODevice::ReadOnly) || !key.open(QIODevice::ReadOnly))
        return false;
    m_certificate = QSslCertificate(cert.readAll(), QSsl::Pem);
    m_key = QSslKey(key.readAll(), QSsl::Ec, QSsl::Pem);
    return !m_certificate.isNull() && !m_key.isNull() && listen(QHostAddress::LocalHost, 0);
}

QString TestTlsServer::url(const QString &path) const
{
    return u"https://127.0.0.1:"_s + QString::number(serverPort()) + path;
}

void TestTlsServer::incomingConnection(qintptr descriptor)
{
    auto *socket = new QSslSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
        socket->deleteLater();
        return;
    }
    socket->setLocalCertificate(m_certificate);
    socket->setPrivateKey(m_key);
    connect(socket, &QSslSocket::disconnected, socket, &QObject::deleteLater);
    connect(socket, &QSslSocket::sslErrors, socket, [socket] { socket->abort(); });
    auto buffer = std::make_shared<QByteArray>();
    connect(socket, &QSslSocket::readyRead, this, [this, socket, buffer] {
        if (buffer->contains("\r\n\r\n"))
            return;
        buffer->append(socket->readAll());
        if (!buffer->contains("\r\n\r\n"))
            return;
        const QList<QByteArray> words = buffer->left(buffer->indexOf("\r\n")).split(' ');
        const QString path = words.size() > 1 ? QString::fromLatin1(words[1]) : QString();
        m_counts[path] += 1;
        const Route route = m_routes.value(path, Route{404, "not found"});
        QPointer<QSslSocket> guard(socket);
        auto answer = [guard, route] {
            if (!guard)
                return;
            auto file = std::make_shared<QFile>(route.file);
            qint64 length = route.body.size();
            if (!route.file.isEmpty()) {
                if (!file->open(QIODevice::ReadOnly)) {
                    guard->abort();
                    return;
                }
                length = file->size();
            }
            guard->write("HTTP/1.1 " + QByteArray::number(route.status) + " Status\r\nContent-Length: "
                         + QByteArray::number(length) + "\r\nConnection: close\r\n\r\n");
            if (route.file.isEmpty()) {
                guard->write(route.body);
                guard->disconnectFromHost();
                return;
            }
            // Large files go out in pieces as the socket drains.
            auto pump = [guard, file] {
                if (!guard)
                    return;
                while (guard->encryptedBytesToWrite() + guard->bytesToWrite() < 4 * 1048576) {
                    const QByteArray chunk = file->read(1048576);
                    if (chunk.isEmpty()) {
                        guard->disconnectFromHost();
                        return;
                    }
                    guard->write(chunk);
                }
            };
            QObject::connect(guard.data(), &QSslSocket::encryptedBytesWritten, guard.data(), pump);
            pump();
        };
        QTimer::singleShot(route.delayMs, this, answer);
    });
    socket->startServerEncryption();
}
