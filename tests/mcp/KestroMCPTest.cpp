// The MCP server's line handling with a stand-in application, and its exchange with the
// application through request and response files.
#include "ArgumentRecorder.h"
#include "TestEnvironment.h"
#include "mcp/KestroMCP.h"
#include "platform/Launcher.h"
#include "shared/AgentWire.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <atomic>
#include <chrono>
#include <stdexcept>
#include <sys/stat.h>
#include <sys/time.h>
#include <thread>

using namespace Qt::StringLiterals;
using namespace std::chrono_literals;

namespace {

QJsonObject object(const QByteArray &json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    EXPECT_TRUE(document.isObject()) << json.toStdString();
    return document.object();
}

QString text(const QJsonValue &value)
{
    return QString::fromUtf8(QJsonDocument(value.toObject()).toJson(QJsonDocument::Compact));
}

// A stand-in application that records every request and answers with a fixed value or error.
struct FakeApp
{
    QList<QJsonObject> requests;
    std::function<QJsonValue()> answer = [] { return QJsonObject{{u"ok"_s, 1}}; };

    KestroMCP::AppCaller caller()
    {
        return [this](const QJsonObject &request) {
            requests.append(request);
            return answer();
        };
    }
};

// The reply to one line, checked to be one compact JSON object and a single "\n".
std::optional<QJsonObject> replyTo(const QByteArray &line, FakeApp &app)
{
    const std::optional<QByteArray> reply = KestroMCP::respond(line, app.caller());
    if (!reply)
        return std::nullopt;
    EXPECT_TRUE(reply->endsWith('\n'));
    EXPECT_EQ(reply->count('\n'), 1);
    const QJsonObject parsed = object(reply->chopped(1));
    EXPECT_EQ(QJsonDocument(parsed).toJson(QJsonDocument::Compact), reply->chopped(1));
    return parsed;
}

QByteArray request(const QByteArray &id, const QByteArray &method, const QByteArray &params = QByteArray())
{
    QByteArray line = R"({"jsonrpc":"2.0","id":)" + id + R"(,"method":")" + method + '"';
    if (!params.isEmpty())
        line += R"(,"params":)" + params;
    return line + '}';
}

QByteArray toolCall(const QByteArray &name, const QByteArray &arguments)
{
    return request("1", "tools/call", R"({"name":)" + name + R"(,"arguments":)" + arguments + '}');
}

QByteArray parseError()
{
    return R"({"jsonrpc":"2.0","id":null,"error":{"code":-32700,"message":"Invalid JSON-RPC message"}})";
}

QByteArray errorReply(const QByteArray &id, int code, const QByteArray &message)
{
    return R"({"jsonrpc":"2.0","id":)" + id + R"(,"error":{"code":)" + QByteArray::number(code)
           + R"(,"message":")" + message + R"("}})";
}

QByteArray resultReply(const QByteArray &id, const QByteArray &result)
{
    return R"({"jsonrpc":"2.0","id":)" + id + R"(,"result":)" + result + '}';
}

// A valid ping padded with spaces to exactly `size` bytes.
QByteArray pingOfSize(qsizetype size)
{
    QByteArray line = request("1", "ping");
    return line + QByteArray(size - line.size(), ' ');
}

const QString invalidURLText = u"Provide one valid HTTP or HTTPS URL without embedded credentials."_s;
const QString invalidIDText = u"Provide a valid queue item UUID."_s;
const QString unknownToolText = u"Unknown Brisvane Download tool."_s;
const QString invalidResponseText = u"Brisvane Download returned an invalid response."_s;
const QString rejectedText = u"Brisvane Download rejected the request"_s;

// The text and error flag of a tools/call result.
struct ToolOutcome
{
    QString text;
    bool isError = false;
};

ToolOutcome outcomeOf(const QJsonObject &reply)
{
    EXPECT_FALSE(reply.contains(u"error"_s)) << text(reply).toStdString();
    const QJsonObject result = reply.value(u"result"_s).toObject();
    const QJsonArray content = result.value(u"content"_s).toArray();
    EXPECT_EQ(content.size(), 1);
    const QJsonObject item = content.first().toObject();
    EXPECT_EQ(item.value(u"type"_s), u"text"_s);
    EXPECT_EQ(item.size(), 2);
    // "isError" is there only for failures.
    EXPECT_TRUE(!result.contains(u"isError"_s) || result.value(u"isError"_s) == true);
    return {item.value(u"text"_s).toString(), result.value(u"isError"_s).toBool()};
}

} // namespace

TEST(KestroMCPRespond, ProtocolMessagesGetTheirReplies)
{
    const struct
    {
        const char *what;
        QByteArray line;
        std::optional<QByteArray> reply; // nothing: no reply at all
    } cases[] = {
        {"blank line", "", parseError()},
        {"white space only", " \t ", parseError()},
        {"not JSON", "hello", parseError()},
        {"JSON array", R"([{"jsonrpc":"2.0","id":1,"method":"ping"}])", parseError()},
        {"string scalar", R"("ping")", parseError()},
        {"text after the object", request("1", "ping") + " x", parseError()},
        {"broken UTF-8", request("1", "pi\xffng"), parseError()},
        {"longest line allowed", pingOfSize(KestroMCP::maxLineBytes), resultReply("1", "{}")},
        {"one byte too long", pingOfSize(KestroMCP::maxLineBytes + 1), parseError()},
        {"no jsonrpc", R"({"id":7,"method":"ping"})", errorReply("7", -32600, "Invalid request")},
        {"no jsonrpc and no id", R"({"method":"ping"})", std::nullopt},
        {"jsonrpc 1.0", R"({"jsonrpc":"1.0","id":7,"method":"ping"})", errorReply("7", -32600, "Invalid request")},
        {"jsonrpc a number", R"({"jsonrpc":2.0,"id":7,"method":"ping"})", errorReply("7", -32600, "Invalid request")},
        {"method a number", R"({"jsonrpc":"2.0","id":7,"method":5})", errorReply("7", -32600, "Invalid request")},
        {"no method", R"({"jsonrpc":"2.0","id":7})", errorReply("7", -32600, "Invalid request")},
        {"unknown method", request("7", "resources/list"), errorReply("7", -32601, "Method not found")},
        {"method in other case", request("7", "PING"), errorReply("7", -32601, "Method not found")},
        {"ping", request("7", "ping"), resultReply("7", "{}")},
        {"ping with params", request("7", "ping", "[1]"), resultReply("7", "{}")},
        {"notification", R"({"jsonrpc":"2.0","method":"notifications/initialized"})", std::nullopt},
        {"request without id is a notification", R"({"jsonrpc":"2.0","method":"ping"})", std::nullopt},
        {"CR left inside", request("1", "ping") + '\r', resultReply("1", "{}")},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        FakeApp app;
        const std::optional<QJsonObject> reply = replyTo(c.line, app);
        ASSERT_EQ(reply.has_value(), c.reply.has_value());
        if (reply) {
            EXPECT_EQ(*reply, object(*c.reply)) << text(*reply).toStdString();
        }
        EXPECT_TRUE(app.requests.isEmpty());
    }
}

TEST(KestroMCPRespond, IdsAreCopiedUnchanged)
{
    for (const QByteArray id : {"0", "-4", "7", "9007199254740993", "1.5", "null", R"("")", R"("a-1")",
                                R"("é \"x\"")"}) {
        SCOPED_TRACE(id.toStdString());
        FakeApp app;
        for (const QByteArray &line : {request(id, "ping"), request(id, "no/such/method"),
                                       QByteArray(R"({"id":)" + id + "}")}) {
            const std::optional<QByteArray> reply = KestroMCP::respond(line, app.caller());
            ASSERT_TRUE(reply);
            EXPECT_TRUE(reply->contains(QByteArray(R"("id":)" + id + ','))) << reply->toStdString();
        }
    }
}

TEST(KestroMCPRespond, InitializeAgreesOnAVersion)
{
    const struct
    {
        QByteArray params;
        QString version;
    } cases[] = {
        {R"({"protocolVersion":"2025-06-18"})", u"2025-06-18"_s},
        {R"({"protocolVersion":"2025-03-26","capabilities":{}})", u"2025-03-26"_s},
        {R"({"protocolVersion":"2025-11-25"})", u"2025-11-25"_s},
        {R"({"protocolVersion":"2024-11-05"})", u"2025-11-25"_s},
        {R"({"protocolVersion":"2025-06-18 "})", u"2025-11-25"_s},
        {R"({"protocolVersion":20250618})", u"2025-11-25"_s},
        {R"({})", u"2025-11-25"_s},
        {R"("2025-06-18")", u"2025-11-25"_s},
        {QByteArray(), u"2025-11-25"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.params.toStdString());
        FakeApp app;
        const std::optional<QJsonObject> reply = replyTo(request(R"("init")", "initialize", c.params), app);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->value(u"id"_s), u"init"_s);
        const QJsonObject result = reply->value(u"result"_s).toObject();
        EXPECT_EQ(result.value(u"protocolVersion"_s), c.version);
        EXPECT_EQ(result.value(u"capabilities"_s), QJsonObject({{u"tools"_s, QJsonObject()}}));
        EXPECT_EQ(result.value(u"serverInfo"_s).toObject().value(u"name"_s), u"kestro"_s);
        EXPECT_EQ(result.size(), 3);
    }
}

TEST(KestroMCPRespond, ServerVersionComesFromTheBundle)
{
    const QString saved = KestroMCP::bundle;
    const struct
    {
        const char *what;
        std::optional<QByteArray> info; // nothing: no Info.json
        QString version;
    } cases[] = {
        {"version given", R"({"CFBundleShortVersionString":"2.3.4"})", u"2.3.4"_s},
        {"no such key", R"({"CFBundleVersion":"12"})", u"1.6.1"_s},
        {"not a string", R"({"CFBundleShortVersionString":2})", u"1.6.1"_s},
        {"not JSON", "2.3.4", u"1.6.1"_s},
        {"no Info.json", std::nullopt, u"1.6.1"_s},
    };
    int n = 0;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        KestroMCP::bundle = TestEnvironment::makeDirectory(u"bundle-"_s + QString::number(++n));
        if (c.info)
            TestEnvironment::writeFile(KestroMCP::bundle + u"/Contents/Info.json"_s, *c.info);
        FakeApp app;
        const std::optional<QJsonObject> reply = replyTo(request("1", "initialize"), app);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->value(u"result"_s)[u"serverInfo"_s][u"version"_s], c.version);
    }
    KestroMCP::bundle.clear();
    FakeApp app;
    EXPECT_EQ(replyTo(request("1", "initialize"), app)->value(u"result"_s)[u"serverInfo"_s][u"version"_s], u"1.6.1"_s);
    KestroMCP::bundle = saved;
}

TEST(KestroMCPRespond, ToolsAreListedInOrderWithTheirSchemas)
{
    FakeApp app;
    const std::optional<QJsonObject> reply = replyTo(request("2", "tools/list"), app);
    ASSERT_TRUE(reply);
    const QJsonArray tools = reply->value(u"result"_s)[u"tools"_s].toArray();
    ASSERT_EQ(tools.size(), 3);

    const struct
    {
        QString name;
        QByteArray inputSchema;
        QByteArray annotations;
    } expected[] = {
        {u"download_url"_s,
         R"({"type":"object","properties":{"url":{"type":"string","description":"Media or page URL"}},)"
         R"("required":["url"],"additionalProperties":false})",
         R"({"readOnlyHint":false,"destructiveHint":false,"openWorldHint":true})"},
        {u"list_downloads"_s, R"({"type":"object","properties":{},"additionalProperties":false})",
         R"({"readOnlyHint":true,"destructiveHint":false})"},
        {u"get_download"_s,
         R"({"type":"object","properties":{"id":{"type":"string","description":"Queue item UUID"}},)"
         R"("required":["id"],"additionalProperties":false})",
         R"({"readOnlyHint":true,"destructiveHint":false})"},
    };
    for (qsizetype i = 0; i < tools.size(); ++i) {
        const QJsonObject tool = tools.at(i).toObject();
        SCOPED_TRACE(expected[i].name.toStdString());
        EXPECT_EQ(tool.value(u"name"_s), expected[i].name);
        EXPECT_EQ(tool.value(u"inputSchema"_s).toObject(), object(expected[i].inputSchema));
        EXPECT_EQ(tool.value(u"annotations"_s).toObject(), object(expected[i].annotations));
        EXPECT_FALSE(tool.value(u"description"_s).toString().isEmpty());
        EXPECT_EQ(tool.size(), 4);
    }
    EXPECT_EQ(tools.at(1)[u"description"_s],
              u"List up to 50 current Brisvane Download queue items with IDs, status, progress, and completed file paths."_s);
    EXPECT_EQ(tools.at(2)[u"description"_s], u"Get the current status of one Brisvane Download queue item by ID."_s);
    EXPECT_TRUE(tools.at(0)[u"description"_s].toString().contains(u"Brisvane Download queue"_s));
}

TEST(KestroMCPRespond, ToolArgumentsAreCheckedBeforeTheApplicationIsAsked)
{
    const QByteArray uuid = "0f8fad5b-d9cb-469f-a165-70867728950e";
    const struct
    {
        const char *what;
        QByteArray line;
        std::optional<QByteArray> request; // what the application gets; nothing: the text below
        QString failure;
    } cases[] = {
        {"download", toolCall(R"("download_url")", R"({"url":"https://video.example.com/watch?v=1"})"),
         R"({"action":"download","url":"https://video.example.com/watch?v=1"})", {}},
        {"download of a link as written", toolCall(R"("download_url")", R"({"url":"HTTP://Example.com/a b"})"),
         R"({"action":"download","url":"HTTP://Example.com/a b"})", {}},
        {"user in the link", toolCall(R"("download_url")", R"({"url":"https://user@host/x"})"), {}, invalidURLText},
        {"password in the link", toolCall(R"("download_url")", R"({"url":"https://u:p@host/x"})"), {}, invalidURLText},
        {"empty user info", toolCall(R"("download_url")", R"({"url":"https://@host/x"})"), {}, invalidURLText},
        {"URL a number", toolCall(R"("download_url")", R"({"url":5})"), {}, invalidURLText},
        {"URL missing", toolCall(R"("download_url")", R"({})"), {}, invalidURLText},
        {"arguments not an object", toolCall(R"("download_url")", R"("https://host/x")"), {}, invalidURLText},
        {"not a web link", toolCall(R"("download_url")", R"({"url":"file:///etc/passwd"})"), {}, invalidURLText},
        {"no host", toolCall(R"("download_url")", R"({"url":"https:///x"})"), {}, invalidURLText},
        {"line break in the link", toolCall(R"("download_url")", R"({"url":"https://host/x\nFoo: bar"})"), {},
         invalidURLText},
        {"list", toolCall(R"("list_downloads")", R"({})"), R"({"action":"list"})", {}},
        {"list ignores arguments", toolCall(R"("list_downloads")", R"({"limit":3})"), R"({"action":"list"})", {}},
        {"list without arguments", request("1", "tools/call", R"({"name":"list_downloads"})"),
         R"({"action":"list"})", {}},
        {"get", toolCall(R"("get_download")", R"({"id":")" + uuid + R"("})"),
         R"({"action":"get","id":")" + uuid + R"("})", {}},
        {"get in upper case", toolCall(R"("get_download")", R"({"id":")" + uuid.toUpper() + R"("})"),
         R"({"action":"get","id":")" + uuid.toUpper() + R"("})", {}},
        {"not a UUID", toolCall(R"("get_download")", R"({"id":"not-a-uuid"})"), {}, invalidIDText},
        {"UUID in braces", toolCall(R"("get_download")", R"({"id":"{)" + uuid + R"(}"})"), {}, invalidIDText},
        {"UUID with text after it", toolCall(R"("get_download")", R"({"id":")" + uuid + R"(x"})"), {}, invalidIDText},
        {"UUID one short", toolCall(R"("get_download")", R"({"id":")" + uuid.chopped(1) + R"("})"), {}, invalidIDText},
        {"UUID without dashes", toolCall(R"("get_download")", R"({"id":"0f8fad5bd9cb469fa16570867728950e"})"), {},
         invalidIDText},
        {"UUID with a space", toolCall(R"("get_download")", R"({"id":" )" + uuid.chopped(1) + R"("})"), {},
         invalidIDText},
        {"ID a number", toolCall(R"("get_download")", R"({"id":12})"), {}, invalidIDText},
        {"unknown tool", toolCall(R"("delete_download")", R"({})"), {}, unknownToolText},
        {"tool name a number", toolCall("3", R"({})"), {}, unknownToolText},
        {"no params", request("1", "tools/call"), {}, unknownToolText},
        {"params an array", request("1", "tools/call", "[]"), {}, unknownToolText},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        FakeApp app;
        const std::optional<QJsonObject> reply = replyTo(c.line, app);
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->value(u"id"_s), 1);
        const ToolOutcome outcome = outcomeOf(*reply);
        if (c.request) {
            ASSERT_EQ(app.requests.size(), 1);
            EXPECT_EQ(app.requests.first(), object(*c.request));
            EXPECT_FALSE(outcome.isError);
        } else {
            EXPECT_TRUE(app.requests.isEmpty());
            EXPECT_TRUE(outcome.isError);
            EXPECT_EQ(outcome.text, c.failure);
        }
    }
}

TEST(KestroMCPRespond, ApplicationAnswersBecomeToolResults)
{
    const struct
    {
        const char *what;
        std::function<QJsonValue()> answer;
        QString text;
        bool isError;
    } cases[] = {
        {"object with sorted keys",
         [] { return object(R"({"zeta":1,"alpha":{"b":[2,{"y":1,"x":"é"}],"a":null}})"); },
         uR"({"alpha":{"a":null,"b":[2,{"x":"é","y":1}]},"zeta":1})"_s, false},
        {"empty object", [] { return QJsonObject(); }, u"{}"_s, false},
        {"bare string", [] { return QJsonValue(u"queued \"now\""_s); }, uR"("queued \"now\"")"_s, false},
        {"bare number", [] { return QJsonValue(42); }, u"42"_s, false},
        {"array", [] { return QJsonArray{1, u"a"_s}; }, uR"([1,"a"])"_s, false},
        {"application error",
         []() -> QJsonValue { throw KestroMCP::ToolError::appError(u"Download not found in the current queue."_s); },
         u"Download not found in the current queue."_s, true},
        {"application unavailable", []() -> QJsonValue { throw KestroMCP::ToolError::appUnavailable(); },
         u"Brisvane Download did not respond within 20 seconds. Open Brisvane Download and try again."_s, true},
        {"decoding error", []() -> QJsonValue { throw DecodingError(u"unterminated object"_s); },
         u"unterminated object"_s, true},
        {"foreign exception", []() -> QJsonValue { throw std::runtime_error("boom"); }, invalidResponseText, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        FakeApp app;
        app.answer = c.answer;
        const std::optional<QJsonObject> reply = replyTo(toolCall(R"("list_downloads")", "{}"), app);
        ASSERT_TRUE(reply);
        EXPECT_EQ(app.requests.size(), 1);
        const ToolOutcome outcome = outcomeOf(*reply);
        EXPECT_EQ(outcome.text, c.text);
        EXPECT_EQ(outcome.isError, c.isError);
    }
}

TEST(KestroMCPRespond, NotificationsNeverReachTheApplication)
{
    FakeApp app;
    EXPECT_FALSE(KestroMCP::respond(R"({"jsonrpc":"2.0","method":"tools/call","params":{"name":"list_downloads"}})",
                                    app.caller()));
    EXPECT_FALSE(KestroMCP::respond(R"({"method":"tools/call","params":{"name":"list_downloads"}})", app.caller()));
    EXPECT_TRUE(app.requests.isEmpty());
}

TEST(KestroMCPLineReader, SplitsLinesWithoutHoldingOverlongOnes)
{
    using Line = KestroMCP::LineReader::Line;
    const qsizetype max = KestroMCP::maxLineBytes;
    const QByteArray longest(max, 'x');
    const QByteArray tooLong(max + 1, 'x');
    const Line over{{}, true};
    const struct
    {
        const char *what;
        QByteArray input;
        QList<Line> lines;
    } cases[] = {
        {"nothing", "", {}},
        {"LF and CRLF", "a\nb\r\n\nc\n", {{"a"}, {"b"}, {""}, {"c"}}},
        {"last line without LF", "a\nb", {{"a"}, {"b"}}},
        {"CR only at the end", "a\r\r\n", {{"a\r"}}},
        {"CR in the middle stays", "a\rb\n", {{"a\rb"}}},
        {"lone CRLF", "\r\n", {{""}}},
        {"last line with CR only", "a\r", {{"a"}}},
        {"longest line", longest + "\nok\n", {{longest}, {"ok"}}},
        {"longest line with CRLF", longest + "\r\nok", {{longest}, {"ok"}}},
        {"one byte too long", tooLong + "\nok\n", {over, {"ok"}}},
        {"one byte too long with CRLF", tooLong + "\r\nok\n", {over, {"ok"}}},
        {"too long twice", tooLong + tooLong + "\n" + tooLong + "\n", {over, over}},
        {"too long at the end", "a\n" + tooLong + tooLong, {{"a"}, over}},
    };
    for (const auto &c : cases) {
        for (const qsizetype chunk : {qsizetype(1), qsizetype(4093), qsizetype(65536)}) {
            if (chunk == 1 && c.input.size() > 4096)
                continue;
            SCOPED_TRACE(std::string(c.what) + ", reads of " + std::to_string(chunk));
            qsizetype offset = 0;
            qsizetype largestRequest = 0;
            KestroMCP::LineReader reader([&](char *buffer, qsizetype size) {
                largestRequest = std::max(largestRequest, size);
                const qsizetype count = std::min({size, chunk, c.input.size() - offset});
                std::memcpy(buffer, c.input.constData() + offset, size_t(count));
                offset += count;
                return count;
            });
            QList<Line> lines;
            while (const std::optional<Line> line = reader.next())
                lines.append(*line);
            ASSERT_EQ(lines.size(), c.lines.size());
            for (qsizetype i = 0; i < lines.size(); ++i) {
                EXPECT_EQ(lines[i].oversized, c.lines[i].oversized) << i;
                EXPECT_TRUE(lines[i].bytes == c.lines[i].bytes) << i;
            }
            EXPECT_EQ(offset, c.input.size());
            EXPECT_FALSE(reader.next());
            EXPECT_LE(largestRequest, 1 << 16);
        }
    }
}

TEST(KestroMCPLineReader, ReadErrorEndsTheInput)
{
    int calls = 0;
    KestroMCP::LineReader reader([&](char *buffer, qsizetype) -> qsizetype {
        if (++calls > 1)
            return -1;
        std::memcpy(buffer, "a\nb", 3);
        return 3;
    });
    EXPECT_TRUE(reader.next()->bytes == "a");
    EXPECT_TRUE(reader.next()->bytes == "b");
    EXPECT_FALSE(reader.next());
    EXPECT_EQ(calls, 2);
}

namespace {

mode_t modeOf(const QString &path)
{
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return 0;
    return info.st_mode & 07777;
}

QStringList entriesOf(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

// Plays the application's part of one exchange on a thread of its own: waits for a request
// file in the folder, notes it, and answers with `response` (unless it is empty).
class Responder
{
public:
    // Makes the response file itself (given its path), for answers writeComplete would not give.
    using Answer = std::function<void(const QString &responsePath)>;

    Responder(const QString &directory, const QByteArray &response)
        : Responder(directory, response.isEmpty() ? Answer() : [response](const QString &path) {
            AgentWire::writeComplete(response, path);
        })
    {
    }
    Responder(const QString &directory, Answer answer)
        : m_thread([this, directory, answer] { run(directory, answer); })
    {
    }
    ~Responder() { finish(); }

    void finish()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }

    QString requestName;
    QByteArray request;
    mode_t requestMode = 0;

private:
    void run(const QString &directory, const Answer &answer)
    {
        const auto giveUp = std::chrono::steady_clock::now() + 60s;
        while (!m_stop && std::chrono::steady_clock::now() < giveUp) {
            const QStringList names =
                QDir(directory).entryList({u"*"_s + QString::fromUtf16(AgentWire::requestSuffix)}, QDir::Files);
            if (names.isEmpty()) {
                std::this_thread::sleep_for(2ms);
                continue;
            }
            requestName = names.first();
            const QString path = directory + u'/' + requestName;
            requestMode = modeOf(path);
            QFile file(path);
            if (file.open(QIODevice::ReadOnly))
                request = file.readAll();
            const QUuid id = AgentWire::exchangeID(requestName, AgentWire::requestSuffix);
            if (answer && !id.isNull())
                answer(AgentWire::response(id, directory));
            return;
        }
    }

    std::atomic<bool> m_stop = false;
    std::thread m_thread;
};

// Each test starts without the variables the exchange reads and gets them back afterwards.
class KestroMCPCallApp : public testing::Test
{
protected:
    void SetUp() override
    {
        for (const char *name : variables)
            saved.append(qgetenv(name));
        for (const char *name : variables)
            qunsetenv(name);
        savedBundle = KestroMCP::bundle;
        directory = TestEnvironment::root() + u"/exchange/"_s + QString::number(++count) + u"/agent"_s;
        qputenv("KESTRO_AGENT_BRIDGE_DIR", QFile::encodeName(directory));
    }
    void TearDown() override
    {
        for (int i = 0; i < 3; ++i) {
            if (saved[i].isNull())
                qunsetenv(variables[i]);
            else
                qputenv(variables[i], saved[i]);
        }
        KestroMCP::bundle = savedBundle;
    }

    static constexpr const char *variables[] = {"KESTRO_AGENT_BRIDGE_DIR", "KESTRO_OPEN_COMMAND",
                                                "KESTRO_AGENT_POLL_ONLY"};
    static inline int count = 0;
    QList<QByteArray> saved;
    QString savedBundle;
    QString directory;
};

} // namespace

TEST_F(KestroMCPCallApp, ResponsesAreDecodedAndBothFilesRemoved)
{
    const struct
    {
        const char *what;
        QByteArray response;
        std::optional<QByteArray> result; // nothing: the call fails with the text below
        QString failure;
    } cases[] = {
        {"result", R"({"ok":true,"result":{"items":[],"count":0}})", R"({"items":[],"count":0})", {}},
        {"no result", R"({"ok":true})", "{}", {}},
        {"result a string", R"({"ok":true,"result":"queued"})", R"("queued")", {}},
        {"result null", R"({"ok":true,"result":null})", "null", {}},
        {"error text", R"({"ok":false,"error":"Download not found in the current queue."})", {},
         u"Download not found in the current queue."_s},
        {"no error text", R"({"ok":false})", {}, rejectedText},
        {"error not a string", R"({"ok":false,"error":{"text":"x"}})", {}, rejectedText},
        {"ok a string", R"({"ok":"true","result":1})", {}, rejectedText},
        {"ok a number", R"({"ok":1,"result":1})", {}, rejectedText},
        {"no ok", R"({"result":1})", {}, rejectedText},
        {"array", R"([{"ok":true}])", {}, invalidResponseText},
    };
    for (const bool pollOnly : {false, true}) {
        if (pollOnly)
            qputenv("KESTRO_AGENT_POLL_ONLY", "1");
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(c.what) + (pollOnly ? ", polling only" : ", watching"));
            Responder responder(directory, c.response);
            std::optional<QJsonValue> result;
            QString failure;
            try {
                result = KestroMCP::callApp({{u"action"_s, u"get"_s}, {u"id"_s, u"x"_s}});
            } catch (const Error &error) {
                failure = error.description();
            }
            responder.finish();
            EXPECT_EQ(responder.request, R"({"action":"get","id":"x"})");
            EXPECT_EQ(responder.requestMode, mode_t(0600));
            EXPECT_FALSE(AgentWire::exchangeID(responder.requestName, AgentWire::requestSuffix).isNull());
            const QString stem = responder.requestName.chopped(QStringView(AgentWire::requestSuffix).size());
            EXPECT_EQ(stem, stem.toUpper());
            if (c.result) {
                ASSERT_TRUE(result);
                const QJsonValue expected = QJsonDocument::fromJson("[" + *c.result + "]").array().first();
                EXPECT_EQ(*result, expected);
            } else {
                EXPECT_FALSE(result);
                EXPECT_EQ(failure, c.failure);
            }
            EXPECT_EQ(entriesOf(directory), QStringList());
        }
    }
    EXPECT_EQ(modeOf(directory), mode_t(0700));
}

TEST_F(KestroMCPCallApp, ResponseThatIsNotJSONGivesTheParserMessage)
{
    Responder responder(directory, "{\"ok\":tru");
    try {
        KestroMCP::callApp({{u"action"_s, u"list"_s}});
        ADD_FAILURE() << "no error";
    } catch (const DecodingError &error) {
        QJsonParseError expected;
        QJsonDocument::fromJson("{\"ok\":tru", &expected);
        EXPECT_EQ(error.description(), expected.errorString());
        EXPECT_FALSE(error.description().isEmpty());
    }
    responder.finish();
    EXPECT_EQ(entriesOf(directory), QStringList());
}

TEST_F(KestroMCPCallApp, SilentApplicationMeansUnavailable)
{
    for (const bool pollOnly : {false, true}) {
        SCOPED_TRACE(pollOnly ? "polling only" : "watching");
        if (pollOnly)
            qputenv("KESTRO_AGENT_POLL_ONLY", "1");
        // The responder only notes the request; nobody answers.
        Responder responder(directory, QByteArray());
        try {
            KestroMCP::callApp({{u"action"_s, u"list"_s}}, 300ms);
            ADD_FAILURE() << "no error";
        } catch (const KestroMCP::ToolError &error) {
            EXPECT_EQ(error.kind(), KestroMCP::ToolError::Kind::appUnavailable);
        }
        responder.finish();
        EXPECT_EQ(responder.request, R"({"action":"list"})");
        EXPECT_EQ(entriesOf(directory), QStringList());
    }
}

TEST_F(KestroMCPCallApp, ApplicationIsStartedInTheBackgroundWithoutABridgeFolder)
{
    qunsetenv("KESTRO_AGENT_BRIDGE_DIR");
    const QString standard = AgentWire::directory();
    ASSERT_TRUE(standard.startsWith(TestEnvironment::root()));

    // The failing launcher notes the request itself: it must be there before the application
    // is started, and a watcher of our own could miss so short a life.
    const QString seen = TestEnvironment::root() + u"/seen-request"_s;
    const QString arguments = TestEnvironment::root() + u"/open-fails.args"_s;
    const QString failing = TestEnvironment::writeFile(
        TestEnvironment::root() + u"/open-fails"_s,
        "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + QFile::encodeName(arguments) + "'\ncat '" + QFile::encodeName(standard)
            + "'/*.request.json > '" + QFile::encodeName(seen) + "'\nexit 1\n");
    QFile::setPermissions(failing, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("KESTRO_OPEN_COMMAND", QFile::encodeName(failing));
    {
        try {
            KestroMCP::callApp({{u"action"_s, u"list"_s}});
            ADD_FAILURE() << "no error";
        } catch (const KestroMCP::ToolError &error) {
            EXPECT_EQ(error.kind(), KestroMCP::ToolError::Kind::appUnavailable);
        }
        QFile request(seen);
        ASSERT_TRUE(request.open(QIODevice::ReadOnly));
        EXPECT_EQ(request.readAll(), R"({"action":"list"})");
        QFile launched(arguments);
        ASSERT_TRUE(launched.open(QIODevice::ReadOnly));
        EXPECT_EQ(launched.readAll(), "--open\n--background\n");
        EXPECT_EQ(entriesOf(standard), QStringList());
        EXPECT_EQ(modeOf(standard), mode_t(0700));
    }

    ArgumentRecorder opening(u"open-works"_s, 0);
    qputenv("KESTRO_OPEN_COMMAND", QFile::encodeName(opening.program));
    {
        Responder responder(standard, R"({"ok":true,"result":{"id":"A"}})");
        EXPECT_EQ(KestroMCP::callApp({{u"action"_s, u"list"_s}}), QJsonObject({{u"id"_s, u"A"_s}}));
        responder.finish();
        EXPECT_EQ(opening.arguments(), QStringList({u"--open"_s, u"--background"_s}));
        EXPECT_EQ(entriesOf(standard), QStringList());
    }
}

TEST_F(KestroMCPCallApp, LauncherThatCannotStartGivesItsReason)
{
    qunsetenv("KESTRO_AGENT_BRIDGE_DIR");
    const struct
    {
        const char *what;
        QString openCommand;
        QString bundle;
        QString failure; // empty: whatever the launcher reports
    } cases[] = {
        {"missing launcher", TestEnvironment::root() + u"/no-such-launcher"_s, QString(), {}},
        {"no bundle", QString(), QString(), u"The application bundle was not found."_s},
        {"bundle without the application", QString(), TestEnvironment::makeDirectory(u"empty-bundle"_s), {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        if (c.openCommand.isEmpty())
            qunsetenv("KESTRO_OPEN_COMMAND");
        else
            qputenv("KESTRO_OPEN_COMMAND", QFile::encodeName(c.openCommand));
        KestroMCP::bundle = c.bundle;
        const Launcher::Result launched = Launcher::open(c.bundle, {u"--background"_s}, 10000);
        ASSERT_EQ(launched.outcome, Launcher::Outcome::notStarted);
        try {
            KestroMCP::callApp({{u"action"_s, u"list"_s}});
            ADD_FAILURE() << "no error";
        } catch (const KestroMCP::ToolError &error) {
            EXPECT_EQ(error.kind(), KestroMCP::ToolError::Kind::appError);
            EXPECT_EQ(error.description(), launched.error);
            EXPECT_FALSE(error.description().isEmpty());
            if (!c.failure.isEmpty()) {
                EXPECT_EQ(error.description(), c.failure);
            }
        }
        EXPECT_EQ(entriesOf(AgentWire::directory()), QStringList());
    }
}

TEST_F(KestroMCPCallApp, EmptyBridgeVariableStillCountsAsSet)
{
    // An empty value means the standard folder, but the application is not started.
    qputenv("KESTRO_AGENT_BRIDGE_DIR", "");
    ArgumentRecorder launcher(u"open-unwanted"_s, 0);
    qputenv("KESTRO_OPEN_COMMAND", QFile::encodeName(launcher.program));
    EXPECT_THROW(KestroMCP::callApp({{u"action"_s, u"list"_s}}, 200ms), KestroMCP::ToolError);
    EXPECT_FALSE(launcher.called());
    EXPECT_EQ(entriesOf(AgentWire::directory()), QStringList());
}

TEST_F(KestroMCPCallApp, UnreadableAnswersAreReportedAsAnExchangeFault)
{
    const QString outside = TestEnvironment::writeFile(TestEnvironment::root() + u"/outside.json"_s, R"({"ok":true})");
    const struct
    {
        const char *what;
        Responder::Answer answer;
    } cases[] = {
        {"over the size limit",
         [](const QString &path) {
             AgentWire::writeComplete(R"({"ok":true,"result":")" + QByteArray(AgentWire::responseReadLimit, 'x') + "\"}",
                                      path);
         }},
        {"stale",
         [](const QString &path) {
             // Aged before it appears, so the server never meets it fresh.
             const QString aside = path + u".aside"_s;
             AgentWire::writeComplete(R"({"ok":true})", aside);
             struct timeval times[2];
             ::gettimeofday(&times[0], nullptr);
             times[0].tv_sec -= 301;
             times[1] = times[0];
             ::lutimes(QFile::encodeName(aside).constData(), times);
             ::rename(QFile::encodeName(aside).constData(), QFile::encodeName(path).constData());
         }},
        {"a symbolic link", [&](const QString &path) { QFile::link(outside, path); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        Responder responder(directory, c.answer);
        try {
            KestroMCP::callApp({{u"action"_s, u"list"_s}});
            ADD_FAILURE() << "no error";
        } catch (const KestroMCP::ToolError &error) {
            EXPECT_EQ(error.kind(), KestroMCP::ToolError::Kind::responseUnreadable);
        } catch (const Error &error) {
            ADD_FAILURE() << error.description().toStdString();
        }
        responder.finish();
        EXPECT_EQ(entriesOf(directory), QStringList());
    }
    EXPECT_TRUE(QFileInfo::exists(outside));
}

TEST_F(KestroMCPCallApp, ListSaysHowManyItemsTheApplicationLeftOut)
{
    const struct
    {
        QByteArray omitted;
        qint64 expected;
    } cases[] = {{"7", 7}, {"0", 0}, {"-3", 0}, {"1.5", 0}, {"\"7\"", 0}, {"null", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.omitted.toStdString());
        Responder responder(directory, R"({"ok":true,"result":[{"id":"A"}],"omitted":)" + c.omitted + "}");
        const KestroMCP::AppAnswer answer = KestroMCP::exchange({{u"action"_s, u"list"_s}});
        responder.finish();
        EXPECT_EQ(answer.result, QJsonArray({QJsonObject{{u"id"_s, u"A"_s}}}));
        EXPECT_EQ(answer.omitted, c.expected);
    }

    // The agent gets the note as a second text beside the list itself.
    const KestroMCP::AppCaller caller = [](const QJsonObject &) {
        return KestroMCP::AppAnswer(QJsonArray{QJsonObject{{u"id"_s, u"A"_s}}}, 7);
    };
    const QJsonArray content =
        KestroMCP::callTool({{u"name"_s, u"list_downloads"_s}}, caller).value(u"content"_s).toArray();
    ASSERT_EQ(content.size(), 2);
    EXPECT_EQ(content[0][u"text"_s], uR"([{"id":"A"}])"_s);
    EXPECT_EQ(content[1][u"text"_s], u"7 older queue items were left out to keep this answer within the size limit."_s);
}
