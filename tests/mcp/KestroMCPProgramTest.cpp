// The KestroMCP program itself, run from a bundle of its own as an agent's host would.
#include "TestEnvironment.h"
#include "platform/Preferences.h"
#include "shared/AgentWire.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <atomic>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <functional>
#include <thread>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

struct ServerRun
{
    QByteArray output;
    QByteArray errors;
    int exitCode = -1;
};

class ServerProgram : public testing::Test
{
protected:
    void SetUp() override
    {
        // A folder of its own for each test, also when they all run in one process.
        const QString folder = TestEnvironment::makeDirectory(u"server-"_s + QString::number(++count));
        bundle = folder + u"/Brisvane Download"_s;
        server = bundle + u"/Contents/Helpers/KestroMCP"_s;
        QDir().mkpath(bundle + u"/Contents/Helpers"_s);
        ASSERT_TRUE(QFile::copy(QStringLiteral(KESTRO_MCP_PROGRAM), server));
        QFile::setPermissions(server, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        TestEnvironment::writeFile(bundle + u"/Contents/Info.json"_s, R"({"CFBundleShortVersionString":"2.3.4"})");
        exchange = folder + u"/exchange"_s;
        QDir().mkpath(exchange);
    }

    // The server on the test's exchange folder, without a launcher of the environment's.
    void start(QProcess &process, const QString &program)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"KESTRO_AGENT_BRIDGE_DIR"_s, exchange);
        environment.remove(u"KESTRO_OPEN_COMMAND"_s);
        process.setProcessEnvironment(environment);
        process.start(program, {});
        EXPECT_TRUE(process.waitForStarted());
    }

    // Runs the server on the whole input, then closes its standard input.
    ServerRun run(const QByteArray &input, const QString &program)
    {
        QProcess process;
        start(process, program);
        process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        return {process.readAllStandardOutput(), process.readAllStandardError(), process.exitCode()};
    }

    // Starts the server on a call that stays open: standard input is closed only once the
    // reply is there (a closed input gives the call up).
    ServerRun call(const QByteArray &line)
    {
        QProcess process;
        start(process, server);
        process.write(line);
        QByteArray output;
        while (!output.contains('\n') && process.waitForReadyRead(60000))
            output += process.readAllStandardOutput();
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(60000));
        output += process.readAllStandardOutput();
        return {output, process.readAllStandardError(), process.exitCode()};
    }

    static inline int count = 0;
    QString bundle;
    QString server;
    QString exchange;
};

QJsonObject object(const QByteArray &json)
{
    return QJsonDocument::fromJson(json).object();
}

// Plays the application for one exchange on a thread of its own: waits for a request file,
// keeps its content and lets `answer` make the response file.
class Responder
{
public:
    Responder(const QString &directory, std::function<void(const QString &responsePath)> answer)
        : m_thread([this, directory, answer] {
            const auto giveUp = std::chrono::steady_clock::now() + 60s;
            while (!m_stop && std::chrono::steady_clock::now() < giveUp) {
                const QStringList names = QDir(directory).entryList({u"*.request.json"_s}, QDir::Files);
                if (names.isEmpty()) {
                    std::this_thread::sleep_for(2ms);
                    continue;
                }
                QFile file(directory + u'/' + names.first());
                if (file.open(QIODevice::ReadOnly))
                    request = file.readAll();
                answer(AgentWire::response(AgentWire::exchangeID(names.first(), AgentWire::requestSuffix), directory));
                return;
            }
        })
    {
    }
    ~Responder()
    {
        m_stop = true;
        m_thread.join();
    }

    QByteArray request;

private:
    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

const QByteArray listCall = R"({"jsonrpc":"2.0","id":5,"method":"tools/call","params":{"name":"list_downloads","arguments":{}}})"
                            "\n";

} // namespace

TEST_F(ServerProgram, AnswersEachRequestLineInOrder)
{
    const QByteArray longLine = R"({"jsonrpc":"2.0","id":9,"method":"ping"})" + QByteArray(1048576, ' ');
    const QByteArray input = R"({"jsonrpc":"2.0","id":1,"method":"initialize","params":{"protocolVersion":"2025-06-18"}})"
                             "\r\n"
                             R"({"jsonrpc":"2.0","method":"notifications/initialized"})"
                             "\n"
                             "\n"
                             R"({"jsonrpc":"2.0","id":"two","method":"ping"})"
                             "\r\n"
                             + longLine + "\n"
                             + R"({"jsonrpc":"2.0","id":3,"method":"tools/list"})"
                               "\n"
                               R"({"jsonrpc":"2.0","id":4,"method":"resources/list"})";
    const QByteArray parseError = R"({"error":{"code":-32700,"message":"Invalid JSON-RPC message"},"id":null,"jsonrpc":"2.0"})";

    // Started through a link elsewhere, the server still finds its bundle.
    const QString link = bundle + u"/../kestro-mcp"_s;
    ASSERT_TRUE(QFile::link(server, link));
    for (const QString &program : {server, link}) {
        SCOPED_TRACE(program.toStdString());
        const ServerRun result = run(input, program);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.errors, QByteArray());
        ASSERT_TRUE(result.output.endsWith('\n'));
        const QList<QByteArray> lines = result.output.chopped(1).split('\n');
        ASSERT_EQ(lines.size(), 6) << result.output.toStdString();

        const QJsonObject initialize = object(lines[0]);
        EXPECT_EQ(initialize[u"id"_s], 1);
        EXPECT_EQ(initialize[u"result"_s][u"protocolVersion"_s], u"2025-06-18"_s);
        EXPECT_EQ(initialize[u"result"_s][u"serverInfo"_s].toObject(),
                  QJsonObject({{u"name"_s, u"kestro"_s}, {u"version"_s, u"2.3.4"_s}}));
        EXPECT_EQ(lines[1], parseError);
        EXPECT_EQ(lines[2], R"({"id":"two","jsonrpc":"2.0","result":{}})");
        EXPECT_EQ(lines[3], parseError);
        const QJsonArray tools = object(lines[4])[u"result"_s][u"tools"_s].toArray();
        ASSERT_EQ(tools.size(), 3);
        EXPECT_EQ(tools[2][u"name"_s], u"get_download"_s);
        EXPECT_EQ(lines[5], R"({"error":{"code":-32601,"message":"Method not found"},"id":4,"jsonrpc":"2.0"})");
    }
}

TEST_F(ServerProgram, EmptyInputEndsQuietly)
{
    const ServerRun result = run(QByteArray(), server);
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.output, QByteArray());
    EXPECT_EQ(result.errors, QByteArray());
}

TEST_F(ServerProgram, ToolCallReachesTheApplication)
{
    QByteArray seen;
    ServerRun result;
    {
        Responder responder(exchange, [](const QString &path) {
            AgentWire::writeComplete(
                R"({"ok":true,"result":{"items":[{"status":"finished","id":"0F8FAD5B-D9CB-469F-A165-70867728950E"}],"count":1}})",
                path);
        });
        result = call(listCall);
        seen = responder.request;
    }

    EXPECT_EQ(seen, R"({"action":"list"})");
    EXPECT_EQ(result.exitCode, 0);
    EXPECT_EQ(result.errors, QByteArray());
    const QByteArray text = R"({"count":1,"items":[{"id":"0F8FAD5B-D9CB-469F-A165-70867728950E","status":"finished"}]})";
    const QJsonObject expected{
        {u"jsonrpc"_s, u"2.0"_s},
        {u"id"_s, 5},
        {u"result"_s,
         QJsonObject{{u"content"_s, QJsonArray{QJsonObject{{u"type"_s, u"text"_s}, {u"text"_s, QString::fromUtf8(text)}}}}}}};
    EXPECT_EQ(result.output, QJsonDocument(expected).toJson(QJsonDocument::Compact) + '\n');
    EXPECT_EQ(QDir(exchange).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

TEST_F(ServerProgram, ReaderThatGoesAwayEndsTheServerQuietly)
{
    // Far more replies than a pipe holds, to a reader that exits at once: without care the
    // server would die of SIGPIPE.
    const QString input = TestEnvironment::writeFile(exchange + u"/../pings"_s,
                                                     QByteArray(R"({"jsonrpc":"2.0","id":1,"method":"ping"})"
                                                                "\n")
                                                         .repeated(20000));
    const QString errors = exchange + u"/../errors"_s;
    QProcess shell;
    shell.start(u"/bin/bash"_s, {u"-c"_s, u"\"$0\" < \"$1\" 2> \"$2\" | true; echo \"${PIPESTATUS[0]}\""_s, server,
                                 input, errors});
    ASSERT_TRUE(shell.waitForFinished(60000));
    EXPECT_EQ(shell.readAllStandardOutput().trimmed(), "0");
    QFile file(errors);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray());
}

TEST_F(ServerProgram, NonBlockingInputIsWaitedFor)
{
    // Some hosts hand over a non-blocking pipe: an empty read then is no end of input.
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ASSERT_EQ(::fcntl(ends[0], F_SETFL, ::fcntl(ends[0], F_GETFL) | O_NONBLOCK), 0);
    QProcess process;
    process.setStandardInputFile(QProcess::nullDevice());
    const int input = ends[0];
    process.setChildProcessModifier([input] { ::dup2(input, STDIN_FILENO); });
    process.start(server, {});
    ASSERT_TRUE(process.waitForStarted());
    ::close(ends[0]);

    const QByteArray ping = R"({"jsonrpc":"2.0","id":1,"method":"ping"})" "\n";
    ASSERT_EQ(::write(ends[1], ping.constData(), size_t(ping.size())), ping.size());
    QByteArray output;
    while (!output.contains('\n') && process.waitForReadyRead(60000))
        output += process.readAllStandardOutput();
    // Nothing more is there to read now. A server that took that for the end would exit; this
    // wait can only let such a server pass unnoticed, never fail a sound one.
    EXPECT_FALSE(process.waitForFinished(300));
    ASSERT_EQ(::write(ends[1], ping.constData(), size_t(ping.size())), ping.size());
    ::close(ends[1]);
    ASSERT_TRUE(process.waitForFinished(60000));
    output += process.readAllStandardOutput();
    EXPECT_EQ(output, QByteArray(R"({"id":1,"jsonrpc":"2.0","result":{}})" "\n").repeated(2));
    EXPECT_EQ(process.readAllStandardError(), QByteArray());
    EXPECT_EQ(process.exitCode(), 0);
}

TEST_F(ServerProgram, ExchangeFaultFollowsTheLanguageSetting)
{
    const QString key = u"无法读取 Brisvane Download 的回复（过大、无法读取或已过期），请重试。"_s;
    const QString english = u"The answer could not be read."_s;
    TestEnvironment::writeFile(bundle + u"/Contents/Resources/Language.json"_s,
                               u"[{\"id\":\"en\",\"name\":\"English\"},{\"id\":\"zh-Hans\",\"name\":\"简体中文\"}]"_s.toUtf8());
    TestEnvironment::writeFile(bundle + u"/Contents/Resources/en.lproj/Localizable.json"_s,
                               QJsonDocument(QJsonObject{{key, english}}).toJson());
    const struct
    {
        QString language;
        QString expected;
    } cases[] = {{u"en"_s, english}, {u"zh-Hans"_s, key}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.language.toStdString());
        Preferences preferences;
        preferences.set(u"uiLanguage"_s, c.language);
        preferences.sync();
        ServerRun result;
        {
            // An answer larger than the server reads.
            Responder responder(exchange, [](const QString &path) {
                AgentWire::writeComplete(R"({"ok":true,"result":")" + QByteArray(AgentWire::responseReadLimit, 'x') + "\"}",
                                         path);
            });
            result = call(listCall);
        }
        const QJsonObject reply = object(result.output)[u"result"_s].toObject();
        EXPECT_EQ(reply[u"isError"_s], true);
        EXPECT_EQ(reply[u"content"_s][0][u"text"_s], c.expected);
        EXPECT_EQ(QDir(exchange).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
    }
}

TEST_F(ServerProgram, StoppedDuringACallLeavesNoExchangeFiles)
{
    const struct
    {
        const char *what;
        int signalNumber; // 0: standard input ends
    } cases[] = {{"SIGTERM", SIGTERM}, {"SIGINT", SIGINT}, {"SIGHUP", SIGHUP}, {"end of input", 0}};
    const QByteArray download = R"({"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"download_url","arguments":{"url":"https://example.com/v"}}})"
                                "\n";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString folder = exchange + u'/' + QString::fromLatin1(c.what);
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"KESTRO_AGENT_BRIDGE_DIR"_s, folder);
        process.setProcessEnvironment(environment);
        process.start(server, {});
        ASSERT_TRUE(process.waitForStarted());
        process.write(download);
        // Nobody answers: the call waits until the client stops it.
        ASSERT_TRUE(TestEnvironment::waitFor(
            [&] { return !QDir(folder).entryList({u"*.request.json"_s}, QDir::Files).isEmpty(); }, 60000));
        if (c.signalNumber != 0)
            ::kill(pid_t(process.processId()), c.signalNumber);
        else
            process.closeWriteChannel();
        ASSERT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
        if (c.signalNumber == 0) {
            // The client has gone, so the call is given up without a reply.
            EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
            EXPECT_EQ(process.exitCode(), 0);
            EXPECT_EQ(process.readAllStandardOutput(), QByteArray());
        } else {
            EXPECT_EQ(process.exitStatus(), QProcess::CrashExit);
        }
    }
}
