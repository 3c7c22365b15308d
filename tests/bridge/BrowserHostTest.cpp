// One request in, one reply out: every failure gives the same reply and leaves no inbox file.
#include "HostMessages.h"
#include "TestEnvironment.h"
#include "bridge/BrowserHost.h"
#include "platform/Bundle.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserTransfer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstring>

using namespace Qt::StringLiterals;
using namespace HostMessages;

namespace {

QStringList inboxEntries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

// The JSON of a reply frame, after checking that its length prefix matches.
QJsonObject replyOf(const QByteArray &frame)
{
    EXPECT_GE(frame.size(), 4);
    quint32 length = 0;
    std::memcpy(&length, frame.constData(), 4);
    EXPECT_EQ(qsizetype(length), frame.size() - 4);
    return QJsonDocument::fromJson(frame.sliced(4)).object();
}

const QJsonObject errorReply{{u"ok"_s, false}, {u"error"_s, u"无法发送浏览器会话，请重新连接 Brisvane Download。"_s}};

struct Opener
{
    bool result = true;
    QStringList urls;
    BrowserHost::Opener function()
    {
        return [this](const QString &url) {
            urls.append(url);
            return result;
        };
    }
};

} // namespace

TEST(BrowserHost, RepliesMatchTheFixedForms)
{
    EXPECT_EQ(BrowserHost::pingReply(), R"({"ok":true,"version":"1.4.0"})");
    EXPECT_EQ(BrowserHost::successReply(), R"({"ok":true})");
    EXPECT_EQ(QJsonDocument::fromJson(BrowserHost::errorReply()).object(), errorReply);
}

TEST(BrowserHost, PingIsAnsweredWithoutTouchingTheInbox)
{
    const QString inbox = TestEnvironment::root() + u"/inbox"_s;
    Opener opener;
    const QByteArray reply = BrowserHost::respond(framed(R"({"type":"ping","extra":[1]})"), inbox, opener.function());
    EXPECT_EQ(replyOf(reply), (QJsonObject{{u"ok"_s, true}, {u"version"_s, u"1.4.0"_s}}));
    EXPECT_FALSE(QFileInfo::exists(inbox));
    EXPECT_TRUE(opener.urls.isEmpty());
}

TEST(BrowserHost, EveryBadRequestGetsTheErrorReplyAndLeavesNoFile)
{
    const QString blocked = TestEnvironment::writeFile(TestEnvironment::root() + u"/blocked"_s, "a file");
    const struct
    {
        const char *what;
        QByteArray input;
        bool openerFails = false;
        QString inbox = TestEnvironment::root() + u"/inbox"_s;
    } cases[] = {
        {"length 0", prefix(0) + "{}"},
        {"length 1048577", prefix(1048577) + transferOfSize(1048577)},
        {"short prefix", prefix(15).first(2)},
        {"no input", QByteArray()},
        {"short body", prefix(100) + transfer.first(99)},
        {"invalid JSON", framed(R"({"type":"ping")")},
        {"JSON array", framed(R"([{"type":"ping"}])")},
        {"ping in capitals", framed(R"({"type":"PING"})")},
        {"type not a string", framed(R"({"type":["ping"]})")},
        {"rejected transfer", framed(QByteArray(transfer).replace("https://video.example.com/page", "https://me@video.example.com/page"))},
        {"transfer with trailing bytes", framed(transfer + " x")},
        {"unwritable inbox", framed(transfer), false, blocked + u"/inbox"_s},
        {"opener fails", framed(transfer), true},
    };
    for (const auto &c : cases) {
        Opener opener;
        opener.result = !c.openerFails;
        const QByteArray reply = BrowserHost::respond(c.input, c.inbox, opener.function());
        EXPECT_EQ(replyOf(reply), errorReply) << c.what;
        EXPECT_TRUE(inboxEntries(c.inbox).isEmpty()) << c.what;
        EXPECT_EQ(opener.urls.size(), c.openerFails ? 1 : 0) << c.what;
    }
}

TEST(BrowserHost, BodyOfABadLengthIsNeverRead)
{
    for (const quint32 length : {0u, 1048577u, 0xFFFFFFFFu}) {
        QList<qsizetype> reads;
        const BrowserHost::Reader reader = [&](qsizetype count) {
            reads.append(count);
            return count == 4 ? prefix(length) : QByteArray(count, ' ');
        };
        const QByteArray reply = BrowserHost::respond(reader, TestEnvironment::root() + u"/inbox"_s, [](const QString &) {
            return true;
        });
        EXPECT_EQ(replyOf(reply), errorReply);
        EXPECT_EQ(reads, QList<qsizetype>{4}) << length;
    }
}

TEST(BrowserHost, ValidTransferIsStoredAndAnnouncedOnce)
{
    const QString inbox = TestEnvironment::root() + u"/inbox"_s;
    for (const QByteArray &message : {transfer, transferOfSize(1048576)}) {
        Opener opener;
        const QByteArray reply = BrowserHost::respond(framed(message), inbox, opener.function());
        EXPECT_EQ(replyOf(reply), (QJsonObject{{u"ok"_s, true}}));
        const QStringList files = inboxEntries(inbox);
        ASSERT_EQ(files.size(), 1);
        ASSERT_EQ(opener.urls.size(), 1);
        const std::optional<QUuid> id = BrowserBridge::transferID(opener.urls.first());
        ASSERT_TRUE(id);
        EXPECT_EQ(opener.urls.first(), u"kestro://import?id="_s + files.first().chopped(5));
        QFile file(BrowserBridge::inboxFile(*id, inbox));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        EXPECT_TRUE(file.readAll() == message);
        EXPECT_NO_THROW(BrowserBridge::consume(*id, inbox));
    }
}

TEST(BrowserHost, BundleIsFoundFromTheProgramPath)
{
    const QString bundle = TestEnvironment::makeDirectory(u"Some App"_s);
    const QString program =
        TestEnvironment::writeFile(bundle + u"/Contents/Helpers/KestroBridge"_s, "#!/bin/sh\n");
    const QString elsewhere = TestEnvironment::makeDirectory(u"bin"_s);
    ASSERT_TRUE(QFile::link(program, elsewhere + u"/bridge"_s));

    EXPECT_EQ(Bundle::ofHelper(program), bundle);
    EXPECT_EQ(Bundle::ofHelper(elsewhere + u"/bridge"_s), bundle);
    QDir::setCurrent(bundle + u"/Contents"_s);
    EXPECT_EQ(Bundle::ofHelper(u"Helpers/KestroBridge"_s), bundle);
    EXPECT_EQ(Bundle::ofHelper(elsewhere + u"/missing"_s), QString());
    EXPECT_EQ(Bundle::ofHelper(QString()), QString());
}
