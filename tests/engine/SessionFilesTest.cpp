#include "engine/SessionFiles.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QProcess>

#include <QRegularExpression>

#include <gtest/gtest.h>

#include <limits>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

BrowserSession sampleSession()
{
    BrowserSession session;
    session.cookies = {{u"sid"_s, u"cookie-secret"_s, u"example.com"_s, u"/"_s, true, false, 1900000000.7}};
    session.requests = {{u"https://www.example.com/watch"_s, {{u"Authorization"_s, u"Bearer token-1"_s}}}};
    return session;
}

mode_t modeOf(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777 : 0;
}

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

QString abandonedFolder(const QString &name, const QByteArray *owner)
{
    const QString path = QDir::tempPath() + u'/' + name;
    QDir().mkpath(path);
    if (owner)
        TestEnvironment::writeFile(path + u"/owner.pid"_s, *owner);
    return path;
}

} // namespace

TEST(SessionFiles, WritesPrivateFilesAndRemovesThemWithTheValue)
{
    const BrowserSession session = sampleSession();
    QString directory;
    {
        const std::shared_ptr<SessionFiles> files = SessionFiles::create(session);
        directory = files->directory();
        EXPECT_EQ(QFileInfo(directory).absolutePath(), QDir::tempPath());
        EXPECT_TRUE(QFileInfo(directory).fileName().contains(
            QRegularExpression(u"^kestro-session-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"_s)));
        EXPECT_EQ(modeOf(directory), 0700u);
        for (const QString &name : {u"owner.pid"_s, u"headers.json"_s, u"cookies.txt"_s})
            EXPECT_EQ(modeOf(directory + u'/' + name), 0600u) << name.toStdString();
        EXPECT_EQ(read(directory + u"/owner.pid"_s), QByteArray::number(::getpid()));
        EXPECT_EQ(read(files->headersFile()), session.toJson());
        EXPECT_EQ(read(files->cookiesFile()), session.cookieFile().toUtf8());

        files->track(4242);
        EXPECT_EQ(read(directory + u"/owner.pid"_s), "4242");
        EXPECT_EQ(modeOf(directory + u"/owner.pid"_s), 0600u);
    }
    EXPECT_FALSE(QFileInfo::exists(directory));
}

TEST(SessionFiles, FailedCreationLeavesNothing)
{
    // A temporary directory that is a file cannot hold the folder.
    const QString blocked = TestEnvironment::writeFile(TestEnvironment::root() + u"/not-a-dir"_s, "x");
    qputenv("TMPDIR", QFile::encodeName(blocked));
    EXPECT_THROW(SessionFiles::create(sampleSession()), Error);
    qputenv("TMPDIR", QFile::encodeName(TestEnvironment::root() + u"/tmp"_s));
    EXPECT_TRUE(QDir(QDir::tempPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).isEmpty());
}

TEST(SessionFiles, CleanAbandonedRemovesOnlyFoldersOfDeadOwners)
{
    // Above the kernel's largest process id, so no process has it.
    const QByteArray deadOwner = QByteArray::number(std::numeric_limits<qint32>::max());

    QProcess living;
    living.start(u"/bin/sleep"_s, {u"30"_s});
    ASSERT_TRUE(living.waitForStarted());
    const QByteArray livingPid = QByteArray::number(living.processId());

    const QByteArray empty, text("abc"), zero("0"), negative("-5"), withFeed = deadOwner + '\n',
        spaced = ' ' + deadOwner, tooBig("2147483648");
    struct Case
    {
        const char *name;
        const QByteArray *owner;
        bool removed;
    };
    const Case cases[] = {
        {"kestro-session-dead", &deadOwner, true},
        {"kestro-session-living", &livingPid, false},
        {"kestro-session-no-owner", nullptr, false},
        {"kestro-session-empty", &empty, false},
        {"kestro-session-text", &text, false},
        {"kestro-session-zero", &zero, false},
        {"kestro-session-negative", &negative, false},
        {"kestro-session-line-feed", &withFeed, false},
        {"kestro-session-space", &spaced, false},
        {"kestro-session-too-big", &tooBig, false},
        {"other-dead", &deadOwner, false},
    };
    QStringList paths;
    for (const Case &c : cases)
        paths.append(abandonedFolder(QString::fromLatin1(c.name), c.owner));

    // A link with the right name must not lead the clean-up into the folder it names.
    const QString victim = abandonedFolder(u"victim"_s, &deadOwner);
    ASSERT_TRUE(QFile::link(victim, QDir::tempPath() + u"/kestro-session-link"_s));

    SessionFiles::cleanAbandoned();
    for (qsizetype i = 0; i < paths.size(); ++i)
        EXPECT_EQ(!QFileInfo::exists(paths[i]), cases[i].removed) << cases[i].name;
    EXPECT_TRUE(QFileInfo::exists(victim + u"/owner.pid"_s));

    living.kill();
    living.waitForFinished();
    TestEnvironment::writeFile(paths[1] + u"/owner.pid"_s, deadOwner);
    SessionFiles::cleanAbandoned();
    EXPECT_FALSE(QFileInfo::exists(paths[1]));
}
