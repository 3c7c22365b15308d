// The whole agent path without a display: a client speaks to KestroMCP, which drops requests
// into the exchange directory, where kestro-dl --serve answers them with its queue.
#include "EngineDouble.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"
#include "shared/AgentWire.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

void placeProgram(const char *built, const QString &path)
{
    if (::link(built, QFile::encodeName(path).constData()) != 0) {
        ASSERT_TRUE(QFile::copy(QString::fromUtf8(built), path));
    }
}

class AgentServeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bundle = TestEnvironment::root() + u"/Brisvane Download"_s;
        EngineDouble::makeBundle(bundle);
        placeProgram(KESTRO_DL_PROGRAM, bundle + u"/Contents/Helpers/kestro-dl"_s);
        placeProgram(KESTRO_MCP_PROGRAM, bundle + u"/Contents/Helpers/KestroMCP"_s);
        ASSERT_TRUE(server.start());
        output = TestEnvironment::root() + u"/agent downloads"_s;
        exchange = TestEnvironment::root() + u"/exchange"_s;
        qputenv("KESTRO_AGENT_BRIDGE_DIR", QFile::encodeName(exchange));

        serve.start(bundle + u"/Contents/Helpers/kestro-dl"_s, {u"--serve"_s, u"--dir"_s, output});
        ASSERT_TRUE(serve.waitForStarted());
        mcp.start(bundle + u"/Contents/Helpers/KestroMCP"_s, QStringList());
        ASSERT_TRUE(mcp.waitForStarted());
    }

    void TearDown() override
    {
        mcp.closeWriteChannel();
        mcp.waitForFinished(30000);
        if (serve.state() != QProcess::NotRunning) {
            ::kill(pid_t(serve.processId()), SIGTERM);
            serve.waitForFinished(30000);
        }
    }

    // One request line to the MCP server and its reply.
    QJsonObject call(const QJsonObject &message)
    {
        mcp.write(QJsonDocument(message).toJson(QJsonDocument::Compact) + '\n');
        // The event loop keeps turning meanwhile: the test's web server lives on it.
        if (!TestEnvironment::waitFor([this] { return mcp.canReadLine(); }, 40000))
            return {};
        return QJsonDocument::fromJson(mcp.readLine()).object();
    }

    // A tool call's result: its text and whether it is an error.
    std::pair<QString, bool> tool(const QString &name, const QJsonObject &arguments = {})
    {
        const QJsonObject reply = call({{u"jsonrpc"_s, u"2.0"_s},
                                        {u"id"_s, ++nextID},
                                        {u"method"_s, u"tools/call"_s},
                                        {u"params"_s, QJsonObject{{u"name"_s, name}, {u"arguments"_s, arguments}}}});
        const QJsonObject result = reply.value(u"result"_s).toObject();
        return {result.value(u"content"_s)[0][u"text"_s].toString(), result.value(u"isError"_s).toBool()};
    }

    QString bundle;
    QString output;
    QString exchange;
    TestHttpServer server;
    QProcess serve;
    QProcess mcp;
    int nextID = 0;
};

} // namespace

TEST_F(AgentServeTest, DownloadFromAgentRequestToFinishedFile)
{
    server.addGenerated(u"/media/agent clip.mp4"_s, 300000);
    const QJsonObject init = call({{u"jsonrpc"_s, u"2.0"_s}, {u"id"_s, 0}, {u"method"_s, u"initialize"_s},
                                   {u"params"_s, QJsonObject{{u"protocolVersion"_s, u"2025-06-18"_s}}}});
    EXPECT_EQ(init.value(u"id"_s), QJsonValue(0));
    EXPECT_EQ(init.value(u"result"_s)[u"protocolVersion"_s].toString(), u"2025-06-18"_s);

    const auto [added, addFailed] = tool(u"download_url"_s, {{u"url"_s, server.url(u"/media/agent%20clip.mp4"_s)}});
    ASSERT_FALSE(addFailed) << added.toStdString();
    const QString id = QJsonDocument::fromJson(added.toUtf8()).object().value(u"id"_s).toString();
    ASSERT_FALSE(id.isEmpty()) << added.toStdString();

    const auto [listed, listFailed] = tool(u"list_downloads"_s);
    ASSERT_FALSE(listFailed) << listed.toStdString();
    const QJsonArray list = QJsonDocument::fromJson(listed.toUtf8()).array();
    ASSERT_EQ(list.size(), 1);
    EXPECT_EQ(list[0][u"id"_s].toString(), id);

    QJsonObject item;
    const bool finished = TestEnvironment::waitFor([&] {
        const auto [text, failed] = tool(u"get_download"_s, {{u"id"_s, id}});
        item = QJsonDocument::fromJson(text.toUtf8()).object();
        const QString status = item.value(u"status"_s).toString();
        return failed || status == u"finished"_s || status == u"failed"_s;
    }, 60000);
    ASSERT_TRUE(finished);
    ASSERT_EQ(item.value(u"status"_s).toString(), u"finished"_s) << QJsonDocument(item).toJson().toStdString();
    const QString filePath = item.value(u"filePath"_s).toString();
    EXPECT_EQ(QFileInfo(filePath).path(), output);
    EXPECT_EQ(QFileInfo(filePath).size(), 300000);

    const auto [missing, missingFailed] = tool(u"get_download"_s, {{u"id"_s, QUuid::createUuid().toString(QUuid::WithoutBraces)}});
    EXPECT_TRUE(missingFailed);
    EXPECT_EQ(missing, u"Download not found in the current queue."_s);

    // Nothing is left behind in the exchange directory once every call was answered.
    EXPECT_EQ(QDir(exchange).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList());
    EXPECT_TRUE(mcp.readAllStandardError().isEmpty());
}

TEST_F(AgentServeTest, StopsOnSignalWhileADownloadRuns)
{
    for (const int signalNumber : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(signalNumber);
        if (serve.state() == QProcess::NotRunning) {
            serve.start(bundle + u"/Contents/Helpers/kestro-dl"_s, {u"--serve"_s, u"--dir"_s, output});
            ASSERT_TRUE(serve.waitForStarted());
        }
        const auto [added, failed] = tool(u"download_url"_s, {{u"url"_s, server.url(u"/hang/forever"_s)}});
        ASSERT_FALSE(failed) << added.toStdString();
        ::kill(pid_t(serve.processId()), signalNumber);
        ASSERT_TRUE(serve.waitForFinished(30000));
        EXPECT_EQ(serve.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(serve.exitCode(), 0);
    }
}

// The official MCP TypeScript SDK client (installed by scripts/bootstrap) against the server.
TEST_F(AgentServeTest, SdkClientConformance)
{
    const QString npmDirectory = QStringLiteral(KESTRO_NPM_DIR);
    ASSERT_TRUE(QFileInfo::exists(npmDirectory + u"/node_modules/@modelcontextprotocol/sdk/package.json"_s))
        << "the MCP SDK is missing from " << npmDirectory.toStdString() << ": run scripts/bootstrap";
    server.addGenerated(u"/media/sdk.mp4"_s, 200000);
    QProcess node;
    node.setProcessChannelMode(QProcess::MergedChannels);
    // The SDK must see the variable only through its transport's env option.
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(u"KESTRO_AGENT_BRIDGE_DIR"_s);
    node.setProcessEnvironment(environment);
    node.start(QStringLiteral(KESTRO_NODE_PROGRAM),
               {QStringLiteral(KESTRO_SOURCE_DIR "/tests/mcp/sdk_conformance.mjs"), npmDirectory,
                bundle + u"/Contents/Helpers/KestroMCP"_s, exchange, server.url(u"/media/sdk.mp4"_s)});
    ASSERT_TRUE(node.waitForStarted());
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return node.state() == QProcess::NotRunning; }, 100000));
    const QString log = QString::fromUtf8(node.readAll());
    EXPECT_EQ(node.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(node.exitCode(), 0) << log.toStdString();
    EXPECT_TRUE(log.contains(u"conformance ok: "_s + output)) << log.toStdString();
}

// Two answering programs on one exchange directory (the window application and a service, say):
// every request is answered once and every link queued once.
TEST_F(AgentServeTest, TwoServicesNeverQueueALinkTwice)
{
    QProcess second;
    second.start(bundle + u"/Contents/Helpers/kestro-dl"_s, {u"--serve"_s, u"--dir"_s, output});
    ASSERT_TRUE(second.waitForStarted());
    const auto started = [](QProcess &serve) {
        return TestEnvironment::waitFor([&] { return serve.readAllStandardError().contains("answering agent requests"); });
    };
    ASSERT_TRUE(started(serve));
    ASSERT_TRUE(started(second));

    QList<QUuid> ids;
    for (int i = 0; i < 60; ++i) {
        ids.append(QUuid::createUuid());
        const QJsonObject request{{u"action"_s, u"download"_s}, {u"url"_s, server.url(u"/hang/"_s + QString::number(i))}};
        AgentWire::writeComplete(QJsonDocument(request).toJson(QJsonDocument::Compact), AgentWire::request(ids.last(), exchange));
    }
    const auto answered = [&] {
        return std::all_of(ids.cbegin(), ids.cend(), [&](const QUuid &id) { return QFileInfo::exists(AgentWire::response(id, exchange)); })
               && QDir(exchange).entryList({u"*.request.json"_s, u".kestro-claimed-*"_s}, QDir::Files | QDir::Hidden).isEmpty();
    };
    ASSERT_TRUE(TestEnvironment::waitFor(answered, 60000));
    // Once both have ended, everything they wrote has been read.
    for (QProcess *process : {&serve, &second}) {
        ::kill(pid_t(process->processId()), SIGTERM);
        EXPECT_TRUE(process->waitForFinished(30000));
    }

    QStringList queued;
    for (QProcess *process : {&serve, &second}) {
        for (const QByteArray &line : process->readAllStandardError().split('\n')) {
            if (line.startsWith("kestro-dl: queued "))
                queued.append(QString::fromUtf8(line.split(' ').last()));
        }
    }
    EXPECT_EQ(queued.size(), 60);
    queued.removeDuplicates();
    EXPECT_EQ(queued.size(), 60);
    for (const QUuid &id : std::as_const(ids)) {
        QFile response(AgentWire::response(id, exchange));
        ASSERT_TRUE(response.open(QIODevice::ReadOnly));
        EXPECT_TRUE(QJsonDocument::fromJson(response.readAll()).object().value(u"ok"_s).toBool());
    }
}
