// The browser inbox: a transfer is stored as one private file and taken from it exactly once.
#include "TestEnvironment.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserTransfer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray validTransfer =
    R"({"url":"https://video.example.com/watch?v=1","page":"https://video.example.com/page","title":null,)"
    R"("session":{"cookies":[],"requests":[]}, "extra" : 1})";

mode_t modeOf(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_mode & 07777 : mode_t(-1);
}

void age(const QString &path, long seconds)
{
    struct timeval now;
    ::gettimeofday(&now, nullptr);
    const struct timeval times[2] = {{now.tv_sec - seconds, 0}, {now.tv_sec - seconds, 0}};
    ASSERT_EQ(::lutimes(QFile::encodeName(path).constData(), times), 0);
}

QStringList entries(const QString &dir)
{
    return QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
}

QString importURL(const QUuid &id)
{
    return u"kestro://import?id="_s + id.toString(QUuid::WithoutBraces).toUpper();
}

} // namespace

TEST(BrowserInbox, LivesInTheApplicationData)
{
    EXPECT_EQ(BrowserBridge::inbox(), qEnvironmentVariable("XDG_DATA_HOME") + u"/Kestro/BrowserInbox"_s);
}

TEST(BrowserInbox, StoreKeepsTheReceivedBytesPrivately)
{
    const QString dir = BrowserBridge::inbox();
    const QUuid id = BrowserBridge::store(validTransfer);
    const QString name = id.toString(QUuid::WithoutBraces).toUpper() + u".json"_s;
    ASSERT_EQ(entries(dir), QStringList{name});
    EXPECT_EQ(modeOf(dir), mode_t(0700));
    EXPECT_EQ(modeOf(dir + u'/' + name), mode_t(0600));
    QFile file(dir + u'/' + name);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), validTransfer);
    EXPECT_EQ(BrowserBridge::transferID(importURL(id)), id);
}

TEST(BrowserInbox, RejectedTransferWritesNothing)
{
    const QString dir = TestEnvironment::root() + u"/inbox"_s;
    EXPECT_THROW(BrowserBridge::store(R"({"url":"https://a.example/","page":"https://a.example/"})", dir), DecodingError);
    EXPECT_THROW(BrowserBridge::store(QByteArray(1048577, ' '), dir), BrowserSession::SessionError);
    EXPECT_FALSE(QFileInfo::exists(dir));
}

TEST(BrowserInbox, UnwritableInboxIsAnError)
{
    const QString parent = TestEnvironment::makeDirectory(u"blocked"_s);
    TestEnvironment::writeFile(parent + u"/inbox"_s, "not a folder");
    EXPECT_ANY_THROW(BrowserBridge::store(validTransfer, parent + u"/inbox"_s));
}

TEST(BrowserInbox, ConsumeSucceedsOnce)
{
    const QUuid id = BrowserBridge::store(validTransfer);
    const BrowserTransfer transfer = BrowserBridge::consume(id);
    EXPECT_EQ(transfer.url, u"https://video.example.com/watch?v=1"_s);
    EXPECT_FALSE(transfer.title.has_value());
    EXPECT_THROW(BrowserBridge::consume(id), BrowserSession::SessionError);
    EXPECT_THROW(BrowserBridge::consume(QUuid::createUuid()), BrowserSession::SessionError);
    EXPECT_TRUE(entries(BrowserBridge::inbox()).isEmpty());
}

TEST(BrowserInbox, ConsumeRemovesWhatItRefuses)
{
    const QString dir = BrowserBridge::inbox();
    BrowserBridge::privateDirectory(dir);
    const QUuid stale = BrowserBridge::store(validTransfer);
    age(BrowserBridge::inboxFile(stale), 301);
    EXPECT_THROW(BrowserBridge::consume(stale), BrowserSession::SessionError);

    // A transfer that no longer decodes (written past store) is refused and removed too.
    const QUuid broken = QUuid::createUuid();
    BrowserBridge::writePrivate("{}", BrowserBridge::inboxFile(broken));
    EXPECT_THROW(BrowserBridge::consume(broken), DecodingError);
    EXPECT_TRUE(entries(dir).isEmpty());
}

TEST(BrowserInbox, SwappedFilesAreRefused)
{
    const QString dir = BrowserBridge::inbox();
    const QString elsewhere = TestEnvironment::writeFile(TestEnvironment::root() + u"/elsewhere.json"_s, validTransfer);
    enum class Swap { link, directory, foreignOwner };
    for (const Swap swap : {Swap::link, Swap::directory, Swap::foreignOwner}) {
        const QUuid id = BrowserBridge::store(validTransfer);
        const QString path = BrowserBridge::inboxFile(id);
        const QByteArray encoded = QFile::encodeName(path);
        if (swap == Swap::foreignOwner) {
            if (::getuid() != 0) {
                QFile::remove(path);
                continue; // only root can hand a file to another user
            }
            ASSERT_EQ(::chown(encoded.constData(), 65534, 65534), 0);
        } else {
            ASSERT_EQ(::unlink(encoded.constData()), 0);
            if (swap == Swap::link)
                ASSERT_EQ(::symlink(QFile::encodeName(elsewhere).constData(), encoded.constData()), 0);
            else
                ASSERT_EQ(::mkdir(encoded.constData(), 0700), 0);
        }
        EXPECT_THROW(BrowserBridge::consume(id), BrowserSession::SessionError) << int(swap);
    }
    // The link went, not what it pointed to.
    EXPECT_TRUE(entries(dir).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(elsewhere));
}

TEST(BrowserInbox, CleanRemovesOnlyStaleTransfers)
{
    const QString dir = BrowserBridge::inbox();
    const QUuid fresh = BrowserBridge::store(validTransfer);
    const QUuid stale = BrowserBridge::store(validTransfer);
    age(BrowserBridge::inboxFile(stale), 301);
    const QString lower = dir + u'/' + QUuid::createUuid().toString(QUuid::WithoutBraces) + u".tmp"_s;
    TestEnvironment::writeFile(lower, "x");
    age(lower, 400);
    const QString other = TestEnvironment::writeFile(dir + u"/notes.json"_s, "x");
    age(other, 400);
    const QString braces = TestEnvironment::writeFile(dir + u'/' + QUuid::createUuid().toString() + u".json"_s, "x");
    age(braces, 400);

    BrowserBridge::cleanInbox();
    QStringList expected{BrowserBridge::inboxFile(fresh).section(u'/', -1), u"notes.json"_s, braces.section(u'/', -1)};
    expected.sort();
    EXPECT_EQ(entries(dir), expected);
    // No inbox at all is not an error.
    EXPECT_NO_THROW(BrowserBridge::cleanInbox(TestEnvironment::root() + u"/missing"_s));
}

TEST(BrowserInbox, ImportAndConnectURLsMatchExactly)
{
    const QString id = u"0F8FAD5B-D9CB-469F-A165-70867728950E"_s;
    const QString ext(32, u'a');
    EXPECT_EQ(BrowserBridge::transferID(u"kestro://import?id="_s + id), QUuid::fromString(id));
    EXPECT_EQ(BrowserBridge::transferID(u"kestro://import?id="_s + id.toLower()), QUuid::fromString(id));
    EXPECT_EQ(BrowserBridge::extensionID(u"kestro://connect?extension=abcdefghijklmnopabcdefghijklmnop"_s),
              u"abcdefghijklmnopabcdefghijklmnop"_s);

    const QString rejectedImports[] = {
        u"kestro://import/?id="_s + id,
        u"kestro://import?id="_s + id + u"&id="_s + id,
        u"kestro://import?id="_s + id + u"&x=1"_s,
        u"KESTRO://import?id="_s + id,
        u"kestro://IMPORT?id="_s + id,
        u"kestro://import?ID="_s + id,
        u"kestro://import:80?id="_s + id,
        u"kestro://user@import?id="_s + id,
        u"kestro://import?id="_s + id + u"#x"_s,
        u"kestro://connect?id="_s + id,
        u"kestro://import?id={"_s + id + u'}',
        u"kestro://import?id="_s + id.left(35),
        u"kestro://import?id"_s,
        u"kestro://import?id="_s,
        u"kestro://import"_s,
    };
    for (const QString &url : rejectedImports)
        EXPECT_FALSE(BrowserBridge::transferID(url)) << url.toStdString();

    const QString rejectedConnects[] = {
        u"kestro://connect?extension="_s + QString(31, u'a'),
        u"kestro://connect?extension="_s + QString(33, u'a'),
        u"kestro://connect?extension="_s + QString(31, u'a') + u'q',
        u"kestro://connect?extension="_s + QString(31, u'a') + u'1',
        u"kestro://connect?extension="_s + QString(31, u'a') + u'A',
        u"kestro://connect/?extension="_s + ext,
        u"kestro://connect?extension="_s + ext + u"&extension="_s + ext,
        u"kestro://connect?Extension="_s + ext,
        u"Kestro://connect?extension="_s + ext,
    };
    for (const QString &url : rejectedConnects)
        EXPECT_FALSE(BrowserBridge::extensionID(url)) << url.toStdString();
}
