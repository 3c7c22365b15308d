// Arbitrary bytes on the MCP server's standard input, read in pieces through its line reader and
// answered line by line with a stand-in application. The first byte chooses the application's
// answer (bits 0-1), the size of the reads (bits 2-5), and, when bits 2-7 are all set, pads
// the first line with spaces to within a byte of the line limit (the second byte picks which)
// and reads in large pieces.
// Besides the sanitizers: the reader gives exactly the lines a plain split gives; each reply is
// one compact JSON object on one line, of the kind the line calls for, with the request's id;
// tool calls always get a result with one text item; the application is asked at most once per
// line, only by a tools/call request, and only with a request of one of the three forms whose
// argument passed its check.
#include "mcp/KestroMCP.h"
#include "shared/BrowserDownloadLink.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

void check(bool condition)
{
    if (!condition)
        std::abort();
}

// The lines of the input by a plain split, as the reader should give them.
QList<KestroMCP::LineReader::Line> expectedLines(const QByteArray &input)
{
    QList<KestroMCP::LineReader::Line> lines;
    if (input.isEmpty())
        return lines;
    QList<QByteArray> parts = input.split('\n');
    if (input.endsWith('\n'))
        parts.removeLast();
    for (QByteArray part : parts) {
        if (part.endsWith('\r'))
            part.chop(1);
        if (part.size() > KestroMCP::maxLineBytes)
            lines.append({{}, true});
        else
            lines.append({part, false});
    }
    return lines;
}

bool isRequestOfAKnownForm(const QJsonObject &request)
{
    const QString action = request.value(u"action"_s).toString();
    if (action == u"list"_s)
        return request.size() == 1;
    if (action == u"download"_s) {
        const QJsonValue url = request.value(u"url"_s);
        return request.size() == 2 && url.isString() && BrowserDownloadLink::webURL(url.toString());
    }
    if (action == u"get"_s) {
        const QJsonValue id = request.value(u"id"_s);
        return request.size() == 2 && id.isString() && id.toString().size() == 36;
    }
    return false;
}

void checkReply(const QByteArray &line, const std::optional<QByteArray> &reply, int calls)
{
    check(calls <= 1);
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(line, &parseError);
    const bool isObject = parseError.error == QJsonParseError::NoError && document.isObject();
    const QJsonObject message = document.object();

    if (isObject && !message.contains(u"id"_s)) {
        check(!reply && calls == 0);
        return;
    }
    check(reply.has_value());
    check(reply->endsWith('\n') && reply->count('\n') == 1);
    const QJsonDocument replyDocument = QJsonDocument::fromJson(reply->chopped(1));
    check(replyDocument.isObject());
    const QJsonObject answer = replyDocument.object();
    check(replyDocument.toJson(QJsonDocument::Compact) == reply->chopped(1));
    check(answer.value(u"jsonrpc"_s) == u"2.0"_s);
    check(answer.contains(u"id"_s));
    check(answer.contains(u"result"_s) != answer.contains(u"error"_s));
    check(answer.size() == 3);

    const int code = answer.value(u"error"_s)[u"code"_s].toInt();
    if (!isObject) {
        check(code == -32700 && answer.value(u"id"_s).isNull() && calls == 0);
        return;
    }
    check(answer.value(u"id"_s) == message.value(u"id"_s));
    const QJsonValue version = message.value(u"jsonrpc"_s);
    const QJsonValue method = message.value(u"method"_s);
    if (version != u"2.0"_s || !method.isString()) {
        check(code == -32600 && calls == 0);
        return;
    }
    const QString name = method.toString();
    if (name != u"initialize"_s && name != u"ping"_s && name != u"tools/list"_s && name != u"tools/call"_s) {
        check(code == -32601 && calls == 0);
        return;
    }
    check(answer.contains(u"result"_s));
    if (name != u"tools/call"_s) {
        check(calls == 0);
        return;
    }
    const QJsonObject result = answer.value(u"result"_s).toObject();
    const QJsonArray content = result.value(u"content"_s).toArray();
    check(content.size() == 1 && content.first()[u"type"_s] == u"text"_s && content.first()[u"text"_s].isString());
    check(!result.contains(u"isError"_s) || result.value(u"isError"_s) == true);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const uint8_t control = size > 0 ? data[0] : 0;
    const bool nearLimit = (control & 0xFC) == 0xFC && size > 1;
    const qsizetype skip = nearLimit ? 2 : size > 0 ? 1 : 0;
    QByteArray input(reinterpret_cast<const char *>(data) + skip, qsizetype(size) - skip);
    if (nearLimit) {
        const qsizetype firstLine = input.indexOf('\n') < 0 ? input.size() : input.indexOf('\n');
        const qsizetype target = KestroMCP::maxLineBytes - 1 + data[1] % 3;
        if (firstLine < target)
            input.prepend(QByteArray(target - firstLine, ' '));
    }
    static const qsizetype readSizes[] = {1, 2, 3, 5, 7, 16, 64, 255, 256, 1000, 4096, 65535, 65536, 1, 3, 17};
    // Long lines in tiny reads would only slow the run down.
    const qsizetype readSize = nearLimit ? 65536 : readSizes[(control >> 2) & 15];

    qsizetype offset = 0;
    KestroMCP::LineReader reader([&](char *buffer, qsizetype capacity) {
        const qsizetype count = std::min({capacity, readSize, input.size() - offset});
        std::memcpy(buffer, input.constData() + offset, size_t(count));
        offset += count;
        return count;
    });

    int calls = 0;
    const KestroMCP::AppCaller caller = [&](const QJsonObject &request) -> QJsonValue {
        ++calls;
        check(isRequestOfAKnownForm(request));
        switch (control & 3) {
        case 0:
            return QJsonObject{{u"items"_s, QJsonArray{request}}, {u"count"_s, 1}};
        case 1:
            return request.value(u"action"_s);
        case 2:
            throw KestroMCP::ToolError::appError(u"Download not found in the current queue."_s);
        default:
            throw std::runtime_error("stand-in failure");
        }
    };

    const QList<KestroMCP::LineReader::Line> expected = expectedLines(input);
    qsizetype index = 0;
    while (const std::optional<KestroMCP::LineReader::Line> line = reader.next()) {
        check(index < expected.size());
        check(line->oversized == expected[index].oversized && line->bytes == expected[index].bytes);
        ++index;
        if (line->oversized)
            continue;
        calls = 0;
        const std::optional<QByteArray> reply = KestroMCP::respond(line->bytes, caller);
        checkReply(line->bytes, reply, calls);
    }
    check(index == expected.size());
    check(offset == input.size());
    return 0;
}
