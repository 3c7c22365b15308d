#include "BrowserDownloadLink.h"

#include "shared/BrowserSession.h"

#include <QByteArray>
#include <QRegularExpression>
#include <QSet>
#include <QStringDecoder>
#include <QStringList>

using namespace Qt::StringLiterals;

namespace {

bool isKestroScheme(const QString &scheme)
{
    // ASCII only: a case-insensitive QString compare would let KELVIN SIGN stand for "k".
    static const QRegularExpression pattern(QRegularExpression::anchoredPattern(u"[Kk][Ee][Ss][Tt][Rr][Oo]"_s));
    return pattern.match(scheme).hasMatch();
}

// Strict percent-decoding of one query part: every "%" starts a two-digit escape, and the
// bytes must be UTF-8. A leading byte-order mark is kept (the default decoder would drop
// it), so it is rejected with the other format characters instead of vanishing.
std::optional<QString> percentDecoded(const QString &part)
{
    static const QRegularExpression malformedEscape(u"%(?![0-9A-Fa-f]{2})"_s);
    if (malformedEscape.match(part).hasMatch())
        return std::nullopt;
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    const QString decoded = decoder.decode(QByteArray::fromPercentEncoding(part.toUtf8()));
    if (decoder.hasError())
        return std::nullopt;
    return decoded;
}

bool plainText(const QString &value, qsizetype limit)
{
    return !value.isEmpty() && BrowserSession::text(value, limit);
}

} // namespace

namespace BrowserDownloadLink {

std::optional<QUrl> webURL(const QString &text)
{
    if (!BrowserSession::text(text, maxLinkBytes))
        return std::nullopt;
    // Tolerant parsing: characters that should have been percent-encoded (a "|" or "{" in a
    // pasted query) are encoded rather than refused; the structure is still checked.
    const QUrl url(text);
    if (!url.isValid())
        return std::nullopt;
    // QUrl accepts only ASCII schemes and gives them lower-cased.
    if (url.scheme() != u"http"_s && url.scheme() != u"https"_s)
        return std::nullopt;
    if (url.host().isEmpty())
        return std::nullopt;
    // "http://@host" and "http://:@host" leave user name and password empty in QUrl, but the
    // "@" still shows in the authority: user info was written, so refuse it.
    if (!url.userInfo().isEmpty() || url.authority().contains(u'@'))
        return std::nullopt;
    return url;
}

std::optional<Request> request(const QString &urlText)
{
    // The limit applies before any parsing. Control and format characters would fail one of
    // the checks below anyway; refusing them here keeps line breaks out of the splitting.
    if (!BrowserSession::text(urlText, maxDownloadURLBytes))
        return std::nullopt;

    // The components are taken from the text as written, with the generic splitting of
    // RFC 3986 (appendix B), not from QUrl: QUrl lower-cases the host, which must be compared
    // as written, and its query API no longer tells "name" from "name=".
    static const QRegularExpression components(QRegularExpression::anchoredPattern(
        u"(?:([^:/?#]+):)?(?://([^/?#]*))?([^?#]*)(?:\\?([^#]*))?(?:#(.*))?"_s));
    const QRegularExpressionMatch parts = components.match(urlText);
    if (!parts.hasMatch())
        return std::nullopt;
    if (!parts.hasCaptured(1) || !isKestroScheme(parts.captured(1)))
        return std::nullopt;
    // Comparing the whole authority also refuses any user, password or port, even empty ones.
    if (!parts.hasCaptured(2) || parts.captured(2) != u"download"_s)
        return std::nullopt;
    if (const QString path = parts.captured(3); !path.isEmpty() && path != u"/"_s)
        return std::nullopt;
    if (parts.hasCaptured(5) || !parts.hasCaptured(4))
        return std::nullopt;

    const QStringList items = parts.captured(4).split(u'&');
    if (items.size() > maxQueryItems)
        return std::nullopt;
    static const QSet<QString> knownNames{u"url"_s, u"referer"_s, u"userAgent"_s, u"title"_s};
    QList<std::pair<QString, QString>> values;
    QSet<QString> seen;
    for (const QString &item : items) {
        const qsizetype equals = item.indexOf(u'=');
        if (equals < 0)
            return std::nullopt;
        const std::optional<QString> name = percentDecoded(item.first(equals));
        const std::optional<QString> value = percentDecoded(item.sliced(equals + 1));
        if (!name || !value || !knownNames.contains(*name) || seen.contains(*name))
            return std::nullopt;
        seen.insert(*name);
        values.append({*name, *value});
    }

    Request result;
    bool hasURL = false;
    for (const auto &[name, value] : std::as_const(values)) {
        if (name == u"url"_s) {
            const std::optional<QUrl> url = webURL(value);
            if (!url)
                return std::nullopt;
            result.url = *url;
            hasURL = true;
        } else if (name == u"referer"_s) {
            const std::optional<QUrl> referer = webURL(value);
            if (!referer)
                return std::nullopt;
            result.referer = referer->adjusted(QUrl::RemoveFragment).toString(QUrl::FullyEncoded);
        } else if (name == u"title"_s) {
            if (!plainText(value, maxTitleBytes))
                return std::nullopt;
            result.title = value;
        } else {
            if (!plainText(value, maxUserAgentBytes))
                return std::nullopt;
            result.userAgent = value;
        }
    }
    if (!hasURL)
        return std::nullopt;
    return result;
}

std::optional<QUrl> target(const QString &urlText)
{
    if (const std::optional<Request> parsed = request(urlText))
        return parsed->url;
    return std::nullopt;
}

} // namespace BrowserDownloadLink
