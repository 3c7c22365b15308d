#pragma once

#include "shared/Error.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>
#include <utility>

// The cookies and request headers the browser extension captured for one page. A session
// that came from outside must pass validate() before anything uses it.
class BrowserSession
{
public:
    struct Cookie
    {
        QString name;
        QString value;
        QString domain; // as the browser reports it, possibly with a leading dot
        QString path;
        bool secure = false;
        bool hostOnly = false;
        std::optional<double> expirationDate; // seconds since 1970; none for a browser-session cookie
        bool operator==(const Cookie &) const = default;
    };

    struct Request
    {
        QString url;
        // JSON objects keep no member order, so decoding yields the headers in the order
        // QJsonObject gives them (sorted by name); encoding writes one member per name.
        QList<std::pair<QString, QString>> headers;
        bool operator==(const Request &) const = default;
    };

    // The one rejection of exchanged data: callers never learn which check failed.
    class SessionError : public Error
    {
    public:
        enum class Code { invalid };

        static SessionError invalid() { return SessionError(Code::invalid); }
        Code code() const { return m_code; }
        QString description() const override;

    private:
        explicit SessionError(Code code) : m_code(code) {}
        Code m_code;
    };

    static constexpr qsizetype maxCookies = 300;
    static constexpr qsizetype maxRequests = 8;
    static constexpr qsizetype maxHeaders = 32;
    static constexpr qsizetype maxCookieNameBytes = 1024;
    static constexpr qsizetype maxCookieValueBytes = 8192;
    static constexpr qsizetype maxCookiePathBytes = 2048;
    static constexpr qsizetype maxHeaderValueBytes = 8192;
    static constexpr double expiryLimit = 1e12;

    QList<Cookie> cookies;
    QList<Request> requests;

    // Throw DecodingError on malformed JSON, a missing key or a value of the wrong type.
    // Unknown keys are ignored; nothing is checked beyond the types (that is validate()).
    static BrowserSession fromJson(const QByteArray &json);
    static BrowserSession fromJson(const QJsonObject &object);
    // Compact UTF-8 JSON; "expirationDate" is left out for a cookie without expiry.
    QByteArray toJson() const;
    QJsonObject toJsonObject() const;

    // At most `limit` UTF-8 bytes and no control (Cc) or format (Cf) character. An unpaired
    // surrogate has no UTF-8 form, so it fails too.
    static bool text(const QString &value, qsizetype limit = 8192);
    // One of the fixed header names in any case, or an "x-" name of 3 to 80 letters, digits
    // and hyphens.
    static bool allowedHeader(const QString &name);
    // "scheme://host:port" with the default port filled in; only for checked web links.
    static QString origin(const QUrl &url);

    // Throws SessionError::invalid() unless the session is acceptable for the link `target`
    // found on the page `page`.
    void validate(const QString &target, const QString &page) const;
    // The cookies as a Netscape cookie file, one line per cookie and matching requested host.
    // Meant for validated sessions.
    QString cookieFile() const;
    // `text` with every cookie value and credential header value longer than three
    // characters replaced by a marker.
    QString redacting(const QString &text) const;
};
