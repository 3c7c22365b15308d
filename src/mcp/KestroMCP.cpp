#include "KestroMCP.h"

#include "platform/Bundle.h"
#include "platform/FileDescriptor.h"
#include "platform/Launcher.h"
#include "shared/AgentWire.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserDownloadLink.h"
#include "shared/BrowserSession.h"
#include "shared/L10n.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QUuid>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <ctime>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr qsizetype readChunkBytes = 65536;
constexpr int pollIntervalMs = 100;

QJsonObject textContent(const QString &text)
{
    return {{u"content"_s, QJsonArray{QJsonObject{{u"type"_s, u"text"_s}, {u"text"_s, text}}}}};
}

QJsonObject toolFailure(const QString &text)
{
    QJsonObject result = textContent(text);
    result.insert(u"isError"_s, true);
    return result;
}

// Compact JSON of any value, a bare string or number included (QJsonDocument holds only
// objects and arrays, so the value is written inside an array and the brackets are cut off).
// QJsonObject keeps its members sorted by key, so objects come out with sorted keys.
std::optional<QString> jsonText(const QJsonValue &value)
{
    const QByteArray wrapped = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    if (wrapped.size() < 3 || !wrapped.startsWith('[') || !wrapped.endsWith(']'))
        return std::nullopt;
    return QString::fromUtf8(wrapped.sliced(1, wrapped.size() - 2));
}

bool exists(const QByteArray &path)
{
    struct stat info;
    return ::lstat(path.constData(), &info) == 0;
}

void sleepMs(int ms)
{
    struct timespec delay{ms / 1000, long(ms % 1000) * 1000000L};
    while (::nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
}

// The files of the call in flight, where a signal handler may read them: plain buffers,
// published by the flag only once they are complete.
char inFlightRequest[PATH_MAX];
char inFlightResponse[PATH_MAX];
volatile sig_atomic_t inFlight = 0;

void removeInFlightAndStop(int signalNumber)
{
    if (inFlight) {
        ::unlink(inFlightRequest);
        ::unlink(inFlightResponse);
    }
    // The signal stays blocked until the handler returns; then its default action ends us.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

// Both files of one exchange go on every way out, whether the call worked or not, and also
// when a signal ends the server during the call.
class ExchangeFiles
{
public:
    ExchangeFiles(const QString &request, const QString &response)
        : m_request(QFile::encodeName(request))
        , m_response(QFile::encodeName(response))
    {
        // A longer path cannot be created anyway.
        if (m_request.size() >= PATH_MAX || m_response.size() >= PATH_MAX)
            return;
        std::memcpy(inFlightRequest, m_request.constData(), size_t(m_request.size()) + 1);
        std::memcpy(inFlightResponse, m_response.constData(), size_t(m_response.size()) + 1);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        inFlight = 1;
    }
    ~ExchangeFiles()
    {
        ::unlink(m_request.constData());
        ::unlink(m_response.constData());
        inFlight = 0;
        std::atomic_signal_fence(std::memory_order_seq_cst);
    }
    ExchangeFiles(const ExchangeFiles &) = delete;
    ExchangeFiles &operator=(const ExchangeFiles &) = delete;

    const QByteArray &response() const { return m_response; }

private:
    QByteArray m_request;
    QByteArray m_response;
};

// Wakes the wait as soon as something lands in the exchange folder. Without inotify (or
// with KESTRO_AGENT_POLL_ONLY) the wait is a plain sleep; the existence check every
// 100 ms finds the response either way.
class DirectoryWatch
{
public:
    explicit DirectoryWatch(const QString &directory)
    {
        if (!AgentWire::watchesFiles())
            return;
        m_fd = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd < 0)
            return;
        if (::inotify_add_watch(m_fd, QFile::encodeName(directory).constData(),
                                IN_CREATE | IN_MOVED_TO | IN_CLOSE_WRITE)
            < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~DirectoryWatch()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    DirectoryWatch(const DirectoryWatch &) = delete;
    DirectoryWatch &operator=(const DirectoryWatch &) = delete;

    // Waits up to `ms`; throws KestroMCP::InputEnded when `input` (if any) hangs up.
    void wait(int ms, int input)
    {
        struct pollfd watched[2];
        nfds_t count = 0;
        if (m_fd >= 0)
            watched[count++] = {m_fd, POLLIN, 0};
        // Only the hang-up is asked for: unread requests waiting in the pipe must not wake us.
        if (input >= 0)
            watched[count++] = {input, POLLRDHUP, 0};
        if (count == 0) {
            sleepMs(ms);
            return;
        }
        if (::poll(watched, count, ms) <= 0)
            return;
        if (input >= 0 && (watched[count - 1].revents & (POLLHUP | POLLRDHUP | POLLERR | POLLNVAL)))
            throw KestroMCP::InputEnded();
        if (m_fd < 0 || !(watched[0].revents & POLLIN))
            return;
        // The events only say "look again"; which file it was does not matter.
        alignas(struct inotify_event) char events[4096];
        while (::read(m_fd, events, sizeof events) > 0) {
        }
    }

private:
    int m_fd = -1;
};

KestroMCP::AppAnswer decodeResponse(const QByteArray &data)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(data, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(error.errorString());
    if (!document.isObject())
        throw KestroMCP::ToolError::invalidResponse();
    const QJsonObject response = document.object();
    const QJsonValue ok = response.value(u"ok"_s);
    if (ok.isBool() && ok.toBool()) {
        const QJsonValue omitted = response.value(u"omitted"_s);
        const double count = omitted.toDouble();
        const qint64 leftOut = omitted.isDouble() && count >= 1 && count <= 1e9 && count == double(qint64(count))
                                   ? qint64(count)
                                   : 0;
        if (!response.contains(u"result"_s))
            return {QJsonObject(), leftOut};
        return {response.value(u"result"_s), leftOut};
    }
    const QJsonValue message = response.value(u"error"_s);
    throw KestroMCP::ToolError::appError(message.isString() ? message.toString()
                                                             : u"Brisvane Download rejected the request"_s);
}

QJsonObject tool(const QString &name, const QString &description, const QJsonObject &properties,
                 const QStringList &required, const QJsonObject &annotations)
{
    QJsonObject schema{{u"type"_s, u"object"_s}, {u"properties"_s, properties}, {u"additionalProperties"_s, false}};
    if (!required.isEmpty())
        schema.insert(u"required"_s, QJsonArray::fromStringList(required));
    return {{u"name"_s, name}, {u"description"_s, description}, {u"inputSchema"_s, schema},
            {u"annotations"_s, annotations}};
}

} // namespace

const QStringList KestroMCP::protocolVersions{u"2025-11-25"_s, u"2025-06-18"_s, u"2025-03-26"_s};

const QJsonArray KestroMCP::tools{
    tool(u"download_url"_s,
         u"Add one authorized HTTP or HTTPS media URL to the Brisvane Download queue, using the application's "
         u"download folder and format preferences, and return the queue item ID."_s,
         {{u"url"_s, QJsonObject{{u"type"_s, u"string"_s}, {u"description"_s, u"Media or page URL"_s}}}},
         {u"url"_s},
         {{u"readOnlyHint"_s, false}, {u"destructiveHint"_s, false}, {u"openWorldHint"_s, true}}),
    tool(u"list_downloads"_s,
         u"List up to 50 current Brisvane Download queue items with IDs, status, progress, and completed file paths."_s,
         {}, {}, {{u"readOnlyHint"_s, true}, {u"destructiveHint"_s, false}}),
    tool(u"get_download"_s, u"Get the current status of one Brisvane Download queue item by ID."_s,
         {{u"id"_s, QJsonObject{{u"type"_s, u"string"_s}, {u"description"_s, u"Queue item UUID"_s}}}}, {u"id"_s},
         {{u"readOnlyHint"_s, true}, {u"destructiveHint"_s, false}}),
};

QString KestroMCP::ToolError::description() const
{
    switch (m_kind) {
    case Kind::appError:
        return m_message;
    case Kind::invalidURL:
        return u"Provide one valid HTTP or HTTPS URL without embedded credentials."_s;
    case Kind::invalidID:
        return u"Provide a valid queue item UUID."_s;
    case Kind::unknownTool:
        return u"Unknown Brisvane Download tool."_s;
    case Kind::invalidResponse:
        return u"Brisvane Download returned an invalid response."_s;
    case Kind::appUnavailable:
        return u"Brisvane Download did not respond within 20 seconds. Open Brisvane Download and try again."_s;
    case Kind::requestNotDelivered:
        return L10n::tr(u"无法把请求交给 Brisvane Download，请重试。"_s);
    case Kind::responseUnreadable:
        return L10n::tr(u"无法读取 Brisvane Download 的回复（过大、无法读取或已过期），请重试。"_s);
    }
    return QString();
}

std::optional<KestroMCP::LineReader::Line> KestroMCP::LineReader::next()
{
    // A line may end in "\r\n", so one byte more than the limit is kept while looking for "\n".
    constexpr qsizetype keptBytes = maxLineBytes + 1;
    const auto finish = [](QByteArray bytes) {
        if (bytes.endsWith('\r'))
            bytes.chop(1);
        if (bytes.size() > maxLineBytes)
            return Line{{}, true};
        return Line{std::move(bytes), false};
    };

    bool discarding = false;
    qsizetype scanned = m_start;
    for (;;) {
        const qsizetype newline = m_buffer.indexOf('\n', scanned);
        if (newline >= 0) {
            const qsizetype start = m_start;
            m_start = newline + 1;
            if (discarding)
                return Line{{}, true};
            return finish(m_buffer.sliced(start, newline - start));
        }
        // No "\n" yet: keep the partial line at the front of the buffer, or drop it when it
        // is already too long to be answered.
        if (m_buffer.size() - m_start > keptBytes)
            discarding = true;
        if (discarding)
            m_buffer.clear();
        else
            m_buffer.remove(0, m_start);
        m_start = 0;
        scanned = m_buffer.size();
        if (!fill()) {
            if (discarding)
                return Line{{}, true};
            if (m_buffer.isEmpty())
                return std::nullopt;
            const QByteArray last = std::exchange(m_buffer, QByteArray());
            return finish(last);
        }
    }
}

bool KestroMCP::LineReader::fill()
{
    if (m_ended)
        return false;
    // One fixed piece for every read; small reads from a pipe then cost no reallocation.
    if (m_chunk.isEmpty())
        m_chunk.resize(readChunkBytes);
    const qsizetype got = m_source(m_chunk.data(), readChunkBytes);
    if (got <= 0) {
        m_ended = true;
        return false;
    }
    m_buffer.append(m_chunk.constData(), std::min(got, readChunkBytes));
    return true;
}

std::optional<QByteArray> KestroMCP::reply(const QJsonValue &id, const QJsonObject &result,
                                           const std::optional<ProtocolError> &error)
{
    QJsonObject envelope{{u"jsonrpc"_s, u"2.0"_s}, {u"id"_s, id}};
    if (error)
        envelope.insert(u"error"_s, QJsonObject{{u"code"_s, error->code}, {u"message"_s, error->message}});
    else
        envelope.insert(u"result"_s, result);
    const QByteArray json = QJsonDocument(envelope).toJson(QJsonDocument::Compact);
    if (json.isEmpty())
        return std::nullopt;
    return json + '\n';
}

bool KestroMCP::send(const QJsonValue &id, const QJsonObject &result, const std::optional<ProtocolError> &error)
{
    const std::optional<QByteArray> line = reply(id, result, error);
    return !line || FileDescriptor::writeAll(STDOUT_FILENO, *line);
}

std::optional<QByteArray> KestroMCP::respond(const QByteArray &line, const AppCaller &callApp)
{
    // The size goes first: an over-long line is never parsed.
    if (line.size() > maxLineBytes)
        return reply(QJsonValue::Null, {}, ProtocolError::parse());
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject())
        return reply(QJsonValue::Null, {}, ProtocolError::parse());
    const QJsonObject message = document.object();
    // Notifications get no reply, whatever they hold.
    if (!message.contains(u"id"_s))
        return std::nullopt;
    const QJsonValue id = message.value(u"id"_s);
    const QJsonValue version = message.value(u"jsonrpc"_s);
    const QJsonValue method = message.value(u"method"_s);
    if (!version.isString() || version.toString() != u"2.0"_s || !method.isString())
        return reply(id, {}, ProtocolError::invalidRequest());

    const QString name = method.toString();
    const QJsonObject params = message.value(u"params"_s).toObject();
    if (name == u"initialize"_s) {
        const QJsonValue asked = params.value(u"protocolVersion"_s);
        const bool supported = asked.isString() && protocolVersions.contains(asked.toString());
        const QJsonValue bundleVersion = Bundle(bundle).infoValue(u"CFBundleShortVersionString"_s);
        const QString serverVersion = bundleVersion.isString() && !bundleVersion.toString().isEmpty()
                                          ? bundleVersion.toString()
                                          : fallbackVersion;
        return reply(id, {{u"protocolVersion"_s, supported ? asked.toString() : protocolVersions.first()},
                          {u"capabilities"_s, QJsonObject{{u"tools"_s, QJsonObject()}}},
                          {u"serverInfo"_s, QJsonObject{{u"name"_s, u"kestro"_s}, {u"version"_s, serverVersion}}}});
    }
    if (name == u"ping"_s)
        return reply(id, {});
    if (name == u"tools/list"_s)
        return reply(id, {{u"tools"_s, tools}});
    if (name == u"tools/call"_s)
        return reply(id, callTool(params, callApp));
    return reply(id, {}, ProtocolError::methodNotFound());
}

QJsonObject KestroMCP::callTool(const QJsonObject &params, const AppCaller &callApp)
{
    const QJsonObject arguments = params.value(u"arguments"_s).toObject();
    const QJsonValue nameValue = params.value(u"name"_s);
    const QString name = nameValue.isString() ? nameValue.toString() : QString();
    try {
        QJsonObject request;
        if (name == u"download_url"_s) {
            const QJsonValue url = arguments.value(u"url"_s);
            if (!url.isString() || !BrowserDownloadLink::webURL(url.toString()))
                throw ToolError::invalidURL();
            request = {{u"action"_s, u"download"_s}, {u"url"_s, url}};
        } else if (name == u"list_downloads"_s) {
            request = {{u"action"_s, u"list"_s}};
        } else if (name == u"get_download"_s) {
            const QJsonValue id = arguments.value(u"id"_s);
            if (!id.isString() || AgentWire::parseID(id.toString()).isNull())
                throw ToolError::invalidID();
            request = {{u"action"_s, u"get"_s}, {u"id"_s, id}};
        } else {
            throw ToolError::unknownTool();
        }
        const AppAnswer answer = callApp(request);
        const std::optional<QString> text = jsonText(answer.result);
        if (!text)
            throw ToolError::invalidResponse();
        QJsonObject result = textContent(*text);
        if (answer.omitted > 0 && name == u"list_downloads"_s) {
            QJsonArray content = result.value(u"content"_s).toArray();
            const QString note = QString::number(answer.omitted)
                                 + u" older queue items were left out to keep this answer within the size limit."_s;
            content.append(QJsonObject{{u"type"_s, u"text"_s}, {u"text"_s, note}});
            result.insert(u"content"_s, content);
        }
        return result;
    } catch (const InputEnded &) {
        throw;
    } catch (const Error &error) {
        return toolFailure(error.description());
    } catch (...) {
        // Whatever went wrong, the agent gets a failed result rather than no reply at all.
        return toolFailure(ToolError::invalidResponse().description());
    }
}

QJsonValue KestroMCP::callApp(const QJsonObject &request, std::chrono::milliseconds deadline)
{
    return exchange(request, deadline).result;
}

KestroMCP::AppAnswer KestroMCP::exchange(const QJsonObject &request, std::chrono::milliseconds deadline)
{
    const QString directory = AgentWire::directory();
    BrowserBridge::privateDirectory(directory);

    const QUuid id = QUuid::createUuid();
    const QByteArray body = QJsonDocument(request).toJson(QJsonDocument::Compact);
    // Watching starts before the request exists, so a quick response cannot slip past.
    DirectoryWatch watch(directory);
    const ExchangeFiles files(AgentWire::request(id, directory), AgentWire::response(id, directory));
    try {
        AgentWire::writeComplete(body, AgentWire::request(id, directory));
    } catch (const BrowserSession::SessionError &) {
        throw ToolError::requestNotDelivered();
    }

    if (!qEnvironmentVariableIsSet("KESTRO_AGENT_BRIDGE_DIR")) {
        const Launcher::Result launched = Launcher::open(bundle, {u"--background"_s}, launchTimeoutMs);
        if (launched.outcome == Launcher::Outcome::notStarted)
            throw ToolError::appError(launched.error);
        if (launched.outcome == Launcher::Outcome::failed)
            throw ToolError::appUnavailable();
    }

    const auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (exists(files.response())) {
            QByteArray data;
            try {
                data = BrowserBridge::readPrivate(AgentWire::response(id, directory), AgentWire::responseReadLimit);
            } catch (const BrowserSession::SessionError &) {
                // Too large, not ours, not a plain file or stale: a fault of the exchange, not
                // of any browser session.
                throw ToolError::responseUnreadable();
            }
            return decodeResponse(data);
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            throw ToolError::appUnavailable();
        watch.wait(int(std::min<qint64>(left.count(), pollIntervalMs)), watchedInput);
    }
}

namespace {

void dropMessage(QtMsgType, const QMessageLogContext &, const QString &)
{
}

qsizetype readStandardInput(char *buffer, qsizetype size)
{
    for (;;) {
        const ssize_t got = ::read(STDIN_FILENO, buffer, size_t(size));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            FileDescriptor::waitUntilReady(STDIN_FILENO, POLLIN);
            continue;
        }
        return qsizetype(got);
    }
}

} // namespace

void KestroMCP::removeExchangeOnSignals()
{
    struct sigaction action{};
    action.sa_handler = removeInFlightAndStop;
    sigemptyset(&action.sa_mask);
    // All three wait while one is handled, so the files are removed once and whole.
    for (const int blocked : {SIGTERM, SIGINT, SIGHUP})
        sigaddset(&action.sa_mask, blocked);
    action.sa_flags = SA_RESTART;
    for (const int stopping : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(stopping, &action, nullptr);
}

int KestroMCP::main(int argc, char **argv)
{
    // Standard error belongs to the agent's host, and standard output to the protocol alone.
    qInstallMessageHandler(dropMessage);
    // A client that goes away must not kill the server mid-write; the failed write ends it.
    std::signal(SIGPIPE, SIG_IGN);
    bundle = Bundle::ofHelper(argc > 0 ? QFile::decodeName(argv[0]) : QString());

    // A client that stops us mid-call must not leave a request that is answered later.
    removeExchangeOnSignals();
    watchedInput = STDIN_FILENO;

    const AppCaller caller = [](const QJsonObject &request) { return exchange(request); };
    LineReader lines(readStandardInput);
    try {
        while (const std::optional<LineReader::Line> line = lines.next()) {
            if (line->oversized) {
                if (!send(QJsonValue::Null, {}, ProtocolError::parse()))
                    break;
                continue;
            }
            const std::optional<QByteArray> answer = respond(line->bytes, caller);
            if (answer && !FileDescriptor::writeAll(STDOUT_FILENO, *answer))
                break;
        }
    } catch (const InputEnded &) {
        // The call was given up and its files are gone; nobody is left to answer.
    }
    return 0;
}
