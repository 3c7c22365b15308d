#include "AgentWire.h"

#include "platform/Paths.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserSession.h"
#include "shared/Error.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QString exchangeFile(const QUuid &id, const QString &directory, const char16_t *suffix)
{
    return directory + u'/' + id.toString(QUuid::WithoutBraces).toUpper() + QString::fromUtf16(suffix);
}

// Moves `from` to `to` unless `to` exists. renameat2 does it in one step; file systems without
// it get link + unlink, which is just as exclusive.
bool moveWithoutReplacing(const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(AT_FDCWD, from.constData(), AT_FDCWD, to.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(from.constData(), to.constData()) != 0)
        return false;
    ::unlink(from.constData());
    return true;
}

} // namespace

namespace AgentWire {

QString directory()
{
    const QString configured = qEnvironmentVariable("KESTRO_AGENT_BRIDGE_DIR");
    if (!configured.isEmpty())
        return configured;
    return Paths::applicationData() + u"/AgentBridge"_s;
}

QString request(const QUuid &id, const QString &directory)
{
    return exchangeFile(id, directory, requestSuffix);
}

QString response(const QUuid &id, const QString &directory)
{
    return exchangeFile(id, directory, responseSuffix);
}

bool watchesFiles()
{
    return qEnvironmentVariableIsEmpty("KESTRO_AGENT_POLL_ONLY");
}

QUuid parseID(QStringView text)
{
    // QUuid::fromString also takes braces and ignores what follows; only the plain form counts.
    static const QRegularExpression plain(QRegularExpression::anchoredPattern(
        u"[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}"_s));
    if (text.size() != 36 || !plain.match(text.toString()).hasMatch())
        return {};
    return QUuid::fromString(text);
}

QUuid exchangeID(const QString &fileName, const char16_t *suffix)
{
    const QString ending = QString::fromUtf16(suffix);
    if (!fileName.endsWith(ending))
        return {};
    return parseID(QStringView(fileName).chopped(ending.size()));
}

void writeComplete(const QByteArray &data, const QString &path)
{
    const QFileInfo target(path);
    const QString partial = target.path() + u'/' + QString::fromUtf16(partialPrefix)
                            + QUuid::createUuid().toString(QUuid::WithoutBraces);
    const QByteArray partialName = QFile::encodeName(partial);
    try {
        BrowserBridge::writePrivate(data, partial);
    } catch (...) {
        ::unlink(partialName.constData());
        throw;
    }
    const bool moved = moveWithoutReplacing(partialName, QFile::encodeName(path));
    ::unlink(partialName.constData());
    if (!moved)
        throw BrowserSession::SessionError::invalid();
}

} // namespace AgentWire
