#include "BrowserBridge.h"

#include "platform/Paths.h"
#include "shared/BrowserSession.h"
#include "shared/BrowserTransfer.h"

#include <QDir>
#include <QFile>
#include <QUrl>

#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Longer than any URL of the two forms; refused before parsing.
constexpr qsizetype maxAppURLLength = 4096;

bool isHex(QChar c)
{
    return (c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F');
}

// The 8-4-4-4-12 hexadecimal form only: QUuid alone would also take braces.
std::optional<QUuid> canonicalUuid(const QString &text)
{
    if (text.size() != 36)
        return std::nullopt;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != u'-' : !isHex(text[i]))
            return std::nullopt;
    }
    const QUuid id = QUuid::fromString(text);
    if (id.isNull() && text != u"00000000-0000-0000-0000-000000000000"_s)
        return std::nullopt;
    return id;
}

// The one value of "kestro://<host>?<name>=<value>", with nothing else in the URL.
std::optional<QString> singleQueryValue(const QString &text, const QString &host, const QString &name)
{
    if (text.size() > maxAppURLLength)
        return std::nullopt;
    // Checked on the text: QUrl lower-cases scheme and host, which must match exactly.
    const QString prefix = u"kestro://"_s + host + u'?';
    if (!text.startsWith(prefix))
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.scheme() != u"kestro"_s || url.host() != host || !url.userInfo().isEmpty()
        || url.port() != -1 || !url.path().isEmpty() || url.hasFragment() || !url.hasQuery())
        return std::nullopt;
    const QString query = url.query(QUrl::FullyEncoded);
    if (query.contains(u'&') || query.contains(u';'))
        return std::nullopt;
    const qsizetype equals = query.indexOf(u'=');
    if (equals < 0)
        return std::nullopt;
    const QString itemName = QUrl::fromPercentEncoding(query.first(equals).toUtf8());
    const QString value = QUrl::fromPercentEncoding(query.sliced(equals + 1).toUtf8());
    if (itemName != name || value.isEmpty())
        return std::nullopt;
    return value;
}

void removeEntry(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    // unlink does not follow a link; a directory can only be removed when empty.
    if (::unlink(encoded.constData()) != 0)
        ::rmdir(encoded.constData());
}

} // namespace

namespace BrowserBridge {

QString inbox()
{
    return Paths::applicationData() + u"/BrowserInbox"_s;
}

QString inboxFile(const QUuid &id, const QString &directory)
{
    return directory + u'/' + id.toString(QUuid::WithoutBraces).toUpper() + u".json"_s;
}

QUuid store(const QByteArray &data, const QString &directory)
{
    BrowserTransfer::decode(data);
    privateDirectory(directory);
    const QUuid id = QUuid::createUuid();
    writePrivate(data, inboxFile(id, directory));
    return id;
}

BrowserTransfer consume(const QUuid &id, const QString &directory)
{
    const QString path = inboxFile(id, directory);
    struct Remover
    {
        QString path;
        ~Remover() { removeEntry(path); }
    } remover{path};
    return BrowserTransfer::decode(readPrivate(path, inboxReadLimit));
}

void cleanInbox(const QString &directory)
{
    const QDir dir(directory);
    if (!dir.exists())
        return;
    const QStringList names = dir.entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    const double now = double(std::time(nullptr));
    for (const QString &name : names) {
        const qsizetype dot = name.lastIndexOf(u'.');
        const QString base = dot > 0 ? name.first(dot) : name;
        if (!canonicalUuid(base))
            continue;
        const QString path = dir.filePath(name);
        struct stat info;
        if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
            continue;
        if (now - double(info.st_mtim.tv_sec) > freshnessSeconds)
            removeEntry(path);
    }
}

std::optional<QUuid> transferID(const QString &urlText)
{
    const std::optional<QString> value = singleQueryValue(urlText, u"import"_s, u"id"_s);
    return value ? canonicalUuid(*value) : std::nullopt;
}

bool isExtensionID(const QString &text)
{
    if (text.size() != 32)
        return false;
    for (const QChar c : text) {
        if (c < u'a' || c > u'p')
            return false;
    }
    return true;
}

std::optional<QString> extensionID(const QString &urlText)
{
    const std::optional<QString> value = singleQueryValue(urlText, u"connect"_s, u"extension"_s);
    if (!value || !isExtensionID(*value))
        return std::nullopt;
    return value;
}

} // namespace BrowserBridge
