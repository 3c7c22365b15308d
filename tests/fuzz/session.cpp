// A session from arbitrary bytes: "target\npage\njson". Decoding, checking, the cookie file
// and redaction must never crash; a checked session must give a well-formed cookie file, and
// redaction must leave no secret behind.
#include "shared/BrowserSession.h"
#include "shared/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

const QString marker = u"[已隐藏凭据]"_s;

qsizetype codePoints(const QString &text)
{
    return text.toUcs4().size();
}

QString asciiLower(QString text)
{
    for (QChar &c : text) {
        if (c >= u'A' && c <= u'Z')
            c = QChar(c.unicode() + 32);
    }
    return text;
}

QStringList secretsOf(const BrowserSession &session)
{
    QStringList secrets;
    for (const BrowserSession::Cookie &cookie : session.cookies)
        secrets.append(cookie.value);
    for (const BrowserSession::Request &request : session.requests) {
        for (const auto &[name, value] : request.headers) {
            const QString lower = asciiLower(name);
            if (lower == u"authorization"_s || lower.startsWith(u"x-"_s))
                secrets.append(value);
        }
    }
    return secrets;
}

// A secret that shares a character with the marker can be rebuilt from a marker and its
// neighbours; such a text carries nothing of the secret, so it is not counted as a leak.
bool sharesWithMarker(const QString &secret)
{
    for (const QChar c : marker) {
        if (secret.contains(c))
            return true;
    }
    return false;
}

void checkCookieFile(const QString &file)
{
    const QString header = u"# Netscape HTTP Cookie File"_s;
    if (file == header + u"\n\n"_s)
        return;
    QStringList lines = file.split(u'\n');
    if (lines.size() < 3 || lines.first() != header || !lines.last().isEmpty())
        std::abort();
    for (qsizetype i = 1; i + 1 < lines.size(); ++i) {
        if (lines[i].split(u'\t').size() != 7)
            std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const qsizetype first = input.indexOf('\n');
    const qsizetype second = first < 0 ? -1 : input.indexOf('\n', first + 1);
    if (second < 0)
        return 0;
    const QString target = QString::fromUtf8(input.first(first));
    const QString page = QString::fromUtf8(input.sliced(first + 1, second - first - 1));
    const QByteArray json = input.sliced(second + 1);

    BrowserSession session;
    try {
        session = BrowserSession::fromJson(json);
    } catch (const DecodingError &) {
        return 0;
    }

    // What was decoded is written and read back unchanged.
    const QByteArray written = session.toJson();
    try {
        const BrowserSession again = BrowserSession::fromJson(written);
        if (again.cookies != session.cookies || again.requests != session.requests || again.toJson() != written)
            std::abort();
    } catch (const DecodingError &) {
        std::abort();
    }

    bool valid = true;
    try {
        session.validate(target, page);
    } catch (const BrowserSession::SessionError &) {
        valid = false;
    }
    if (valid)
        checkCookieFile(session.cookieFile());

    // The text to redact: the secrets, glued together and wrapped in pieces of the input.
    const QStringList secrets = secretsOf(session);
    const QString filler = target.left(16);
    QString text = page.left(16);
    for (const QString &secret : secrets)
        text += secret + filler;
    text += secrets.join(QString());
    const QString redacted = session.redacting(text);
    for (const QString &secret : secrets) {
        if (codePoints(secret) > 3 && !sharesWithMarker(secret) && redacted.contains(secret))
            std::abort();
    }
    return 0;
}
