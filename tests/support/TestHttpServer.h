#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QMap>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

// A small HTTP/1.1 server on 127.0.0.1 for tests. It lives on the thread that creates it, so a
// test keeps the event loop turning (QSignalSpy::wait, QTest::qWait) while a child fetches.
// Routes match the percent-decoded path without the query; every response closes the connection.
class TestHttpServer : public QObject
{
    Q_OBJECT
public:
    struct Request
    {
        QByteArray method;
        QString path;                          // as sent, query included
        QMap<QByteArray, QByteArray> headers;  // lower-case names

        QByteArray header(const QByteArray &name) const { return headers.value(name.toLower()); }
    };

    explicit TestHttpServer(QObject *parent = nullptr);
    ~TestHttpServer() override;

    // Listens on 127.0.0.1 with a free port.
    bool start();
    quint16 port() const;
    // "http://127.0.0.1:<port>" followed by path (which starts with "/").
    QString url(const QString &path) const;

    void addFile(const QString &path, const QByteArray &content,
                 const QByteArray &contentType = QByteArrayLiteral("application/octet-stream"));
    // A body of size bytes from generatedContent(), produced while it is sent.
    void addGenerated(const QString &path, qint64 size);
    // Answers every request for path with this status and a short text body.
    void addStatus(const QString &path, int status);
    // Answers every request for path with "302 Found" and this Location.
    void addRedirect(const QString &path, const QByteArray &location);
    // Sends at most this many body bytes per second (0: unlimited).
    void setThrottle(const QString &path, qint64 bytesPerSecond);
    // Closes the connection after this many body bytes although Content-Length promised more.
    void setCutAfter(const QString &path, qint64 bytes);

    QList<Request> requests() const { return m_requests; }
    // The requests whose path (query removed) is path.
    QList<Request> requests(const QString &path) const;

    // The bytes of generated bodies: byte i is (i * 31 + 7) & 0xff.
    static QByteArray generatedContent(qint64 offset, qint64 length);

Q_SIGNALS:
    void requestReceived(const TestHttpServer::Request &request);

private:
    struct Route
    {
        int status = 200;
        QByteArray location; // set: a redirect
        QByteArray content;
        qint64 generatedSize = -1;  // >= 0: generated body of that size
        QByteArray contentType = QByteArrayLiteral("application/octet-stream");
        qint64 throttle = 0;
        qint64 cutAfter = -1;

        qint64 size() const { return generatedSize >= 0 ? generatedSize : content.size(); }
    };
    class Connection;

    void onNewConnection();
    void handle(Connection *connection, const Request &request);
    Route &route(const QString &path);

    QTcpServer *m_server = nullptr;
    QHash<QString, Route> m_routes;
    QList<Request> m_requests;
};
