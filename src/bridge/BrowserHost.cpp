#include "BrowserHost.h"

#include "platform/Bundle.h"
#include "platform/FileDescriptor.h"
#include "platform/Launcher.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserSession.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <exception>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray compact(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

} // namespace

QByteArray BrowserHost::read(qsizetype count)
{
    QByteArray buffer(count, Qt::Uninitialized);
    qsizetype total = 0;
    while (total < count) {
        const ssize_t got = ::read(STDIN_FILENO, buffer.data() + total, size_t(count - total));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            throw BrowserSession::SessionError::invalid();
        total += got;
    }
    return buffer;
}

QByteArray BrowserHost::frame(const QByteArray &json)
{
    const quint32 length = quint32(json.size());
    QByteArray out(reinterpret_cast<const char *>(&length), sizeof length);
    return out + json;
}

QByteArray BrowserHost::pingReply()
{
    return compact({{u"ok"_s, true}, {u"version"_s, u"1.4.0"_s}});
}

QByteArray BrowserHost::successReply()
{
    return compact({{u"ok"_s, true}});
}

QByteArray BrowserHost::errorReply()
{
    // Fixed and untranslated: the extension is never told which check failed.
    return compact({{u"ok"_s, false}, {u"error"_s, u"无法发送浏览器会话，请重新连接 Brisvane Download。"_s}});
}

QByteArray BrowserHost::respond(const Reader &read, const QString &inbox, const Opener &open)
{
    QByteArray reply = errorReply();
    try {
        const QByteArray prefix = read(4);
        quint32 length = 0;
        std::memcpy(&length, prefix.constData(), sizeof length);
        // The body of an unacceptable length is never read.
        if (length == 0 || length > maxRequestBytes)
            return frame(reply);
        const QByteArray message = read(qsizetype(length));

        QJsonParseError error;
        const QJsonDocument document = QJsonDocument::fromJson(message, &error);
        if (error.error != QJsonParseError::NoError)
            return frame(reply);
        const QJsonValue type = document.object().value(u"type"_s);
        if (document.isObject() && type.isString() && type.toString() == u"ping"_s)
            return frame(pingReply());

        const QUuid id = BrowserBridge::store(message, inbox);
        const QString url = u"kestro://import?id="_s + id.toString(QUuid::WithoutBraces).toUpper();
        bool opened = false;
        try {
            opened = open(url);
        } catch (...) {
            opened = false;
        }
        if (opened) {
            reply = successReply();
        } else {
            // Nobody will take a transfer the application was not told about.
            QFile::remove(BrowserBridge::inboxFile(id, inbox));
        }
    } catch (const std::exception &) {
        // Every failure gets the same reply.
    }
    return frame(reply);
}

QByteArray BrowserHost::respond(const QByteArray &input, const QString &inbox, const Opener &open)
{
    qsizetype offset = 0;
    const Reader reader = [&](qsizetype count) {
        if (count > input.size() - offset)
            throw BrowserSession::SessionError::invalid();
        const QByteArray part = input.sliced(offset, count);
        offset += count;
        return part;
    };
    return respond(reader, inbox, open);
}

bool BrowserHost::openWithApplication(const QString &bundlePath, const QString &url)
{
    return Launcher::open(bundlePath, {url}, openTimeoutMs).outcome == Launcher::Outcome::opened;
}

int BrowserHost::main(int argc, char **argv)
{
    // A browser that closed the pipe already gets no reply, and the host still ends with 0.
    std::signal(SIGPIPE, SIG_IGN);
    const QString program = argc > 0 ? QFile::decodeName(argv[0]) : QString();
    const QByteArray reply = respond(&BrowserHost::read, BrowserBridge::inbox(), [&](const QString &url) {
        return openWithApplication(Bundle::ofHelper(program), url);
    });
    FileDescriptor::writeAll(STDOUT_FILENO, reply);
    return 0;
}
