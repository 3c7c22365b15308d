#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The native-messaging host: one framed request in, one framed reply out.
class BrowserHost
{
public:
    static constexpr quint32 maxRequestBytes = 1048576;
    static constexpr int openTimeoutMs = 120000;

    // Returns exactly `count` bytes, or throws BrowserSession::SessionError.
    using Reader = std::function<QByteArray(qsizetype count)>;
    // Hands the import URL to the application; true only when that worked.
    using Opener = std::function<bool(const QString &url)>;

    // Reads exactly `count` bytes from standard input or throws.
    static QByteArray read(qsizetype count);
    // Handles one request and returns the whole reply frame (length prefix included).
    // A valid transfer is stored in `inbox` and `open` is called once with its import URL;
    // when that fails the stored file is removed again.
    static QByteArray respond(const Reader &read, const QString &inbox, const Opener &open);
    // The same over a buffer, for tests and fuzzing.
    static QByteArray respond(const QByteArray &input, const QString &inbox, const Opener &open);

    // Runs the bundle's Contents/Linux/Kestro (or $KESTRO_OPEN_COMMAND) with "--open URL".
    static bool openWithApplication(const QString &bundlePath, const QString &url);

    static QByteArray frame(const QByteArray &json);
    static QByteArray pingReply();
    static QByteArray successReply();
    static QByteArray errorReply();

    // The program: always returns 0.
    static int main(int argc, char **argv);
};
