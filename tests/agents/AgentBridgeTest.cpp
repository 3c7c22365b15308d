#include "agents/AgentBridge.h"
#include "agents/AgentBridgeLoop.h"
#include "queue/DownloadItem.h"
#include "shared/AgentWire.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserSession.h"
#include "../queue/QueueFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QUuid>

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString invalidSession = u"浏览器会话信息无效或已过期，请刷新网页后重新发送。"_s;

QString upperID(const QUuid &id)
{
    return id.toString(QUuid::WithoutBraces).toUpper();
}

// Moves a file's modification time `seconds` into the past, without following a link.
void age(const QString &path, int seconds)
{
    struct timeval times[2];
    ::gettimeofday(&times[0], nullptr);
    times[0].tv_sec -= seconds;
    times[1] = times[0];
    ASSERT_EQ(::lutimes(QFile::encodeName(path).constData(), times), 0);
}

QJsonObject readReply(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return QJsonDocument::fromJson(file.readAll()).object();
}

class AgentBridgeTest : public QueueFixture
{
protected:
    void SetUp() override
    {
        QueueFixture::SetUp();
        exchange = TestEnvironment::makeDirectory(u"exchange"_s);
        startManager();
    }

    QJsonValue handle(const QJsonObject &request) { return AgentBridge::handle(request, *manager); }

    // The error text of a refused request, or nothing when it succeeded.
    std::optional<QString> refusal(const QJsonObject &request)
    {
        try {
            handle(request);
        } catch (const Error &error) {
            return error.description();
        }
        return std::nullopt;
    }

    QString exchange;
};

} // namespace

TEST(AgentBridgeSnapshot, CarriesFilePathAndErrorOnlyWhenTheItemHasThem)
{
    struct Case
    {
        DownloadStatus status;
        std::optional<QString> outputFile;
        std::optional<QString> error;
        QStringList keys;
    } cases[] = {
        {DownloadStatus::pending, {}, {}, {u"id"_s, u"progress"_s, u"status"_s, u"title"_s, u"url"_s}},
        {DownloadStatus::finished, u"/home/u/Downloads/clip.mp4"_s, {},
         {u"filePath"_s, u"id"_s, u"progress"_s, u"status"_s, u"title"_s, u"url"_s}},
        {DownloadStatus::failed, {}, u"不支持的链接"_s,
         {u"error"_s, u"id"_s, u"progress"_s, u"status"_s, u"title"_s, u"url"_s}},
    };
    for (const Case &c : cases) {
        DownloadItem item(u"https://example.com/watch?v=1"_s, u"/tmp"_s);
        item.setStatus(c.status);
        item.setProgress(c.status == DownloadStatus::finished ? 1.0 : 0.0);
        item.setOutputFile(c.outputFile);
        item.setErrorMessage(c.error);
        const QJsonObject snapshot = AgentBridge::snapshot(item);
        SCOPED_TRACE(rawString(c.status).toStdString());
        EXPECT_EQ(snapshot.keys(), c.keys);
        EXPECT_EQ(snapshot.value(u"id"_s).toString(), upperID(item.id()));
        EXPECT_EQ(snapshot.value(u"url"_s).toString(), item.url());
        EXPECT_EQ(snapshot.value(u"title"_s).toString(), item.displayTitle());
        EXPECT_EQ(snapshot.value(u"status"_s).toString(), rawString(c.status));
        EXPECT_TRUE(snapshot.value(u"progress"_s).isDouble());
        EXPECT_EQ(snapshot.value(u"filePath"_s).toString(), c.outputFile.value_or(QString()));
        EXPECT_EQ(snapshot.value(u"error"_s).toString(), c.error.value_or(QString()));
    }
}

TEST_F(AgentBridgeTest, RefusesMalformedRequestsWithTheirOwnMessage)
{
    const QString unknownAction = u"Unknown agent action."_s;
    const QString invalidURL = u"Provide one valid HTTP or HTTPS URL without embedded credentials."_s;
    const QString notFound = u"Download not found in the current queue."_s;
    const QString someID = QUuid::createUuid().toString(QUuid::WithoutBraces);
    const struct
    {
        QJsonObject request;
        QString message;
    } cases[] = {
        {{}, unknownAction},
        {{{u"action"_s, 3}}, unknownAction},
        {{{u"action"_s, u"delete"_s}}, unknownAction},
        {{{u"action"_s, u"LIST"_s}}, unknownAction},
        {{{u"action"_s, u"download"_s}}, invalidURL},
        {{{u"action"_s, u"download"_s}, {u"url"_s, 42}}, invalidURL},
        {{{u"action"_s, u"download"_s}, {u"url"_s, u"https://user@example.com/v"_s}}, invalidURL},
        {{{u"action"_s, u"download"_s}, {u"url"_s, u"ftp://example.com/v"_s}}, invalidURL},
        {{{u"action"_s, u"get"_s}}, notFound},
        {{{u"action"_s, u"get"_s}, {u"id"_s, u"not-a-uuid"_s}}, notFound},
        {{{u"action"_s, u"get"_s}, {u"id"_s, QString(u'{' + someID + u'}')}}, notFound},
        {{{u"action"_s, u"get"_s}, {u"id"_s, someID}}, notFound},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QJsonDocument(c.request).toJson(QJsonDocument::Compact).toStdString());
        EXPECT_EQ(refusal(c.request), c.message);
    }
    EXPECT_TRUE(manager->items().isEmpty());
}

TEST_F(AgentBridgeTest, DownloadQueuesTheAcceptedLinkAndGetFindsIt)
{
    const QString link = server.url(u"/hang/clip"_s);
    // The scheme in capitals is accepted; the queue gets the link in its normal form.
    const QJsonObject queued = handle({{u"action"_s, u"download"_s}, {u"url"_s, QString(u"HTTP"_s + link.mid(4))}}).toObject();
    ASSERT_EQ(manager->items().size(), 1);
    EXPECT_EQ(queued.value(u"url"_s).toString(), link);
    EXPECT_EQ(queued.value(u"id"_s).toString(), upperID(manager->items().first()->id()));
    EXPECT_EQ(queued.value(u"status"_s).toString(), u"analyzing"_s);

    // Lower case works as well as the upper case the snapshot uses.
    const QJsonObject found =
        handle({{u"action"_s, u"get"_s}, {u"id"_s, queued.value(u"id"_s).toString().toLower()}}).toObject();
    EXPECT_EQ(found.value(u"id"_s), queued.value(u"id"_s));

    manager->remove(manager->items().first());
    EXPECT_EQ(refusal({{u"action"_s, u"get"_s}, {u"id"_s, queued.value(u"id"_s).toString()}}),
              u"Download not found in the current queue."_s);
}

TEST_F(AgentBridgeTest, DownloadThatTheQueueRefusesIsNotQueued)
{
    // Short enough as typed, too long once percent-encoded: the queue's own check refuses it.
    const QString link = server.url(u"/hang/"_s) + QString(3000, QChar(0xE9));
    EXPECT_EQ(refusal({{u"action"_s, u"download"_s}, {u"url"_s, link}}), u"Kestro did not add the download."_s);
    EXPECT_TRUE(manager->items().isEmpty());
}

TEST_F(AgentBridgeTest, ListGivesTheFirstFiftyInQueueOrder)
{
    EXPECT_EQ(handle({{u"action"_s, u"list"_s}}).toArray(), QJsonArray());
    QStringList links;
    for (int i = 0; i < 60; ++i)
        links.append(server.url(u"/hang/"_s + QString::number(i)));
    manager->add(links);
    ASSERT_EQ(manager->items().size(), 60);
    const QJsonArray list = handle({{u"action"_s, u"list"_s}, {u"extra"_s, true}}).toArray();
    ASSERT_EQ(list.size(), 50);
    for (int i = 0; i < 50; ++i)
        EXPECT_EQ(list[i].toObject().value(u"id"_s).toString(), upperID(manager->items()[i]->id()));
}

TEST_F(AgentBridgeTest, ListStaysWithinWhatTheServerReads)
{
    // Fifty links near the length limit: their snapshots together are far above 1 MB.
    QStringList links;
    for (int i = 0; i < 50; ++i)
        links.append(server.url(u"/hang/"_s + QString::number(i) + u'/' + QString(16000, u'a')));
    manager->add(links);
    ASSERT_EQ(manager->items().size(), 50);

    const QUuid id = QUuid::createUuid();
    TestEnvironment::writeFile(AgentWire::request(id, exchange), R"({"action":"list"})");
    AgentBridge::processRequests(*manager, exchange);
    const QString response = AgentWire::response(id, exchange);
    const QByteArray content = BrowserBridge::readPrivate(response, AgentWire::responseReadLimit);
    const QJsonObject reply = QJsonDocument::fromJson(content).object();
    EXPECT_EQ(reply.value(u"ok"_s), true);

    // The newest items that fit, in queue order, and the count of the others.
    const QJsonArray list = reply.value(u"result"_s).toArray();
    ASSERT_GT(list.size(), 0);
    ASSERT_LT(list.size(), 50);
    EXPECT_EQ(reply.value(u"omitted"_s).toInteger(), 50 - list.size());
    for (qsizetype i = 0; i < list.size(); ++i)
        EXPECT_EQ(list[i].toObject().value(u"id"_s).toString(), upperID(manager->items()[i]->id()));
    // One more would not have fitted.
    const QByteArray next = QJsonDocument(AgentBridge::snapshot(*manager->items()[list.size()])).toJson(QJsonDocument::Compact);
    EXPECT_GT(content.size() + next.size(), AgentWire::responseReadLimit - 64);

}

TEST_F(AgentBridgeTest, EveryRequestFileWithAUuidNameIsAnsweredOnceAndDeleted)
{
    const QByteArray list = R"({"action":"list"})";
    const QString outside = TestEnvironment::writeFile(TestEnvironment::root() + u"/outside.json"_s, list);
    const struct
    {
        const char *what;
        std::function<void(const QString &path)> make;
        std::optional<QString> error; // nothing: answered with ok true
    } cases[] = {
        {"a list request", [&](const QString &p) { TestEnvironment::writeFile(p, list); }, {}},
        {"exactly 65,536 bytes", [&](const QString &p) { TestEnvironment::writeFile(p, list + QByteArray(65536 - list.size(), ' ')); }, {}},
        {"65,537 bytes", [&](const QString &p) { TestEnvironment::writeFile(p, list + QByteArray(65537 - list.size(), ' ')); }, invalidSession},
        {"older than 300 s", [&](const QString &p) { TestEnvironment::writeFile(p, list); age(p, 301); }, invalidSession},
        {"a symbolic link", [&](const QString &p) { QFile::link(outside, p); }, invalidSession},
        {"a FIFO", [&](const QString &p) { ::mkfifo(QFile::encodeName(p).constData(), 0600); }, invalidSession},
        {"empty", [&](const QString &p) { TestEnvironment::writeFile(p, {}); }, invalidSession},
        {"a JSON array", [&](const QString &p) { TestEnvironment::writeFile(p, "[]"); }, invalidSession},
        {"not JSON", [&](const QString &p) { TestEnvironment::writeFile(p, "{action"); }, u"(any parse error)"_s},
        {"an unknown action", [&](const QString &p) { TestEnvironment::writeFile(p, R"({"action":"pause"})"); }, u"Unknown agent action."_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QUuid id = QUuid::createUuid();
        const QString request = AgentWire::request(id, exchange);
        c.make(request);
        AgentBridge::processRequests(*manager, exchange);

        EXPECT_FALSE(QFileInfo(request).exists() || QFileInfo(request).isSymLink());
        const QString response = AgentWire::response(id, exchange);
        ASSERT_TRUE(QFileInfo::exists(response));
        struct stat info;
        ASSERT_EQ(::stat(QFile::encodeName(response).constData(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0600u);
        const QJsonObject reply = readReply(response);
        EXPECT_EQ(reply.value(u"ok"_s).toBool(), !c.error);
        if (!c.error)
            EXPECT_TRUE(reply.value(u"result"_s).isArray());
        else if (c.error != u"(any parse error)"_s)
            EXPECT_EQ(reply.value(u"error"_s).toString(), *c.error);
        else
            EXPECT_FALSE(reply.value(u"error"_s).toString().isEmpty());
        QFile::remove(response);

        // A second pass finds nothing more to answer.
        AgentBridge::processRequests(*manager, exchange);
        EXPECT_FALSE(QFileInfo::exists(response));
    }
    EXPECT_EQ(QDir(exchange).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot), QStringList());
    EXPECT_TRUE(QFileInfo::exists(outside));
}

TEST_F(AgentBridgeTest, LeavesOtherNamesAloneAndRemovesStaleAnswers)
{
    const QString uuid = upperID(QUuid::createUuid());
    const QStringList untouched{
        u"notes.txt"_s,
        u"ABC.request.json"_s,
        u'{' + uuid + u"}.request.json"_s,
        uuid + u".request.json.bak"_s,
        upperID(QUuid::createUuid()) + u".response.json"_s, // fresh: the server may still collect it
    };
    for (const QString &name : untouched)
        TestEnvironment::writeFile(exchange + u'/' + name, R"({"action":"list"})");
    const QString stale = TestEnvironment::writeFile(AgentWire::response(QUuid::createUuid(), exchange), "{}");
    age(stale, 301);
    // Left by a writer or an answerer that died half-way.
    for (const char16_t *prefix : {AgentWire::partialPrefix, AgentWire::claimedPrefix}) {
        const QString old = TestEnvironment::writeFile(exchange + u'/' + QString::fromUtf16(prefix) + u"x"_s, "{");
        age(old, 301);
    }

    AgentBridge::processRequests(*manager, exchange);
    QStringList expected = untouched;
    expected.sort();
    QStringList left = QDir(exchange).entryList(QDir::Files | QDir::Hidden);
    left.sort();
    EXPECT_EQ(left, expected);
}

TEST_F(AgentBridgeTest, LoopAnswersABurstOfTwoHundredRequests)
{
    for (const bool pollOnly : {false, true}) {
        SCOPED_TRACE(pollOnly ? "polling only" : "watching the directory");
        if (pollOnly)
            qputenv("KESTRO_AGENT_POLL_ONLY", "1");
        const QString directory = TestEnvironment::makeDirectory(pollOnly ? u"polled"_s : u"watched"_s);
        qputenv("KESTRO_AGENT_BRIDGE_DIR", QFile::encodeName(directory));
        AgentBridgeLoop loop(*manager);
        loop.start();

        QList<QUuid> ids;
        for (int i = 0; i < 200; ++i) {
            ids.append(QUuid::createUuid());
            AgentWire::writeComplete(R"({"action":"list"})", AgentWire::request(ids.last(), directory));
        }
        const auto answered = [&] {
            return QDir(directory).entryList({u"*.request.json"_s}, QDir::Files).isEmpty()
                   && QDir(directory).entryList({u"*.response.json"_s}, QDir::Files).size() == 200;
        };
        ASSERT_TRUE(TestEnvironment::waitFor(answered));
        EXPECT_EQ(loop.isWatching(), !pollOnly);
        for (const QUuid &id : std::as_const(ids))
            EXPECT_TRUE(readReply(AgentWire::response(id, directory)).value(u"ok"_s).toBool());
        qunsetenv("KESTRO_AGENT_POLL_ONLY");
    }
}
