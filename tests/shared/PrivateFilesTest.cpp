// Owner-only files handed between the programs: exclusive creation, no links, a size limit
// and a five-minute freshness window.
#include "TestEnvironment.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserSession.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>

#include <functional>
#include <optional>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

mode_t permissions(const QString &path)
{
    struct stat info;
    if (::lstat(encoded(path).constData(), &info) != 0)
        return mode_t(-1);
    return info.st_mode & 07777;
}

void setModifiedSecondsAgo(const QString &path, long seconds)
{
    struct timeval now;
    ::gettimeofday(&now, nullptr);
    // Whole seconds, as the check compares against the modification time's whole seconds.
    const struct timeval times[2] = {{now.tv_sec - seconds, 0}, {now.tv_sec - seconds, 0}};
    ASSERT_EQ(::utimes(encoded(path).constData(), times), 0);
}

void makeSymlink(const QString &target, const QString &link)
{
    ASSERT_EQ(::symlink(encoded(target).constData(), encoded(link).constData()), 0);
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class PrivateFiles : public testing::Test
{
protected:
    void SetUp() override
    {
        dir = TestEnvironment::makeDirectory(QString::fromUtf8(testing::UnitTest::GetInstance()->current_test_info()->name()));
    }

    QString dir;
};

TEST_F(PrivateFiles, WritePrivateCreatesAnOwnerOnlyFile)
{
    const QString path = dir + u"/A.json"_s;
    BrowserBridge::writePrivate("{\"x\":1}", path);
    EXPECT_EQ(contentOf(path), "{\"x\":1}");
    EXPECT_EQ(permissions(path), mode_t(0600));
    EXPECT_EQ(BrowserBridge::readPrivate(path), "{\"x\":1}");
}

TEST_F(PrivateFiles, WritePrivateWritesLargeDataWhole)
{
    QByteArray data(3 * 1024 * 1024 + 17, '\0');
    for (qsizetype i = 0; i < data.size(); ++i)
        data[i] = char(i * 31);
    const QString path = dir + u"/large.bin"_s;
    BrowserBridge::writePrivate(data, path);
    EXPECT_EQ(contentOf(path), data);
}

TEST_F(PrivateFiles, WritePrivateNeverReplacesAnExistingEntry)
{
    struct Case
    {
        const char *name;
        std::function<QString()> prepare; // returns the path handed to writePrivate
        std::function<void()> verifyUnchanged;
    };
    const QString victim = dir + u"/victim.txt"_s;
    TestEnvironment::writeFile(victim, "original");
    const QString absentTarget = dir + u"/would-be-created.txt"_s;
    const Case cases[] = {
        {"existing file", [&]() -> QString { return victim; }, [&] { EXPECT_EQ(contentOf(victim), "original"); }},
        {"link to a file",
         [&]() -> QString {
             makeSymlink(victim, dir + u"/link"_s);
             return dir + u"/link"_s;
         },
         [&] { EXPECT_EQ(contentOf(victim), "original"); }},
        {"dangling link",
         [&]() -> QString {
             makeSymlink(absentTarget, dir + u"/dangling"_s);
             return dir + u"/dangling"_s;
         },
         [&] { EXPECT_FALSE(QFile::exists(absentTarget)); }},
        {"missing folder", [&]() -> QString { return dir + u"/no/such/folder/file"_s; },
         [&] { EXPECT_FALSE(QFile::exists(dir + u"/no"_s)); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = c.prepare();
        EXPECT_THROW(BrowserBridge::writePrivate("replacement", path), BrowserSession::SessionError);
        c.verifyUnchanged();
    }
}

struct ReadCase
{
    const char *name;
    std::function<QString(const QString &dir)> prepare; // returns the path to read
    qint64 maxBytes;
    std::optional<QByteArray> expected; // nothing: refused
};

void PrintTo(const ReadCase &c, std::ostream *os)
{
    *os << c.name;
}

class ReadPrivate : public testing::TestWithParam<ReadCase>
{
};

QString freshFile(const QString &dir, const QByteArray &content)
{
    return TestEnvironment::writeFile(dir + u"/file"_s, content);
}

QString agedFile(const QString &dir, long seconds)
{
    const QString path = freshFile(dir, "aged");
    setModifiedSecondsAgo(path, seconds);
    return path;
}

TEST_P(ReadPrivate, AcceptsOnlyFreshRegularFilesWithinTheLimit)
{
    const ReadCase &c = GetParam();
    const QString dir = TestEnvironment::makeDirectory(QString::fromUtf8(c.name));
    const QString path = c.prepare(dir);
    if (c.expected) {
        EXPECT_EQ(BrowserBridge::readPrivate(path, c.maxBytes), *c.expected);
    } else {
        EXPECT_THROW(BrowserBridge::readPrivate(path, c.maxBytes), BrowserSession::SessionError);
    }
}

constexpr qint64 defaultLimit = BrowserBridge::defaultPrivateReadLimit;

INSTANTIATE_TEST_SUITE_P(
    Files, ReadPrivate,
    testing::Values(
        ReadCase{"fresh", [](const QString &d) -> QString { return freshFile(d, "hello"); }, defaultLimit, QByteArray("hello")},
        ReadCase{"exactlyAtDefaultLimit",
                 [](const QString &d) -> QString { return freshFile(d, QByteArray(1048576, 'x')); }, defaultLimit,
                 QByteArray(1048576, 'x')},
        ReadCase{"oneByteOverDefaultLimit",
                 [](const QString &d) -> QString { return freshFile(d, QByteArray(1048577, 'x')); }, defaultLimit,
                 std::nullopt},
        ReadCase{"overGivenLimit", [](const QString &d) -> QString { return freshFile(d, "0123456789"); }, 9, std::nullopt},
        ReadCase{"atGivenLimit", [](const QString &d) -> QString { return freshFile(d, "0123456789"); }, 10,
                 QByteArray("0123456789")},
        ReadCase{"empty", [](const QString &d) -> QString { return freshFile(d, QByteArray()); }, defaultLimit, std::nullopt},
        ReadCase{"missing", [](const QString &d) -> QString { return d + u"/absent"_s; }, defaultLimit, std::nullopt},
        ReadCase{"symbolicLink",
                 [](const QString &d) -> QString {
                     const QString target = freshFile(d, "secret");
                     const QString link = d + u"/link"_s;
                     makeSymlink(target, link);
                     return link;
                 },
                 defaultLimit, std::nullopt},
        ReadCase{"directory",
                 [](const QString &d) -> QString {
                     QDir().mkpath(d + u"/sub"_s);
                     return d + u"/sub"_s;
                 },
                 defaultLimit, std::nullopt},
        ReadCase{"fifo",
                 [](const QString &d) -> QString {
                     // Opening a FIFO for reading would wait for a writer; the reader must not hang.
                     const QString path = d + u"/fifo"_s;
                     EXPECT_EQ(::mkfifo(encoded(path).constData(), 0600), 0);
                     return path;
                 },
                 defaultLimit, std::nullopt},
        ReadCase{"modified290SecondsAgo", [](const QString &d) -> QString { return agedFile(d, 290); }, defaultLimit,
                 QByteArray("aged")},
        ReadCase{"modified300SecondsAgo", [](const QString &d) -> QString { return agedFile(d, 300); }, defaultLimit,
                 std::nullopt},
        ReadCase{"modifiedAnHourAgo", [](const QString &d) -> QString { return agedFile(d, 3600); }, defaultLimit,
                 std::nullopt}),
    [](const testing::TestParamInfo<ReadCase> &info) { return std::string(info.param.name); });

TEST_F(PrivateFiles, PrivateDirectoryNarrowsAnExistingDirectory)
{
    const QString path = dir + u"/inbox"_s;
    ASSERT_TRUE(QDir().mkpath(path));
    ASSERT_EQ(::chmod(encoded(path).constData(), 0755), 0);
    ASSERT_EQ(::chmod(encoded(dir).constData(), 0755), 0);

    BrowserBridge::privateDirectory(path);
    EXPECT_EQ(permissions(path), mode_t(0700));
    EXPECT_EQ(permissions(dir), mode_t(0755)); // only the directory itself is narrowed
    BrowserBridge::privateDirectory(path); // an existing private directory is fine
    EXPECT_EQ(permissions(path), mode_t(0700));
}

TEST_F(PrivateFiles, PrivateDirectoryCreatesMissingParentsPrivate)
{
    BrowserBridge::privateDirectory(dir + u"/Kestro/AgentBridge/requests"_s);
    for (const QString &created : {u"/Kestro"_s, u"/Kestro/AgentBridge"_s, u"/Kestro/AgentBridge/requests"_s})
        EXPECT_EQ(permissions(dir + created), mode_t(0700)) << qPrintable(created);
}

TEST_F(PrivateFiles, PrivateDirectoryFailsOnFiles)
{
    const QString file = TestEnvironment::writeFile(dir + u"/plain"_s, "x");
    EXPECT_THROW(BrowserBridge::privateDirectory(file), FileError);
    EXPECT_THROW(BrowserBridge::privateDirectory(file + u"/below"_s), FileError);
    EXPECT_EQ(contentOf(file), "x");
}

} // namespace
