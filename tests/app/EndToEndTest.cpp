// The built programs together, as the desktop, a browser and an agent start them: links reach
// a running Kestro (started on demand, in the background where asked) and finish there.
#include "app/InstanceLock.h"
#include "platform/Paths.h"
#include "store/HistoryStore.h"
#include "shared/AgentWire.h"
#include "shared/BrowserBridge.h"
#include "EngineDouble.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>
#include <QtEndian>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void placeProgram(const char *built, const QString &path)
{
    QDir().mkpath(QFileInfo(path).path());
    if (::link(built, QFile::encodeName(path).constData()) != 0) {
        ASSERT_TRUE(QFile::copy(QString::fromUtf8(built), path));
    }
}

QString percent(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

bool alive(qint64 pid)
{
    return pid > 0 && ::kill(pid_t(pid), 0) == 0;
}

class EndToEnd : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qunsetenv("KESTRO_AGENT_BRIDGE_DIR");
        qunsetenv("KESTRO_OPEN_COMMAND");
        // No spaces: xdg-open's fallback splits the desktop entry's Exec line at them.
        bundle = TestEnvironment::root() + u"/brisvane-download"_s;
        EngineDouble::makeBundle(bundle);
        program = bundle + u"/Contents/Linux/Kestro"_s;
        placeProgram(KESTRO_APP_PROGRAM, program);
        placeProgram(KESTRO_BRIDGE_PROGRAM, bundle + u"/Contents/Helpers/KestroBridge"_s);
        placeProgram(KESTRO_MCP_PROGRAM, bundle + u"/Contents/Helpers/KestroMCP"_s);
        ASSERT_TRUE(server.start());
        output = Paths::downloadsDir() + u"/Kestro"_s;
    }

    void TearDown() override
    {
        // The instance runs detached; it is stopped by the id it recorded with its lock.
        const qint64 pid = InstanceLock::holderPid();
        if (InstanceLock::takenByAnother() && alive(pid)) {
            ::kill(pid_t(pid), SIGTERM);
            EXPECT_TRUE(TestEnvironment::waitFor([] { return !InstanceLock::takenByAnother(); }, 30000));
        }
    }

    // Runs a program to its end while the test's web server keeps answering; its exit code.
    int run(const QString &path, const QStringList &arguments, const QByteArray &input = {},
            const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
    {
        QProcess process;
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.setStandardOutputFile(QProcess::nullDevice());
        process.start(path, arguments);
        if (!process.waitForStarted())
            return -1;
        process.write(input);
        process.closeWriteChannel();
        if (!TestEnvironment::waitFor([&] { return process.state() == QProcess::NotRunning; }, 120000)) {
            process.kill();
            process.waitForFinished();
            return -1;
        }
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    std::optional<HistoryEntry> historyEntry(const QString &url) const
    {
        const HistoryStore store(HistoryStore::defaultFilePath());
        for (const HistoryEntry &entry : store.entries()) {
            if (entry.url == url)
                return entry;
        }
        return std::nullopt;
    }

    bool waitForHistory(const QString &url) const
    {
        return TestEnvironment::waitFor([&] { return historyEntry(url).has_value(); }, 60000);
    }

    // One request through the agent exchange to the running instance; its answer.
    QJsonValue ask(const QJsonObject &request) const
    {
        const QString directory = AgentWire::directory();
        BrowserBridge::privateDirectory(directory);
        const QUuid id = QUuid::createUuid();
        AgentWire::writeComplete(QJsonDocument(request).toJson(QJsonDocument::Compact), AgentWire::request(id, directory));
        const QString response = AgentWire::response(id, directory);
        if (!TestEnvironment::waitFor([&] { return QFileInfo::exists(response); }, 30000))
            return {};
        const QJsonObject answer = QJsonDocument::fromJson(BrowserBridge::readPrivate(response)).object();
        QFile::remove(response);
        return answer.value(u"result"_s);
    }

    QStringList queuedURLs() const
    {
        QStringList urls;
        for (const QJsonValue &item : ask({{u"action"_s, u"list"_s}}).toArray())
            urls.append(item[u"url"_s].toString());
        urls.sort();
        return urls;
    }

    QString bundle;
    QString program;
    QString output;
    TestHttpServer server;
};

} // namespace

TEST_F(EndToEnd, DownloadURLFromOpenAndFromTheDesktop)
{
    server.addGenerated(u"/media/first.mp4"_s, 200000);
    server.addGenerated(u"/media/second.mp4"_s, 100000);
    const QString first = server.url(u"/media/first.mp4"_s);
    ASSERT_EQ(run(program, {u"--open"_s, u"kestro://download?url="_s + percent(first)}), 0);
    ASSERT_TRUE(waitForHistory(first));
    const std::optional<HistoryEntry> entry = historyEntry(first);
    ASSERT_TRUE(entry && entry->filePath);
    EXPECT_EQ(QFileInfo(*entry->filePath).path(), output);
    EXPECT_EQ(QFileInfo(*entry->filePath).size(), 200000);

    // The running instance registered itself as the handler of its scheme.
    const QString xdgMime = QStandardPaths::findExecutable(u"xdg-mime"_s);
    const QString xdgOpen = QStandardPaths::findExecutable(u"xdg-open"_s);
    if (xdgMime.isEmpty() || xdgOpen.isEmpty())
        GTEST_SKIP() << "xdg-utils is not installed";
    QProcess query;
    query.start(xdgMime, {u"query"_s, u"default"_s, u"x-scheme-handler/kestro"_s});
    ASSERT_TRUE(query.waitForFinished(30000));
    EXPECT_EQ(query.readAllStandardOutput().trimmed(), "brisvane-download.desktop");

    const QString second = server.url(u"/media/second.mp4"_s);
    // xdg-open asks the desktop entries only when it sees a display; the link reaches the
    // instance through the entry's program, which needs none.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"WAYLAND_DISPLAY"_s, u"kestro-test-no-display"_s);
    EXPECT_EQ(run(xdgOpen, {u"kestro://download?url="_s + percent(second)}, {}, environment), 0);
    ASSERT_TRUE(waitForHistory(second));
    EXPECT_EQ(QFileInfo(*historyEntry(second)->filePath).size(), 100000);
}

TEST_F(EndToEnd, TwoStartsAtOnceMeetInOneInstance)
{
    const QStringList links{server.url(u"/media/a.mp4"_s), server.url(u"/media/b.mp4"_s)};
    // Held in the test's own pause, so nothing ends before the queue is read.
    QList<QProcess *> starts;
    for (const QString &link : links) {
        auto *process = new QProcess;
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process->start(program, {u"--open"_s, u"--background"_s, u"kestro://download?url="_s + percent(link)});
        starts.append(process);
    }
    ASSERT_TRUE(TestEnvironment::waitFor([&] {
        return std::all_of(starts.cbegin(), starts.cend(), [](QProcess *p) { return p->state() == QProcess::NotRunning; });
    }, 120000));
    for (QProcess *process : std::as_const(starts)) {
        EXPECT_EQ(process->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process->exitCode(), 0);
        delete process;
    }
    ASSERT_TRUE(InstanceLock::takenByAnother());
    EXPECT_EQ(queuedURLs(), links);
}

TEST_F(EndToEnd, BrowserTransferBecomesADownloadWithItsSession)
{
    server.addGenerated(u"/media/private.mp4"_s, 50000);
    const QString link = server.url(u"/media/private.mp4"_s);
    const QByteArray transfer = u"{\"url\":\"%1\",\"page\":\"%2\",\"title\":\"Private clip\",\"session\":{\"cookies\":"
                                "[{\"name\":\"sid\",\"value\":\"cookie-value-42\",\"domain\":\"127.0.0.1\",\"path\":\"/\","
                                "\"secure\":false,\"hostOnly\":true}],\"requests\":[{\"url\":\"%1\",\"headers\":{\"Referer\":\"%2\"}}]}}"_s
                                    .arg(link, server.url(u"/page"_s))
                                    .toUtf8();
    const quint32 length = qToLittleEndian(quint32(transfer.size()));
    const QByteArray frame = QByteArray(reinterpret_cast<const char *>(&length), 4) + transfer;
    ASSERT_EQ(run(bundle + u"/Contents/Helpers/KestroBridge"_s, {u"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"_s}, frame), 0);

    ASSERT_TRUE(waitForHistory(link));
    EXPECT_EQ(historyEntry(link)->title, u"Private clip"_s);
    bool sawCookie = false;
    for (const TestHttpServer::Request &request : server.requests(u"/media/private.mp4"_s))
        sawCookie = sawCookie || request.header("cookie") == "sid=cookie-value-42";

    EXPECT_TRUE(sawCookie);
    // The transfer was taken exactly once.
    EXPECT_TRUE(QDir(BrowserBridge::inbox()).entryList(QDir::Files | QDir::Hidden).isEmpty());
}

TEST_F(EndToEnd, AgentStartsTheApplicationInTheBackground)
{
    server.addGenerated(u"/media/agent.mp4"_s, 80000);
    QProcess mcp;
    mcp.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    mcp.start(bundle + u"/Contents/Helpers/KestroMCP"_s, QStringList());
    ASSERT_TRUE(mcp.waitForStarted());
    int nextID = 0;
    const auto tool = [&](const QString &name, const QJsonObject &arguments) {
        const QJsonObject message{{u"jsonrpc"_s, u"2.0"_s}, {u"id"_s, ++nextID}, {u"method"_s, u"tools/call"_s},
                                  {u"params"_s, QJsonObject{{u"name"_s, name}, {u"arguments"_s, arguments}}}};
        mcp.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
        if (!TestEnvironment::waitFor([&] { return mcp.canReadLine(); }, 90000))
            return std::pair<QJsonObject, bool>{};
        const QJsonObject result = QJsonDocument::fromJson(mcp.readLine()).object().value(u"result"_s).toObject();
        return std::pair{QJsonDocument::fromJson(result.value(u"content"_s)[0][u"text"_s].toString().toUtf8()).object(),
                         result.value(u"isError"_s).toBool()};
    };

    EXPECT_FALSE(InstanceLock::takenByAnother());
    const auto [added, addFailed] = tool(u"download_url"_s, {{u"url"_s, server.url(u"/media/agent.mp4"_s)}});
    ASSERT_FALSE(addFailed);
    const QString id = added.value(u"id"_s).toString();
    ASSERT_FALSE(id.isEmpty());
    EXPECT_TRUE(InstanceLock::takenByAnother());

    QJsonObject item;
    ASSERT_TRUE(TestEnvironment::waitFor([&] {
        item = tool(u"get_download"_s, {{u"id"_s, id}}).first;
        const QString status = item.value(u"status"_s).toString();
        return status == u"finished"_s || status == u"failed"_s;
    }, 90000));
    EXPECT_EQ(item.value(u"status"_s).toString(), u"finished"_s);
    mcp.closeWriteChannel();
    EXPECT_TRUE(mcp.waitForFinished(30000));
}
