#include "BrowserSession.h"

#include "shared/BrowserDownloadLink.h"
#include "shared/L10n.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>

#include <cmath>

using namespace Qt::StringLiterals;

QString BrowserSession::SessionError::description() const
{
    return L10n::tr(u"浏览器会话信息无效或已过期，请刷新网页后重新发送。"_s);
}

namespace {

const QString redactionMarker = u"[已隐藏凭据]"_s;
const QString cookieFileHeader = u"# Netscape HTTP Cookie File"_s;

// Only ASCII letters change: QString::toLower maps KELVIN SIGN onto "k", which would let a
// non-ASCII cookie domain pass the ASCII domain pattern.
QString asciiLower(const QString &text)
{
    QString lower = text;
    for (QChar &c : lower) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + (u'a' - u'A'));
    }
    return lower;
}

// The host in its ASCII (punycode) form: that is how browsers report cookie domains and
// how the engine sends the host.
QString hostOf(const QUrl &url)
{
    return asciiLower(url.host(QUrl::EncodeUnicode));
}

QString domainNormalForm(const QString &domain)
{
    const QString lower = asciiLower(domain);
    qsizetype begin = 0;
    qsizetype end = lower.size();
    while (begin < end && lower[begin] == u'.')
        ++begin;
    while (end > begin && lower[end - 1] == u'.')
        --end;
    return lower.sliced(begin, end - begin);
}

bool domainMatches(const BrowserSession::Cookie &cookie, const QString &host)
{
    const QString domain = domainNormalForm(cookie.domain);
    if (domain.isEmpty())
        return false;
    if (host == domain)
        return true;
    return !cookie.hostOnly && host.size() > domain.size() && host.endsWith(domain)
        && host[host.size() - domain.size() - 1] == u'.';
}

qsizetype codePointCount(const QString &text)
{
    qsizetype count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate())
            ++i;
        ++count;
    }
    return count;
}

// JSON decoding with the key path in every message, e.g. "cookies[2].secure".
QString missingKey(const QString &path)
{
    return u"Missing key \"%1\""_s.arg(path);
}

[[noreturn]] void wrongType(const QString &path, const QString &expected)
{
    throw DecodingError(u"Wrong type at \"%1\": expected %2"_s.arg(path, expected));
}

QJsonValue member(const QJsonObject &object, const QString &key, const QString &path)
{
    const auto it = object.constFind(key);
    if (it == object.constEnd())
        throw DecodingError(missingKey(path));
    return it.value();
}

QString stringMember(const QJsonObject &object, const QString &key, const QString &path)
{
    const QJsonValue value = member(object, key, path);
    if (!value.isString())
        wrongType(path, u"a string"_s);
    return value.toString();
}

bool boolMember(const QJsonObject &object, const QString &key, const QString &path)
{
    const QJsonValue value = member(object, key, path);
    if (!value.isBool())
        wrongType(path, u"a Boolean"_s);
    return value.toBool();
}

QJsonArray arrayMember(const QJsonObject &object, const QString &key, const QString &path)
{
    const QJsonValue value = member(object, key, path);
    if (!value.isArray())
        wrongType(path, u"an array"_s);
    return value.toArray();
}

QJsonObject asObject(const QJsonValue &value, const QString &path)
{
    if (!value.isObject())
        wrongType(path, u"an object"_s);
    return value.toObject();
}

BrowserSession::Cookie decodeCookie(const QJsonObject &object, const QString &path)
{
    BrowserSession::Cookie cookie;
    cookie.name = stringMember(object, u"name"_s, path + u".name"_s);
    cookie.value = stringMember(object, u"value"_s, path + u".value"_s);
    cookie.domain = stringMember(object, u"domain"_s, path + u".domain"_s);
    cookie.path = stringMember(object, u"path"_s, path + u".path"_s);
    cookie.secure = boolMember(object, u"secure"_s, path + u".secure"_s);
    cookie.hostOnly = boolMember(object, u"hostOnly"_s, path + u".hostOnly"_s);
    // Absent and null both mean a cookie that ends with the browser session.
    const QJsonValue expiry = object.value(u"expirationDate"_s);
    if (expiry.isDouble())
        cookie.expirationDate = expiry.toDouble();
    else if (!expiry.isUndefined() && !expiry.isNull())
        wrongType(path + u".expirationDate"_s, u"a number or null"_s);
    return cookie;
}

BrowserSession::Request decodeRequest(const QJsonObject &object, const QString &path)
{
    BrowserSession::Request request;
    request.url = stringMember(object, u"url"_s, path + u".url"_s);
    const QString headersPath = path + u".headers"_s;
    const QJsonObject headers = asObject(member(object, u"headers"_s, headersPath), headersPath);
    for (auto it = headers.constBegin(); it != headers.constEnd(); ++it) {
        if (!it.value().isString())
            wrongType(headersPath + u'.' + it.key(), u"a string"_s);
        request.headers.append({it.key(), it.value().toString()});
    }
    return request;
}

} // namespace

BrowserSession BrowserSession::fromJson(const QByteArray &json)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError)
        throw DecodingError(u"%1 at offset %2"_s.arg(error.errorString()).arg(error.offset));
    if (!document.isObject())
        throw DecodingError(u"Wrong type at the top level: expected an object"_s);
    return fromJson(document.object());
}

BrowserSession BrowserSession::fromJson(const QJsonObject &object)
{
    BrowserSession session;
    const QJsonArray cookies = arrayMember(object, u"cookies"_s, u"cookies"_s);
    const QJsonArray requests = arrayMember(object, u"requests"_s, u"requests"_s);
    session.cookies.reserve(cookies.size());
    for (qsizetype i = 0; i < cookies.size(); ++i) {
        const QString path = u"cookies[%1]"_s.arg(i);
        session.cookies.append(decodeCookie(asObject(cookies.at(i), path), path));
    }
    session.requests.reserve(requests.size());
    for (qsizetype i = 0; i < requests.size(); ++i) {
        const QString path = u"requests[%1]"_s.arg(i);
        session.requests.append(decodeRequest(asObject(requests.at(i), path), path));
    }
    return session;
}

QJsonObject BrowserSession::toJsonObject() const
{
    QJsonArray cookieArray;
    for (const Cookie &cookie : cookies) {
        QJsonObject object{
            {u"name"_s, cookie.name},
            {u"value"_s, cookie.value},
            {u"domain"_s, cookie.domain},
            {u"path"_s, cookie.path},
            {u"secure"_s, cookie.secure},
            {u"hostOnly"_s, cookie.hostOnly},
        };
        if (cookie.expirationDate)
            object.insert(u"expirationDate"_s, *cookie.expirationDate);
        cookieArray.append(object);
    }
    QJsonArray requestArray;
    for (const Request &request : requests) {
        QJsonObject headers;
        for (const auto &[name, value] : request.headers)
            headers.insert(name, value);
        requestArray.append(QJsonObject{{u"url"_s, request.url}, {u"headers"_s, headers}});
    }
    return QJsonObject{{u"cookies"_s, cookieArray}, {u"requests"_s, requestArray}};
}

QByteArray BrowserSession::toJson() const
{
    return QJsonDocument(toJsonObject()).toJson(QJsonDocument::Compact);
}

bool BrowserSession::text(const QString &value, qsizetype limit)
{
    // Every UTF-16 unit takes at least one UTF-8 byte: a long text costs no scan.
    if (limit < 0 || value.size() > limit)
        return false;
    qsizetype bytes = 0;
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar unit = value[i];
        char32_t codePoint = unit.unicode();
        if (unit.isHighSurrogate() && i + 1 < value.size() && value[i + 1].isLowSurrogate())
            codePoint = QChar::surrogateToUcs4(unit, value[++i]);
        else if (unit.isSurrogate())
            return false;
        bytes += codePoint < 0x80 ? 1 : codePoint < 0x800 ? 2 : codePoint < 0x10000 ? 3 : 4;
        if (bytes > limit)
            return false;
        const QChar::Category category = QChar::category(codePoint);
        if (category == QChar::Other_Control || category == QChar::Other_Format)
            return false;
    }
    return true;
}

bool BrowserSession::allowedHeader(const QString &name)
{
    static const QSet<QString> fixedNames{
        u"referer"_s, u"user-agent"_s, u"origin"_s, u"accept"_s, u"accept-language"_s,
        u"authorization"_s, u"dnt"_s, u"sec-fetch-site"_s, u"sec-fetch-mode"_s,
        u"sec-fetch-dest"_s, u"sec-fetch-user"_s, u"sec-ch-ua"_s, u"sec-ch-ua-mobile"_s,
        u"sec-ch-ua-platform"_s,
    };
    // Anchored with \A…\z: a plain "$" would also match before a final line feed.
    static const QRegularExpression extensionName(QRegularExpression::anchoredPattern(u"[A-Za-z0-9-]{3,80}"_s));
    const QString lower = asciiLower(name);
    if (fixedNames.contains(lower))
        return true;
    return lower.startsWith(u"x-"_s) && extensionName.match(name).hasMatch();
}

QString BrowserSession::origin(const QUrl &url)
{
    const QString scheme = asciiLower(url.scheme());
    int port = url.port();
    if (port < 0)
        port = scheme == u"https"_s ? 443 : 80;
    return scheme + u"://"_s + hostOf(url) + u':' + QString::number(port);
}

void BrowserSession::validate(const QString &target, const QString &page) const
{
    const std::optional<QUrl> targetURL = BrowserDownloadLink::webURL(target);
    const std::optional<QUrl> pageURL = BrowserDownloadLink::webURL(page);
    if (!targetURL || !pageURL)
        throw SessionError::invalid();
    if (cookies.size() > maxCookies || requests.size() > maxRequests)
        throw SessionError::invalid();

    static const QRegularExpression domainPattern(QRegularExpression::anchoredPattern(u"[a-z0-9.-]+"_s));
    const QString targetHost = hostOf(*targetURL);
    const QString pageHost = hostOf(*pageURL);
    for (const Cookie &cookie : cookies) {
        const QString domain = domainNormalForm(cookie.domain);
        if (domain.isEmpty() || !domainPattern.match(domain).hasMatch())
            throw SessionError::invalid();
        if (!domainMatches(cookie, targetHost) && !domainMatches(cookie, pageHost))
            throw SessionError::invalid();
        if (!text(cookie.name, maxCookieNameBytes) || !text(cookie.value, maxCookieValueBytes)
            || !text(cookie.path, maxCookiePathBytes) || !cookie.path.startsWith(u'/'))
            throw SessionError::invalid();
        if (cookie.expirationDate) {
            const double expiry = *cookie.expirationDate;
            if (!std::isfinite(expiry) || expiry < 0 || expiry >= expiryLimit)
                throw SessionError::invalid();
        }
    }

    const QString targetOrigin = origin(*targetURL);
    const QString pageOrigin = origin(*pageURL);
    for (const Request &request : requests) {
        const std::optional<QUrl> url = BrowserDownloadLink::webURL(request.url);
        if (!url)
            throw SessionError::invalid();
        const QString requestOrigin = origin(*url);
        if (requestOrigin != targetOrigin && requestOrigin != pageOrigin)
            throw SessionError::invalid();
        if (request.headers.size() > maxHeaders)
            throw SessionError::invalid();
        for (const auto &[name, value] : request.headers) {
            if (!allowedHeader(name) || !text(value, maxHeaderValueBytes))
                throw SessionError::invalid();
        }
    }
}

QString BrowserSession::cookieFile() const
{
    QStringList hosts;
    for (const Request &request : requests) {
        const QUrl url(request.url);
        if (!url.isValid())
            continue;
        const QString host = hostOf(url);
        if (!host.isEmpty() && !hosts.contains(host))
            hosts.append(host);
    }

    QStringList lines;
    for (const Cookie &cookie : cookies) {
        qint64 expiry = 0;
        if (cookie.expirationDate) {
            // validate() keeps such values out; the guard only avoids an undefined conversion.
            const double seconds = *cookie.expirationDate;
            if (!(seconds >= -9223372036854775808.0 && seconds < 9223372036854775808.0))
                continue;
            expiry = static_cast<qint64>(seconds);
        }
        for (const QString &host : std::as_const(hosts)) {
            if (!domainMatches(cookie, host))
                continue;
            lines.append(QStringList{host, u"FALSE"_s, cookie.path, cookie.secure ? u"TRUE"_s : u"FALSE"_s,
                                     QString::number(expiry), cookie.name, cookie.value}
                             .join(u'\t'));
        }
    }
    return cookieFileHeader + u'\n' + lines.join(u'\n') + u'\n';
}

QString BrowserSession::redacting(const QString &text) const
{
    QStringList secrets;
    for (const Cookie &cookie : cookies)
        secrets.append(cookie.value);
    for (const Request &request : requests) {
        for (const auto &[name, value] : request.headers) {
            const QString lower = asciiLower(name);
            if (lower == u"authorization"_s || lower.startsWith(u"x-"_s))
                secrets.append(value);
        }
    }

    QString result = text;
    for (const QString &secret : std::as_const(secrets)) {
        // Characters are code points, not UTF-16 units: two emoji are two characters.
        if (codePointCount(secret) <= 3)
            continue;
        result.replace(secret, redactionMarker);
    }
    return result;
}
