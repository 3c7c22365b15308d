// The browser session: its JSON form, the check a received session must pass, the cookie
// file for the engine and the redaction of its secrets.
#include "TestEnvironment.h"
#include "shared/BrowserSession.h"
#include "shared/Error.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cmath>
#include <functional>
#include <limits>
#include <ostream>

using namespace Qt::StringLiterals;

using Cookie = BrowserSession::Cookie;
using Request = BrowserSession::Request;

namespace {

const QString target = u"https://media.example.com/v/1.mp4"_s;
const QString page = u"https://www.example.com/watch?v=1"_s;

Cookie cookie(const QString &domain, bool hostOnly = false, const QString &name = u"sid"_s,
              const QString &value = u"s3cr3t-value"_s)
{
    Cookie c;
    c.name = name;
    c.value = value;
    c.domain = domain;
    c.path = u"/"_s;
    c.secure = true;
    c.hostOnly = hostOnly;
    c.expirationDate = 1900000000.0;
    return c;
}

Request request(const QString &url, QList<std::pair<QString, QString>> headers = {{u"Referer"_s, u"https://www.example.com/"_s}})
{
    return {url, std::move(headers)};
}

BrowserSession validSession()
{
    BrowserSession session;
    session.cookies = {cookie(u".example.com"_s), cookie(u"media.example.com"_s, true, u"edge"_s, u"abcd1234"_s)};
    session.requests = {request(target), request(page, {{u"User-Agent"_s, u"Mozilla/5.0"_s}, {u"X-Token"_s, u"tok-123"_s}})};
    return session;
}

bool accepted(const BrowserSession &session, const QString &targetLink = target, const QString &pageLink = page)
{
    try {
        session.validate(targetLink, pageLink);
        return true;
    } catch (const BrowserSession::SessionError &error) {
        EXPECT_EQ(error.code(), BrowserSession::SessionError::Code::invalid);
        return false;
    }
}

QString ofBytes(qsizetype bytes, QChar filler = u'a')
{
    return QString(bytes, filler);
}

TEST(SessionText, LimitsUtf8BytesAndRefusesControlAndFormatCharacters)
{
    const struct
    {
        QString value;
        qsizetype limit;
        bool expected;
    } cases[] = {
        {QString(), 0, true},
        {u"plain text, 中文 and spaces"_s, 8192, true},
        {u"éééé"_s, 8, true},
        {u"éééé"_s, 7, false},
        {u"你好"_s, 6, true},
        {u"你好"_s, 5, false},
        {u"😀"_s, 4, true},
        {u"😀"_s, 3, false},
        {ofBytes(8192), 8192, true},
        {ofBytes(8193), 8192, false},
        {u"\uE000 private use"_s, 100, true},
        {u"a\tb"_s, 100, false},
        {u"line\n"_s, 100, false},
        {u"\u007F"_s, 100, false},
        {u"\u0085"_s, 100, false},
        {u"zero\u200Bwidth"_s, 100, false},
        {u"\u202Ertl"_s, 100, false},
        {u"\uFEFFbom"_s, 100, false},
        {u"soft\u00ADhyphen"_s, 100, false},
        {u"tag\U000E0001"_s, 100, false},
        {u"tag\U000E0041"_s, 100, false},
        {u"lone "_s + QChar(char16_t(0xD83D)), 100, false},
        {u"lone "_s + QChar(char16_t(0xDE00)), 100, false},
        {QString(QChar(char16_t(0xDE00))) + QChar(char16_t(0xD83D)), 100, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BrowserSession::text(c.value, c.limit), c.expected) << c.value.toStdString() << " / " << c.limit;
    EXPECT_TRUE(BrowserSession::text(ofBytes(8192)));
    EXPECT_FALSE(BrowserSession::text(ofBytes(8193)));
}

TEST(SessionHeaders, AllowsTheFixedNamesAndShortExtensionNames)
{
    const QString fixed[] = {u"referer"_s, u"User-Agent"_s, u"ORIGIN"_s, u"Accept"_s, u"accept-LANGUAGE"_s,
                             u"Authorization"_s, u"DNT"_s, u"Sec-Fetch-Site"_s, u"sec-fetch-mode"_s,
                             u"Sec-Fetch-Dest"_s, u"Sec-Fetch-User"_s, u"Sec-CH-UA"_s, u"sec-ch-ua-mobile"_s,
                             u"Sec-Ch-Ua-Platform"_s};
    for (const QString &name : fixed)
        EXPECT_TRUE(BrowserSession::allowedHeader(name)) << name.toStdString();

    const struct
    {
        QString name;
        bool expected;
    } cases[] = {
        {u"x-a"_s, true},
        {u"X-Requested-With"_s, true},
        {u"x-"_s + ofBytes(78), true},
        {u"x-"_s + ofBytes(79), false},
        {u"x-"_s, false},
        {u"x"_s, false},
        {u"x-a_b"_s, false},
        {u"x-a b"_s, false},
        {u"x-ab\n"_s, false},
        {u"x-é1"_s, false},
        {u"cookie"_s, false},
        {u"Cookie"_s, false},
        {u"COOKIE"_s, false},
        {u"set-cookie"_s, false},
        {u"proxy-authorization"_s, false},
        {u"host"_s, false},
        {u"referer "_s, false},
        {QString(), false},
        {u"x-\u212A"_s, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BrowserSession::allowedHeader(c.name), c.expected) << c.name.toStdString();
}

TEST(SessionOrigin, AlwaysCarriesAPort)
{
    const struct
    {
        const char16_t *url;
        const char16_t *origin;
    } cases[] = {
        {u"https://Example.COM/path?q=1", u"https://example.com:443"},
        {u"HTTP://example.com", u"http://example.com:80"},
        {u"https://example.com:443/", u"https://example.com:443"},
        {u"https://example.com:8443/", u"https://example.com:8443"},
        {u"http://example.com:443/", u"http://example.com:443"},
        {u"https://bücher.de/", u"https://xn--bcher-kva.de:443"},
    };
    for (const auto &c : cases)
        EXPECT_EQ(BrowserSession::origin(QUrl(QString::fromUtf16(c.url))), QString::fromUtf16(c.origin));
}

// --- JSON ---

TEST(SessionJson, RoundTripsAndLeavesOutAMissingExpiry)
{
    BrowserSession session = validSession();
    session.cookies[1].expirationDate.reset();
    session.cookies[0].expirationDate = 1712345678.25;
    // Headers come back in the order of the JSON object's names.
    session.requests[1].headers = {{u"User-Agent"_s, u"UA"_s}, {u"X-Token"_s, u"tok"_s}};

    const QByteArray json = session.toJson();
    EXPECT_FALSE(json.contains('\n'));
    EXPECT_EQ(BrowserSession::fromJson(json).toJson(), json);
    EXPECT_TRUE(BrowserSession::fromJson(json).cookies == session.cookies);
    EXPECT_TRUE(BrowserSession::fromJson(json).requests == session.requests);

    const QJsonObject object = QJsonDocument::fromJson(json).object();
    const QJsonArray cookies = object.value(u"cookies"_s).toArray();
    EXPECT_EQ(cookies.at(0).toObject().value(u"expirationDate"_s).toDouble(), 1712345678.25);
    EXPECT_FALSE(cookies.at(1).toObject().contains(u"expirationDate"_s));
    EXPECT_EQ(cookies.at(1).toObject().keys(),
              (QStringList{u"domain"_s, u"hostOnly"_s, u"name"_s, u"path"_s, u"secure"_s, u"value"_s}));
}

TEST(SessionJson, ReadsExpiryForms)
{
    const struct
    {
        const char *expiryMember;
        std::optional<double> expected;
    } cases[] = {
        {"", std::nullopt},
        {",\"expirationDate\":null", std::nullopt},
        {",\"expirationDate\":1700000000", 1700000000.0},
        {",\"expirationDate\":0", 0.0},
        {",\"expirationDate\":1.5e9", 1.5e9},
        {",\"expirationDate\":-3.5", -3.5},
    };
    for (const auto &c : cases) {
        const QByteArray json = QByteArray("{\"requests\":[],\"extra\":{\"ignored\":true},\"cookies\":[{\"name\":\"n\",")
            + "\"value\":\"v\",\"domain\":\"example.com\",\"path\":\"/\",\"secure\":false,\"hostOnly\":true,\"more\":1"
            + c.expiryMember + "}]}";
        const BrowserSession session = BrowserSession::fromJson(json);
        ASSERT_EQ(session.cookies.size(), 1) << json.constData();
        EXPECT_EQ(session.cookies[0].expirationDate, c.expected) << json.constData();
        EXPECT_EQ(session.cookies[0].domain, u"example.com"_s);
        EXPECT_TRUE(session.cookies[0].hostOnly);
    }
}

TEST(SessionJson, RejectsMissingKeysAndWrongTypesWithThePath)
{
    const QByteArray goodCookie = R"({"name":"n","value":"v","domain":"d","path":"/","secure":true,"hostOnly":false})";
    const auto withCookie = [](const QByteArray &cookie) -> QByteArray {
        return QByteArray(R"({"cookies":[)") + cookie + R"(],"requests":[]})";
    };
    const auto withRequest = [](const QByteArray &request) -> QByteArray {
        return QByteArray(R"({"cookies":[],"requests":[)") + request + "]}";
    };
    const struct
    {
        QByteArray json;
        const char *mentions;
    } cases[] = {
        {"", ""},
        {"not json", ""},
        {R"({"cookies":[],"requests":[]} trailing)", ""},
        {"[]", "top level"},
        {R"({"requests":[]})", "cookies"},
        {R"({"cookies":[]})", "requests"},
        {R"({"cookies":{},"requests":[]})", "cookies"},
        {R"({"cookies":null,"requests":[]})", "cookies"},
        {withCookie("1"), "cookies[0]"},
        {withCookie(goodCookie + "," + R"({"value":"v","domain":"d","path":"/","secure":true,"hostOnly":false})"), "cookies[1].name"},
        {withCookie(R"({"name":"n","domain":"d","path":"/","secure":true,"hostOnly":false})"), "cookies[0].value"},
        {withCookie(R"({"name":"n","value":"v","path":"/","secure":true,"hostOnly":false})"), "cookies[0].domain"},
        {withCookie(R"({"name":"n","value":"v","domain":"d","secure":true,"hostOnly":false})"), "cookies[0].path"},
        {withCookie(R"({"name":"n","value":"v","domain":"d","path":"/","hostOnly":false})"), "cookies[0].secure"},
        {withCookie(R"({"name":"n","value":"v","domain":"d","path":"/","secure":true})"), "cookies[0].hostOnly"},
        {withCookie(R"({"name":1,"value":"v","domain":"d","path":"/","secure":true,"hostOnly":false})"), "cookies[0].name"},
        {withCookie(R"({"name":"n","value":null,"domain":"d","path":"/","secure":true,"hostOnly":false})"), "cookies[0].value"},
        {withCookie(R"({"name":"n","value":"v","domain":"d","path":"/","secure":"true","hostOnly":false})"), "cookies[0].secure"},
        {withCookie(R"({"name":"n","value":"v","domain":"d","path":"/","secure":true,"hostOnly":0})"), "cookies[0].hostOnly"},
        {withCookie(R"({"name":"n","value":"v","domain":"d","path":"/","secure":true,"hostOnly":false,"expirationDate":"1"})"), "cookies[0].expirationDate"},
        {withCookie(R"({"name":"n","value":"v","domain":"d","path":"/","secure":true,"hostOnly":false,"expirationDate":false})"), "cookies[0].expirationDate"},
        {withRequest(R"({"headers":{}})"), "requests[0].url"},
        {withRequest(R"({"url":"https://a.example/"})"), "requests[0].headers"},
        {withRequest(R"({"url":5,"headers":{}})"), "requests[0].url"},
        {withRequest(R"({"url":"https://a.example/","headers":[]})"), "requests[0].headers"},
        {withRequest(R"({"url":"https://a.example/","headers":{"Referer":1}})"), "requests[0].headers.Referer"},
        {withRequest(R"({"url":"https://a.example/","headers":{"Referer":null}})"), "requests[0].headers.Referer"},
        {withRequest(R"("x")"), "requests[0]"},
    };
    for (const auto &c : cases) {
        try {
            BrowserSession::fromJson(c.json);
            ADD_FAILURE() << "accepted " << c.json.constData();
        } catch (const DecodingError &error) {
            EXPECT_FALSE(error.description().isEmpty());
            EXPECT_TRUE(error.description().contains(QString::fromUtf8(c.mentions)))
                << c.json.constData() << " -> " << error.description().toStdString();
        }
    }
}

// --- validation ---

struct ValidationCase
{
    const char *what;
    std::function<void(BrowserSession &)> change;
    bool expected;
};

TEST(SessionValidate, ChecksCookies)
{
    const auto setCookie = [](Cookie c) { return [c](BrowserSession &s) { s.cookies = {c}; }; };
    const auto withField = [](std::function<void(Cookie &)> edit) {
        return [edit](BrowserSession &s) { edit(s.cookies[0]); };
    };
    const ValidationCase cases[] = {
        {"the base session", [](BrowserSession &) {}, true},
        {"no cookies, no requests", [](BrowserSession &s) { s = {}; }, true},
        {"leading dot, mixed case, parent domain", setCookie(cookie(u".ExAmple.COM"_s)), true},
        {"trailing dots", setCookie(cookie(u"example.com.."_s)), true},
        {"host-only on the page host", setCookie(cookie(u"WWW.example.com"_s, true)), true},
        {"host-only on the parent domain", setCookie(cookie(u".example.com"_s, true)), false},
        {"only dots", setCookie(cookie(u"..."_s)), false},
        {"empty domain", setCookie(cookie(QString())), false},
        {"underscore", setCookie(cookie(u"my_host.example.com"_s)), false},
        {"space", setCookie(cookie(u"example .com"_s)), false},
        {"line feed", setCookie(cookie(u"www.example.com\n"_s)), false},
        {"another site", setCookie(cookie(u"other.example.net"_s)), false},
        {"a sibling host", setCookie(cookie(u"cdn.example.com"_s)), false},
        {"domain that only ends like the host", setCookie(cookie(u"ample.com"_s)), false},
        {"name at its limit", withField([](Cookie &c) { c.name = ofBytes(1024); }), true},
        {"name over its limit", withField([](Cookie &c) { c.name = ofBytes(1025); }), false},
        {"value at its limit", withField([](Cookie &c) { c.value = ofBytes(8192); }), true},
        {"value over its limit", withField([](Cookie &c) { c.value = ofBytes(8193); }), false},
        {"path at its limit", withField([](Cookie &c) { c.path = u'/' + ofBytes(2047); }), true},
        {"path over its limit", withField([](Cookie &c) { c.path = u'/' + ofBytes(2048); }), false},
        {"empty name and value", withField([](Cookie &c) { c.name.clear(); c.value.clear(); }), true},
        {"relative path", withField([](Cookie &c) { c.path = u"a/b"_s; }), false},
        {"empty path", withField([](Cookie &c) { c.path.clear(); }), false},
        {"tab in the value", withField([](Cookie &c) { c.value = u"a\tb"_s; }), false},
        {"line feed in the name", withField([](Cookie &c) { c.name = u"a\nb"_s; }), false},
        {"format character in the path", withField([](Cookie &c) { c.path = u"/a\u200Bb"_s; }), false},
        {"expiry 0", withField([](Cookie &c) { c.expirationDate = 0.0; }), true},
        {"no expiry", withField([](Cookie &c) { c.expirationDate.reset(); }), true},
        {"expiry just below 10^12", withField([](Cookie &c) { c.expirationDate = 999999999999.5; }), true},
        {"expiry 10^12", withField([](Cookie &c) { c.expirationDate = 1e12; }), false},
        {"negative expiry", withField([](Cookie &c) { c.expirationDate = -1.0; }), false},
        {"NaN expiry", withField([](Cookie &c) { c.expirationDate = std::nan(""); }), false},
        {"infinite expiry", withField([](Cookie &c) { c.expirationDate = std::numeric_limits<double>::infinity(); }), false},
        {"300 cookies", [](BrowserSession &s) { s.cookies = QList<Cookie>(300, cookie(u"example.com"_s)); }, true},
        {"301 cookies", [](BrowserSession &s) { s.cookies = QList<Cookie>(301, cookie(u"example.com"_s)); }, false},
    };
    for (const ValidationCase &c : cases) {
        BrowserSession session = validSession();
        c.change(session);
        EXPECT_EQ(accepted(session), c.expected) << c.what;
    }
}

TEST(SessionValidate, ChecksRequestRecords)
{
    const auto setRequest = [](Request r) { return [r](BrowserSession &s) { s.requests = {r}; }; };
    const auto header = [](const QString &name, const QString &value) {
        return [name, value](BrowserSession &s) { s.requests = {request(target, {{name, value}})}; };
    };
    QList<std::pair<QString, QString>> many;
    for (int i = 0; i < 33; ++i)
        many.append({u"x-h%1"_s.arg(i), u"v"_s});
    const ValidationCase cases[] = {
        {"the page's origin", setRequest(request(u"https://www.example.com/api"_s)), true},
        {"explicit default port", setRequest(request(u"https://media.example.com:443/x"_s)), true},
        {"upper-case host", setRequest(request(u"HTTPS://MEDIA.example.com/x"_s)), true},
        {"plain http", setRequest(request(u"http://media.example.com/x"_s)), false},
        {"another port", setRequest(request(u"https://media.example.com:8080/x"_s)), false},
        {"parent domain", setRequest(request(u"https://example.com/x"_s)), false},
        {"another site", setRequest(request(u"https://tracker.example.net/x"_s)), false},
        {"user info", setRequest(request(u"https://u:p@media.example.com/x"_s)), false},
        {"not a web link", setRequest(request(u"ftp://media.example.com/x"_s)), false},
        {"not a link at all", setRequest(request(u"/relative"_s)), false},
        {"no headers", setRequest(request(target, {})), true},
        {"32 headers", setRequest(request(target, many.first(32))), true},
        {"33 headers", setRequest(request(target, many)), false},
        {"8 records", [](BrowserSession &s) { s.requests = QList<Request>(8, request(target)); }, true},
        {"9 records", [](BrowserSession &s) { s.requests = QList<Request>(9, request(target)); }, false},
        {"fixed name in capitals", header(u"AUTHORIZATION"_s, u"Bearer abc"_s), true},
        {"three-character x- name", header(u"X-A"_s, u"v"_s), true},
        {"cookie header", header(u"cookie"_s, u"a=b"_s), false},
        {"Cookie header", header(u"Cookie"_s, u"a=b"_s), false},
        {"bare x-", header(u"x-"_s, u"v"_s), false},
        {"x- name with underscore", header(u"x-my_header"_s, u"v"_s), false},
        {"unknown name", header(u"Host"_s, u"example.com"_s), false},
        {"value at its limit", header(u"Referer"_s, ofBytes(8192)), true},
        {"value over its limit", header(u"Referer"_s, ofBytes(8193)), false},
        {"line break in a value", header(u"User-Agent"_s, u"UA\r\nCookie: a=b"_s), false},
        {"empty value", header(u"DNT"_s, QString()), true},
    };
    for (const ValidationCase &c : cases) {
        BrowserSession session = validSession();
        c.change(session);
        EXPECT_EQ(accepted(session), c.expected) << c.what;
    }
}

TEST(SessionValidate, NeedsWebLinksForTargetAndPage)
{
    const BrowserSession session = validSession();
    EXPECT_TRUE(accepted(session));
    EXPECT_FALSE(accepted(session, u"ftp://media.example.com/v"_s, page));
    EXPECT_FALSE(accepted(session, target, u"https://u:p@www.example.com/"_s));
    EXPECT_FALSE(accepted(session, target + u'\n', page));
    EXPECT_FALSE(accepted(BrowserSession(), QString(), page));
    // The cookie for "cdn.example.com" matches a request host, but neither target nor page.
    BrowserSession cdn;
    cdn.cookies = {cookie(u"cdn.example.com"_s, true)};
    cdn.requests = {request(u"https://cdn.example.com/seg"_s)};
    EXPECT_FALSE(accepted(cdn));
    EXPECT_TRUE(accepted(cdn, u"https://cdn.example.com/seg"_s, page));
    // KELVIN SIGN lower-cases to "k" in Unicode, but a cookie domain is plain ASCII.
    BrowserSession kelvin;
    kelvin.cookies = {cookie(u"\u212Aite.example"_s)};
    EXPECT_FALSE(accepted(kelvin, u"https://kite.example/v"_s, u"https://kite.example/"_s));
    kelvin.cookies = {cookie(u"KITE.example"_s)};
    EXPECT_TRUE(accepted(kelvin, u"https://kite.example/v"_s, u"https://kite.example/"_s));
}

// --- cookie file ---

TEST(SessionCookieFile, WritesOneLinePerCookieAndMatchingRequestedHost)
{
    const QString header = u"# Netscape HTTP Cookie File\n"_s;
    Cookie parent = cookie(u".Example.com"_s, false, u"sid"_s, u"v1"_s);
    parent.expirationDate = 1700000000.9;
    Cookie hostOnly = cookie(u"example.com"_s, true, u"hid"_s, u"v2"_s);
    hostOnly.secure = false;
    hostOnly.expirationDate.reset();
    Cookie elsewhere = cookie(u"other.example.net"_s);
    Cookie pathed = cookie(u"www.example.com"_s, false, u"p"_s, u"v3"_s);
    pathed.path = u"/watch"_s;
    pathed.expirationDate = 0.0;

    const struct
    {
        const char *what;
        QList<Cookie> cookies;
        QStringList urls;
        QString expected;
    } cases[] = {
        {"no requests", {parent, hostOnly}, {}, header + u"\n"_s},
        {"no cookies", {}, {u"https://example.com/"_s}, header + u"\n"_s},
        {"parent domain, two hosts",
         {parent},
         {u"https://example.com/a"_s, u"https://www.example.com/b"_s},
         header + u"example.com\tFALSE\t/\tTRUE\t1700000000\tsid\tv1\n"_s
             + u"www.example.com\tFALSE\t/\tTRUE\t1700000000\tsid\tv1\n"_s},
        {"host-only cookie, two hosts",
         {hostOnly},
         {u"https://example.com/a"_s, u"https://www.example.com/b"_s},
         header + u"example.com\tFALSE\t/\tFALSE\t0\thid\tv2\n"_s},
        {"hosts collapse and keep their first order; unmatched cookies are left out",
         {elsewhere, pathed, parent},
         {u"https://WWW.example.com/1"_s, u"not a url at all"_s, u"https://example.com/2"_s, u"https://www.example.com:8443/3"_s},
         header + u"www.example.com\tFALSE\t/watch\tTRUE\t0\tp\tv3\n"_s
             + u"www.example.com\tFALSE\t/\tTRUE\t1700000000\tsid\tv1\n"_s
             + u"example.com\tFALSE\t/\tTRUE\t1700000000\tsid\tv1\n"_s},
    };
    for (const auto &c : cases) {
        BrowserSession session;
        session.cookies = c.cookies;
        for (const QString &url : c.urls)
            session.requests.append(request(url, {}));
        EXPECT_EQ(session.cookieFile(), c.expected) << c.what;
    }
}

TEST(SessionCookieFile, TruncatesExpiryTowardZero)
{
    const struct
    {
        double expiry;
        const char16_t *written;
    } cases[] = {{0.0, u"0"}, {0.999, u"0"}, {1.5, u"1"}, {999999999999.9, u"999999999999"}, {-0.5, u"0"}};
    for (const auto &c : cases) {
        BrowserSession session;
        Cookie k = cookie(u"example.com"_s);
        k.expirationDate = c.expiry;
        session.cookies = {k};
        session.requests = {request(u"https://example.com/"_s, {})};
        const QStringList fields = session.cookieFile().split(u'\n').at(1).split(u'\t');
        ASSERT_EQ(fields.size(), 7);
        EXPECT_EQ(fields[4], QString::fromUtf16(c.written)) << c.expiry;
    }
}

TEST(SessionCookieFile, LeavesOutAnExpiryThatHasNoIntegerForm)
{
    // validate() refuses these; the file must still not convert them.
    BrowserSession session;
    for (const double expiry : {std::nan(""), 1e300, -1e300}) {
        Cookie k = cookie(u"example.com"_s);
        k.expirationDate = expiry;
        session.cookies.append(k);
    }
    session.cookies.append(cookie(u"example.com"_s, false, u"ok"_s, u"v"_s));
    session.requests = {request(u"https://example.com/"_s, {})};
    EXPECT_EQ(session.cookieFile(), u"# Netscape HTTP Cookie File\nexample.com\tFALSE\t/\tTRUE\t1900000000\tok\tv\n"_s);
}

// --- redaction ---

TEST(SessionRedacting, HidesCookieValuesAndCredentialHeaders)
{
    const QString marker = u"[已隐藏凭据]"_s;
    BrowserSession session;
    session.cookies = {cookie(u"example.com"_s, false, u"a"_s, u"abc"_s), cookie(u"example.com"_s, false, u"b"_s, u"abcd"_s),
                       cookie(u"example.com"_s, false, u"c"_s, u"😀😀😀"_s), cookie(u"example.com"_s, false, u"d"_s, u"😀😀😀😀"_s)};
    session.requests = {request(u"https://example.com/"_s,
                                {{u"User-Agent"_s, u"Mozilla/5.0 Agent"_s},
                                 {u"Referer"_s, u"https://example.com/page"_s},
                                 {u"AUTHORIZATION"_s, u"Bearer tok-secret"_s},
                                 {u"X-Csrf-Token"_s, u"csrf-9876"_s},
                                 {u"x-abc"_s, u"xyz"_s}})};
    const struct
    {
        QString text;
        QString expected;
    } cases[] = {
        {u"nothing secret"_s, u"nothing secret"_s},
        {u"abc is too short"_s, u"abc is too short"_s},
        {u"xxabcdyy and abcd, abcdabcd"_s, u"xx"_s + marker + u"yy and "_s + marker + u", "_s + marker + marker},
        {u"😀😀😀 stays, 😀😀😀😀 goes"_s, u"😀😀😀 stays, "_s + marker + u" goes"_s},
        {u"UA Mozilla/5.0 Agent from https://example.com/page"_s, u"UA Mozilla/5.0 Agent from https://example.com/page"_s},
        {u"auth: Bearer tok-secret; csrf=csrf-9876; xyz"_s, u"auth: "_s + marker + u"; csrf="_s + marker + u"; xyz"_s},
        {QString(), QString()},
    };
    for (const auto &c : cases)
        EXPECT_EQ(session.redacting(c.text), c.expected) << c.text.toStdString();
}

TEST(SessionRedacting, ReplacesSecretsInOrder)
{
    // The cookie value goes first, so the header value that contains it is only partly seen.
    BrowserSession session;
    session.cookies = {cookie(u"example.com"_s, false, u"a"_s, u"token"_s)};
    session.requests = {request(u"https://example.com/"_s, {{u"x-key"_s, u"token-long"_s}})};
    EXPECT_EQ(session.redacting(u"token-long"_s), u"[已隐藏凭据]-long"_s);
}

// --- the three together, as the engine uses them ---

TEST(SessionExchange, ADecodedSessionValidatesAndFeedsTheEngine)
{
    const QByteArray json = R"({"cookies":[{"name":"SID","value":"sess-42","domain":".example.com","path":"/",
        "secure":true,"hostOnly":false,"expirationDate":1800000000.75}],
        "requests":[{"url":"https://media.example.com/v/1.mp4","headers":{"Authorization":"Bearer zz-top","Accept":"*/*"}}]})";
    const BrowserSession session = BrowserSession::fromJson(json);
    EXPECT_NO_THROW(session.validate(target, page));
    EXPECT_EQ(session.cookieFile(),
              u"# Netscape HTTP Cookie File\nmedia.example.com\tFALSE\t/\tTRUE\t1800000000\tSID\tsess-42\n"_s);
    EXPECT_EQ(session.redacting(u"GET with sess-42 and Bearer zz-top"_s), u"GET with [已隐藏凭据] and [已隐藏凭据]"_s);
}

TEST(SessionError, HasTheFixedDescription)
{
    const BrowserSession::SessionError error = BrowserSession::SessionError::invalid();
    EXPECT_EQ(error.code(), BrowserSession::SessionError::Code::invalid);
    EXPECT_FALSE(error.description().isEmpty());
    EXPECT_STREQ(DecodingError(u"Missing key \"cookies\""_s).what(), "Missing key \"cookies\"");
}

} // namespace
