// Decoding a transfer handed over by the browser extension: strict, whole or not at all.
#include "TestEnvironment.h"
#include "shared/BrowserTransfer.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace {

QJsonObject validObject()
{
    return QJsonDocument::fromJson(R"({"url":"https://video.example.com/watch?v=1",
        "page":"https://video.example.com/page",
        "session":{"cookies":[{"name":"sid","value":"abc","domain":".example.com","path":"/",
            "secure":true,"hostOnly":false}],
          "requests":[{"url":"https://video.example.com/watch?v=1","headers":{"Referer":"https://video.example.com/page"}}]}})")
        .object();
}

QByteArray json(const QJsonObject &object)
{
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QByteArray with(const QString &key, const QJsonValue &value)
{
    QJsonObject object = validObject();
    if (value.isUndefined())
        object.remove(key);
    else
        object.insert(key, value);
    return json(object);
}

// Pads an unknown member so that the whole text has exactly `size` bytes.
QByteArray ofSize(qsizetype size)
{
    QByteArray text = with(u"pad"_s, u""_s);
    const qsizetype at = text.indexOf("\"pad\":\"") + 7;
    text.insert(at, QByteArray(size - text.size(), 'a'));
    return text;
}

} // namespace

TEST(BrowserTransfer, DecodesEveryFieldUnchanged)
{
    const BrowserTransfer transfer = BrowserTransfer::decode(with(u"title"_s, u"  Spaced title  "_s));
    EXPECT_EQ(transfer.url, u"https://video.example.com/watch?v=1"_s);
    EXPECT_EQ(transfer.page, u"https://video.example.com/page"_s);
    EXPECT_EQ(transfer.title, u"  Spaced title  "_s);
    ASSERT_EQ(transfer.session.cookies.size(), 1);
    EXPECT_EQ(transfer.session.cookies.first().value, u"abc"_s);
    EXPECT_EQ(BrowserTransfer::decode(transfer.toJson()).toJson(), transfer.toJson());
}

TEST(BrowserTransfer, TitleMayBeAbsentNullOrEmpty)
{
    EXPECT_FALSE(BrowserTransfer::decode(with(u"title"_s, QJsonValue::Undefined)).title.has_value());
    EXPECT_FALSE(BrowserTransfer::decode(with(u"title"_s, QJsonValue::Null)).title.has_value());
    EXPECT_EQ(BrowserTransfer::decode(with(u"title"_s, u""_s)).title, u""_s);
    EXPECT_EQ(BrowserTransfer::decode(with(u"title"_s, QString(512, u'x'))).title->size(), 512);
    // 171 three-byte characters: 513 bytes.
    EXPECT_THROW(BrowserTransfer::decode(with(u"title"_s, QString(171, u'中'))), BrowserSession::SessionError);
    EXPECT_NO_THROW(BrowserTransfer::decode(with(u"title"_s, QString(170, u'中'))));
    EXPECT_THROW(BrowserTransfer::decode(with(u"title"_s, u"a\u200Eb"_s)), BrowserSession::SessionError);
    EXPECT_THROW(BrowserTransfer::decode(with(u"title"_s, u"a\tb"_s)), BrowserSession::SessionError);
}

TEST(BrowserTransfer, SizeLimitComesBeforeParsing)
{
    EXPECT_NO_THROW(BrowserTransfer::decode(ofSize(BrowserTransfer::maxBytes)));
    EXPECT_THROW(BrowserTransfer::decode(ofSize(BrowserTransfer::maxBytes + 1)), BrowserSession::SessionError);
    // Not JSON at all, but too long: the size refusal, not the parser's.
    EXPECT_THROW(BrowserTransfer::decode(QByteArray(BrowserTransfer::maxBytes + 1, '[')), BrowserSession::SessionError);
}

TEST(BrowserTransfer, ShapeErrorsAreTheDecodersOwn)
{
    const QByteArray cases[] = {
        "",
        "{\"url\":",
        "[]",
        "\"text\"",
        with(u"session"_s, QJsonValue::Undefined),
        with(u"session"_s, QJsonValue::Null),
        with(u"url"_s, 42),
        with(u"page"_s, QJsonValue::Undefined),
        with(u"title"_s, 7),
        with(u"title"_s, QJsonObject()),
        with(u"session"_s, QJsonObject{{u"cookies"_s, QJsonArray()}}),
    };
    for (const QByteArray &text : cases)
        EXPECT_THROW(BrowserTransfer::decode(text), DecodingError) << text.toStdString();
}

TEST(BrowserTransfer, SessionIsCheckedAgainstUrlAndPage)
{
    const QJsonValue cases[][2] = {
        {u"https://user@video.example.com/page"_s, u"page"_s},
        {u"ftp://video.example.com/file"_s, u"url"_s},
        {u""_s, u"page"_s},
    };
    for (const auto &[value, key] : cases) {
        EXPECT_THROW(BrowserTransfer::decode(with(key.toString(), value)), BrowserSession::SessionError)
            << key.toString().toStdString() << " = " << value.toString().toStdString();
    }
    // Unknown keys are ignored.
    EXPECT_NO_THROW(BrowserTransfer::decode(with(u"type"_s, u"transfer"_s)));
}
