#include "AgentBridge.h"

#include "agents/AgentBridgeLoop.h"
#include "queue/DownloadItem.h"
#include "queue/DownloadManager.h"
#include "queue/DownloadStatus.h"
#include "shared/AgentWire.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserDownloadLink.h"
#include "shared/BrowserSession.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QPointer>
#include <QSet>
#include <QUuid>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Lives as long as the application; a QPointer so a test or shutdown that deletes it is seen.
QPointer<AgentBridgeLoop> runningLoop;

// True when the entry (not what a link points to) was last changed more than `seconds` ago.
bool olderThan(const QString &path, int seconds)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return false;
    return std::time(nullptr) - info.st_mtim.tv_sec > seconds;
}

QJsonObject decodeRequest(const QString &path)
{
    const QByteArray content = BrowserBridge::readPrivate(path, AgentWire::requestReadLimit);
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(content, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(error.errorString());
    if (!document.isObject())
        throw BrowserSession::SessionError::invalid();
    return document.object();
}

} // namespace

QString AgentBridge::AgentError::description() const
{
    switch (m_code) {
    case Code::invalidURL:
        return u"Provide one valid HTTP or HTTPS URL without embedded credentials."_s;
    case Code::notQueued:
        return u"Kestro did not add the download."_s;
    case Code::notFound:
        return u"Download not found in the current queue."_s;
    case Code::unknownAction:
        break;
    }
    return u"Unknown agent action."_s;
}

void AgentBridge::start(DownloadManager &manager)
{
    if (runningLoop)
        return;
    runningLoop = new AgentBridgeLoop(manager, QCoreApplication::instance());
    runningLoop->start();
}

void AgentBridge::start()
{
    start(DownloadManager::shared());
}

AgentBridgeLoop *AgentBridge::worker()
{
    return runningLoop;
}

void AgentBridge::processRequests()
{
    processRequests(DownloadManager::shared(), AgentWire::directory());
}

void AgentBridge::processRequests(DownloadManager &manager, const QString &directory)
{
    QDir listing(directory);
    if (!listing.exists())
        return;
    // System includes dangling links; folders are never exchange files.
    const QStringList names = listing.entryList(QDir::Files | QDir::System | QDir::Hidden, QDir::Unsorted);
    for (const QString &name : names) {
        const QString path = directory + u'/' + name;
        if (name.endsWith(QStringView(AgentWire::responseSuffix)) || name.startsWith(QStringView(AgentWire::partialPrefix))
            || name.startsWith(QStringView(AgentWire::claimedPrefix))) {
            // Answers nobody collected, and files of a writer or answerer that died half-way.
            if (olderThan(path, staleResponseSeconds))
                ::unlink(QFile::encodeName(path).constData());
            continue;
        }
        const QUuid id = AgentWire::exchangeID(name, AgentWire::requestSuffix);
        if (id.isNull())
            continue;
        // The window application and kestro-dl --serve may watch the same directory: whoever
        // renames the request first answers it, so no link is queued twice.
        QString claimed = directory + u'/' + QString::fromUtf16(AgentWire::claimedPrefix)
                          + QUuid::createUuid().toString(QUuid::WithoutBraces);
        if (::rename(QFile::encodeName(path).constData(), QFile::encodeName(claimed).constData()) != 0) {
            if (errno == ENOENT)
                continue;
            claimed = path;
        }
        answer(claimed, AgentWire::response(id, directory), manager);
    }
}

void AgentBridge::answer(const QString &requestPath, const QString &responsePath, DownloadManager &manager)
{
    QJsonObject reply;
    try {
        const Answer answer = respond(decodeRequest(requestPath), manager);
        reply.insert(u"ok"_s, true);
        reply.insert(u"result"_s, answer.result);
        if (answer.omitted > 0)
            reply.insert(u"omitted"_s, qint64(answer.omitted));
    } catch (const Error &error) {
        reply.insert(u"ok"_s, false);
        reply.insert(u"error"_s, error.description());
    }
    try {
        AgentWire::writeComplete(QJsonDocument(reply).toJson(QJsonDocument::Compact), responsePath);
    } catch (const Error &) {
        // The agent times out; there is nobody else to tell.
    }
    ::unlink(QFile::encodeName(requestPath).constData());
}

QJsonValue AgentBridge::handle(const QJsonObject &request, DownloadManager &manager)
{
    return respond(request, manager).result;
}

AgentBridge::Answer AgentBridge::respond(const QJsonObject &request, DownloadManager &manager)
{
    const QJsonValue action = request.value(u"action"_s);
    if (!action.isString())
        throw AgentError(AgentError::Code::unknownAction);
    const QString name = action.toString();

    if (name == u"download"_s) {
        const QJsonValue text = request.value(u"url"_s);
        const std::optional<QUrl> link = text.isString() ? BrowserDownloadLink::webURL(text.toString()) : std::nullopt;
        if (!link)
            throw AgentError(AgentError::Code::invalidURL);
        QSet<QUuid> known;
        for (const DownloadItem *item : manager.items())
            known.insert(item->id());
        manager.add({link->toString(QUrl::FullyEncoded)});
        for (const DownloadItem *item : manager.items()) {
            if (!known.contains(item->id()))
                return {snapshot(*item)};
        }
        throw AgentError(AgentError::Code::notQueued);
    }
    if (name == u"list"_s) {
        // Room for {"ok":true,"omitted":N,"result":[…]} around the snapshots.
        constexpr qsizetype envelopeBytes = 64;
        const QList<DownloadItem *> &items = manager.items();
        const qsizetype count = std::min<qsizetype>(listLimit, items.size());
        qsizetype room = AgentWire::responseReadLimit - envelopeBytes;
        QJsonArray list;
        for (qsizetype i = 0; i < count; ++i) {
            const QJsonObject item = snapshot(*items[i]);
            // Long links make 50 snapshots larger than the server reads; an answer it refuses
            // would hide even the newest items.
            const qsizetype bytes = QJsonDocument(item).toJson(QJsonDocument::Compact).size() + (i > 0 ? 1 : 0);
            if (bytes > room)
                return {list, count - i};
            room -= bytes;
            list.append(item);
        }
        return {list, 0};
    }
    if (name == u"get"_s) {
        const QJsonValue text = request.value(u"id"_s);
        const QUuid id = text.isString() ? AgentWire::parseID(text.toString()) : QUuid();
        if (!id.isNull()) {
            for (const DownloadItem *item : manager.items()) {
                if (item->id() == id)
                    return {snapshot(*item)};
            }
        }
        throw AgentError(AgentError::Code::notFound);
    }
    throw AgentError(AgentError::Code::unknownAction);
}

QJsonObject AgentBridge::snapshot(const DownloadItem &item)
{
    QJsonObject object{
        {u"id"_s, item.id().toString(QUuid::WithoutBraces).toUpper()},
        {u"url"_s, item.url()},
        {u"title"_s, item.displayTitle()},
        {u"status"_s, rawString(item.status())},
        {u"progress"_s, item.progress()},
    };
    if (const std::optional<QString> file = item.outputFile())
        object.insert(u"filePath"_s, *file);
    if (const std::optional<QString> error = item.errorMessage())
        object.insert(u"error"_s, *error);
    return object;
}
