#pragma once

#include "shared/Error.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QStringList>

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

// KestroMCP: the stdio MCP server an AI agent starts. JSON-RPC 2.0, one message per line; the
// three tools reach the application through request and response files (AgentWire).
// Strictly sequential and single-threaded, without an event loop.
class KestroMCP
{
public:
    static constexpr qsizetype maxLineBytes = 1048576;
    static constexpr std::chrono::milliseconds appDeadline = std::chrono::seconds(20);
    static constexpr int launchTimeoutMs = 30000;
    // The latest first; it is also the answer to any version not listed.
    static const QStringList protocolVersions;
    static inline const QString fallbackVersion = QStringLiteral("1.6.1");

    // What the agent sees in a failed tool result.
    class ToolError : public Error
    {
    public:
        enum class Kind {
            appError,
            invalidURL,
            invalidID,
            unknownTool,
            invalidResponse,
            appUnavailable,
            requestNotDelivered,
            responseUnreadable,
        };

        static ToolError appError(const QString &message) { return ToolError(Kind::appError, message); }
        static ToolError invalidURL() { return ToolError(Kind::invalidURL); }
        static ToolError invalidID() { return ToolError(Kind::invalidID); }
        static ToolError unknownTool() { return ToolError(Kind::unknownTool); }
        static ToolError invalidResponse() { return ToolError(Kind::invalidResponse); }
        static ToolError appUnavailable() { return ToolError(Kind::appUnavailable); }
        // The exchange itself failed: the request file could not be made, or the answer was
        // too large, unreadable or stale. Translated, like the refusals it stands for.
        static ToolError requestNotDelivered() { return ToolError(Kind::requestNotDelivered); }
        static ToolError responseUnreadable() { return ToolError(Kind::responseUnreadable); }

        Kind kind() const { return m_kind; }
        QString description() const override;

    private:
        explicit ToolError(Kind kind, const QString &message = QString()) : m_kind(kind), m_message(message) {}
        Kind m_kind;
        QString m_message;
    };

    // A JSON-RPC error of the reply envelope.
    struct ProtocolError
    {
        int code;
        QString message;

        static ProtocolError parse() { return {-32700, QStringLiteral("Invalid JSON-RPC message")}; }
        static ProtocolError invalidRequest() { return {-32600, QStringLiteral("Invalid request")}; }
        static ProtocolError methodNotFound() { return {-32601, QStringLiteral("Method not found")}; }
    };

    // The application's result, and how many list entries it left out to stay within the
    // response limit.
    struct AppAnswer
    {
        AppAnswer(QJsonValue value = QJsonValue(), qint64 leftOut = 0) : result(std::move(value)), omitted(leftOut) {}
        QJsonValue result;
        qint64 omitted;
    };

    // The end of standard input while a call waits: the client has gone, so the call is
    // given up and the server ends.
    struct InputEnded
    {
    };

    // Hands one request to the application and returns its answer; throws Error.
    using AppCaller = std::function<AppAnswer(const QJsonObject &request)>;

    // download_url, list_downloads, get_download, in this order.
    static const QJsonArray tools;
    // The bundle the server sits in (empty when unknown); main() sets it once from argv[0].
    static inline QString bundle;

    // The reply to one line (without its "\n"): compact JSON and "\n", or nothing for a
    // notification or a reply that cannot be serialised.
    static std::optional<QByteArray> respond(const QByteArray &line, const AppCaller &callApp);
    // The result of tools/call for its params; failures become a result with "isError".
    static QJsonObject callTool(const QJsonObject &params, const AppCaller &callApp);
    // One reply line, or nothing when it cannot be serialised. A given error replaces the result.
    static std::optional<QByteArray> reply(const QJsonValue &id, const QJsonObject &result,
                                           const std::optional<ProtocolError> &error = std::nullopt);
    // Writes one reply to standard output with one write (more only after a partial write);
    // false once standard output is gone.
    // A reply that cannot be serialised is dropped and counts as sent.
    static bool send(const QJsonValue &id, const QJsonObject &result,
                     const std::optional<ProtocolError> &error = std::nullopt);

    // Writes the request for the application, starts the application unless
    // $KESTRO_AGENT_BRIDGE_DIR is set, and waits up to `deadline` for the response. Throws
    // Error (ToolError, DecodingError, FileError, BrowserSession::SessionError). Neither file
    // is left behind.
    static QJsonValue callApp(const QJsonObject &request, std::chrono::milliseconds deadline = appDeadline);
    // The same with the count of left-out entries. Throws InputEnded when `watchedInput`
    // hangs up during the wait.
    static AppAnswer exchange(const QJsonObject &request, std::chrono::milliseconds deadline = appDeadline);
    // The descriptor whose hang-up gives a waiting call up; none (-1) unless main() sets it.
    static inline int watchedInput = -1;
    // SIGTERM, SIGINT and SIGHUP remove the files of the call in flight, then end the
    // process as the signal would. The handler does nothing but unlink(2) and raise(3).
    static void removeExchangeOnSignals();

    // Splits a byte stream into lines without ever holding more than one line of at most
    // maxLineBytes (plus a "\r"). An over-long line is skipped up to its "\n" and comes out
    // once, marked oversized and without its bytes.
    class LineReader
    {
    public:
        // Fills up to `size` bytes; returns the count, 0 at the end, or -1 on an error (an end too).
        using Source = std::function<qsizetype(char *buffer, qsizetype size)>;

        struct Line
        {
            QByteArray bytes; // without "\n" and a "\r" before it
            bool oversized = false;
        };

        explicit LineReader(Source source) : m_source(std::move(source)) {}
        // The next line; a last line without "\n" counts. Nothing at the end of the input.
        std::optional<Line> next();

    private:
        bool fill();

        Source m_source;
        QByteArray m_chunk;
        QByteArray m_buffer;
        qsizetype m_start = 0;
        bool m_ended = false;
    };

    // The program: exit status 0 when standard input ends.
    static int main(int argc, char **argv);
};
