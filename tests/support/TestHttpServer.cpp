#include "TestHttpServer.h"

#include <QHostAddress>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QUrl>

#include <algorithm>

namespace {

constexpr qint64 kChunk = 64 * 1024;
constexpr qint64 kMaxQueued = 256 * 1024;  // keeps big bodies out of memory
constexpr qint64 kMaxHeader = 64 * 1024;
constexpr int kThrottleTickMs = 50;

QByteArray reason(int status)
{
    switch (status) {
    case 200: return QByteArrayLiteral("OK");
    case 206: return QByteArrayLiteral("Partial Content");
    case 302: return QByteArrayLiteral("Found");
    case 400: return QByteArrayLiteral("Bad Request");
    case 401: return QByteArrayLiteral("Unauthorized");
    case 403: return QByteArrayLiteral("Forbidden");
    case 404: return QByteArrayLiteral("Not Found");
    case 405: return QByteArrayLiteral("Method Not Allowed");
    case 416: return QByteArrayLiteral("Range Not Satisfiable");
    case 429: return QByteArrayLiteral("Too Many Requests");
    case 500: return QByteArrayLiteral("Internal Server Error");
    case 503: return QByteArrayLiteral("Service Unavailable");
    default: return QByteArrayLiteral("Status");
    }
}

// "bytes=N-" or "bytes=N-M"; false for anything else (then the whole body is sent).
bool parseRange(const QByteArray &value, qint64 size, qint64 *first, qint64 *last)
{
    if (!value.startsWith("bytes=") || value.contains(','))
        return false;
    const QByteArray spec = value.mid(6).trimmed();
    const qsizetype dash = spec.indexOf('-');
    if (dash <= 0)
        return false;
    bool ok = false;
    *first = spec.left(dash).toLongLong(&ok);
    if (!ok || *first < 0)
        return false;
    *last = size - 1;
    const QByteArray end = spec.mid(dash + 1);
    if (!end.isEmpty()) {
        *last = std::min(end.toLongLong(&ok), size - 1);
        if (!ok || *last < *first)
            return false;
    }
    return true;
}

} // namespace

// One client connection: reads one request, answers it, closes.
class TestHttpServer::Connection : public QObject
{
public:
    Connection(QTcpSocket *socket, TestHttpServer *server)
        : QObject(server), m_socket(socket), m_server(server)
    {
        socket->setParent(this);
        connect(socket, &QTcpSocket::readyRead, this, &Connection::onReadyRead);
        connect(socket, &QTcpSocket::bytesWritten, this, &Connection::pump);
        connect(socket, &QTcpSocket::disconnected, this, &QObject::deleteLater);
        connect(socket, &QTcpSocket::errorOccurred, this, [this] { m_socket->abort(); deleteLater(); });
    }

    void respond(int status, const QList<QPair<QByteArray, QByteArray>> &headers, qint64 contentLength)
    {
        QByteArray head = "HTTP/1.1 " + QByteArray::number(status) + ' ' + reason(status) + "\r\n";
        for (const auto &[name, value] : headers)
            head += name + ": " + value + "\r\n";
        head += "Content-Length: " + QByteArray::number(contentLength) + "\r\nConnection: close\r\n\r\n";
        m_socket->write(head);
    }

    void sendSmall(int status, const QByteArray &body)
    {
        respond(status, {{"Content-Type", "text/plain; charset=utf-8"}}, body.size());
        if (!m_head)
            m_socket->write(body);
        m_socket->disconnectFromHost();
    }

    // Streams [first, last] of the route's body.
    void sendBody(const Route &route, qint64 first, qint64 last)
    {
        m_route = route;
        m_position = first;
        m_end = last + 1;
        m_cutAt = route.cutAfter >= 0 ? first + route.cutAfter : -1;
        if (m_head) {
            m_socket->disconnectFromHost();
            return;
        }
        if (route.throttle > 0) {
            auto *timer = new QTimer(this);
            connect(timer, &QTimer::timeout, this, [this] {
                m_budget = std::max<qint64>(1, m_route.throttle * kThrottleTickMs / 1000);
                pump();
            });
            timer->start(kThrottleTickMs);
        }
        pump();
    }

private:
    void onReadyRead()
    {
        if (m_started) {
            m_socket->readAll();
            return;
        }
        m_input += m_socket->readAll();
        const qsizetype end = m_input.indexOf("\r\n\r\n");
        if (end < 0) {
            if (m_input.size() > kMaxHeader)
                sendSmall(400, "header too large\n");
            return;
        }
        m_started = true;
        const QList<QByteArray> lines = m_input.left(end).split('\n');
        const QList<QByteArray> requestLine = lines.value(0).trimmed().split(' ');
        Request request;
        request.method = requestLine.value(0);
        request.path = QString::fromUtf8(requestLine.value(1));
        for (qsizetype i = 1; i < lines.size(); ++i) {
            const qsizetype colon = lines[i].indexOf(':');
            if (colon <= 0)
                continue;
            const QByteArray name = lines[i].left(colon).trimmed().toLower();
            const QByteArray value = lines[i].mid(colon + 1).trimmed();
            QByteArray &slot = request.headers[name];
            slot = slot.isEmpty() ? value : slot + ", " + value;
        }
        m_head = request.method == "HEAD";
        m_server->handle(this, request);
    }

    void pump()
    {
        if (m_socket->state() != QAbstractSocket::ConnectedState)
            return;
        while (m_position < m_end && m_socket->bytesToWrite() < kMaxQueued) {
            qint64 length = std::min(kChunk, m_end - m_position);
            if (m_route.throttle > 0)
                length = std::min(length, m_budget);
            if (m_cutAt >= 0)
                length = std::min(length, m_cutAt - m_position);
            if (length <= 0)
                break;
            m_socket->write(m_route.generatedSize >= 0 ? generatedContent(m_position, length)
                                                       : m_route.content.mid(m_position, length));
            m_position += length;
            m_budget -= length;
        }
        if (m_position >= m_end || (m_cutAt >= 0 && m_position >= m_cutAt)) {
            m_position = m_end;
            m_socket->disconnectFromHost();  // sends what is queued, then closes
        }
    }

    QTcpSocket *m_socket;
    TestHttpServer *m_server;
    QByteArray m_input;
    bool m_started = false;
    bool m_head = false;
    Route m_route;
    qint64 m_position = 0;
    qint64 m_end = 0;
    qint64 m_cutAt = -1;
    qint64 m_budget = 0;
};

TestHttpServer::TestHttpServer(QObject *parent)
    : QObject(parent), m_server(new QTcpServer(this))
{
    connect(m_server, &QTcpServer::newConnection, this, &TestHttpServer::onNewConnection);
}

TestHttpServer::~TestHttpServer() = default;

bool TestHttpServer::start()
{
    return m_server->isListening() || m_server->listen(QHostAddress::LocalHost, 0);
}

quint16 TestHttpServer::port() const
{
    return m_server->serverPort();
}

QString TestHttpServer::url(const QString &path) const
{
    return QStringLiteral("http://127.0.0.1:%1").arg(port()) + path;
}

TestHttpServer::Route &TestHttpServer::route(const QString &path)
{
    return m_routes[path];
}

void TestHttpServer::addFile(const QString &path, const QByteArray &content, const QByteArray &contentType)
{
    Route &r = route(path);
    r.status = 200;
    r.content = content;
    r.generatedSize = -1;
    r.contentType = contentType;
}

void TestHttpServer::addGenerated(const QString &path, qint64 size)
{
    Route &r = route(path);
    r.status = 200;
    r.content.clear();
    r.generatedSize = size;
}

void TestHttpServer::addStatus(const QString &path, int status)
{
    route(path).status = status;
}

void TestHttpServer::addRedirect(const QString &path, const QByteArray &location)
{
    route(path).location = location;
}

void TestHttpServer::setThrottle(const QString &path, qint64 bytesPerSecond)
{
    route(path).throttle = bytesPerSecond;
}

void TestHttpServer::setCutAfter(const QString &path, qint64 bytes)
{
    route(path).cutAfter = bytes;
}

QList<TestHttpServer::Request> TestHttpServer::requests(const QString &path) const
{
    QList<Request> matching;
    for (const Request &request : m_requests) {
        if (request.path.section(QLatin1Char('?'), 0, 0) == path)
            matching.append(request);
    }
    return matching;
}

QByteArray TestHttpServer::generatedContent(qint64 offset, qint64 length)
{
    // The pattern repeats every 256 bytes.
    static const QByteArray period = [] {
        QByteArray bytes(256, Qt::Uninitialized);
        for (int i = 0; i < 256; ++i)
            bytes[i] = char((i * 31 + 7) & 0xff);
        return bytes;
    }();
    QByteArray out(length, Qt::Uninitialized);
    qint64 done = 0;
    while (done < length) {
        const qint64 start = (offset + done) % 256;
        const qint64 n = std::min<qint64>(256 - start, length - done);
        std::copy_n(period.constData() + start, n, out.data() + done);
        done += n;
    }
    return out;
}

void TestHttpServer::onNewConnection()
{
    while (QTcpSocket *socket = m_server->nextPendingConnection())
        new Connection(socket, this);
}

void TestHttpServer::handle(Connection *connection, const Request &request)
{
    m_requests.append(request);
    Q_EMIT requestReceived(request);

    if (request.method != "GET" && request.method != "HEAD")
        return connection->sendSmall(405, "only GET and HEAD\n");
    const QString key = QUrl::fromPercentEncoding(request.path.section(QLatin1Char('?'), 0, 0).toUtf8());
    const auto found = m_routes.constFind(key);
    if (found == m_routes.constEnd())
        return connection->sendSmall(404, "not found\n");
    const Route &r = *found;
    if (!r.location.isEmpty()) {
        connection->respond(302, {{"Location", r.location}}, 0);
        return connection->sendBody(r, 0, -1);
    }
    if (r.status != 200)
        return connection->sendSmall(r.status, reason(r.status) + '\n');

    const qint64 size = r.size();
    qint64 first = 0;
    qint64 last = size - 1;
    const QByteArray range = request.header("range");
    QList<QPair<QByteArray, QByteArray>> headers{{"Content-Type", r.contentType}, {"Accept-Ranges", "bytes"}};
    if (!range.isEmpty() && parseRange(range, size, &first, &last)) {
        if (first >= size) {
            connection->respond(416, {{"Content-Range", "bytes */" + QByteArray::number(size)}}, 0);
            return connection->sendBody(r, 0, -1);
        }
        headers.append({"Content-Range", "bytes " + QByteArray::number(first) + '-' + QByteArray::number(last)
                                             + '/' + QByteArray::number(size)});
        connection->respond(206, headers, last - first + 1);
    } else {
        connection->respond(200, headers, size);
    }
    connection->sendBody(r, first, last);
}
