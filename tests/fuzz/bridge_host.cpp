// Arbitrary bytes on the host's standard input: a frame, or anything else. The first input
// byte (when present) decides whether the application can be opened. Besides the sanitizers:
// the reply is one frame holding one of the three replies; a stored transfer survives only
// when the opening worked, and holds exactly the received message; a transfer stored means
// BrowserTransfer::decode accepts the message.
#include "bridge/BrowserHost.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserTransfer.h"
#include "shared/Error.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>
#include <cstring>

using namespace Qt::StringLiterals;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir scratch;
    if (!scratch.isValid())
        std::abort();
    const QString inbox = scratch.path() + u"/inbox"_s;

    const bool opens = size > 0 && (data[0] & 1) != 0;
    const QByteArray input = size > 0 ? QByteArray(reinterpret_cast<const char *>(data) + 1, qsizetype(size - 1))
                                      : QByteArray();
    int openCalls = 0;
    QString openedURL;
    const QByteArray reply = BrowserHost::respond(input, inbox, [&](const QString &url) {
        ++openCalls;
        openedURL = url;
        return opens;
    });

    if (reply.size() < 4)
        std::abort();
    quint32 length = 0;
    std::memcpy(&length, reply.constData(), 4);
    const QByteArray json = reply.sliced(4);
    if (length != quint32(json.size()))
        std::abort();
    if (json != BrowserHost::errorReply() && json != BrowserHost::pingReply() && json != BrowserHost::successReply())
        std::abort();
    if (openCalls > 1 || (json == BrowserHost::successReply()) != (openCalls == 1 && opens))
        std::abort();

    const QStringList files = QDir(inbox).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    if (json != BrowserHost::successReply()) {
        if (!files.isEmpty())
            std::abort();
    } else {
        // One file, named in the import URL, holding the message bytes after the prefix.
        if (files.size() != 1 || !openedURL.endsWith(files.first().chopped(5)))
            std::abort();
        QFile file(inbox + u'/' + files.first());
        if (!file.open(QIODevice::ReadOnly))
            std::abort();
        const QByteArray stored = file.readAll();
        file.close();
        quint32 requested = 0;
        std::memcpy(&requested, input.constData(), 4);
        if (stored != input.sliced(4, requested))
            std::abort();
        try {
            BrowserTransfer::decode(stored);
        } catch (const Error &) {
            std::abort();
        }
        QFile::remove(file.fileName());
    }
    return 0;
}
