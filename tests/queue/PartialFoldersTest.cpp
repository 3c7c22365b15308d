#include "engine/DownloadOptions.h"
#include "queue/PartialFolders.h"

#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString pageLink = u"https://video.example/watch?v=1"_s;

// Field 22 of /proc/self/stat: this process's start time.
QString ownStartTime()
{
    QFile stat(u"/proc/self/stat"_s);
    EXPECT_TRUE(stat.open(QIODevice::ReadOnly));
    const QByteArray text = stat.readAll();
    return QString::fromLatin1(text.mid(text.lastIndexOf(')') + 1).simplified().split(' ').value(19));
}

QJsonObject fingerprint(const QString &format)
{
    DownloadOptions options;
    options.formatSelector = format;
    options.filenameTemplate = u"%(title)s.%(ext)s"_s;
    return PartialFolders::fingerprint(options);
}

struct Leftover
{
    QString name;
    QString url;
    QJsonObject fingerprint;
    QString started; // with this process's id; empty for no record at all
};

class PartialFoldersTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        output = TestEnvironment::makeDirectory(u"out"_s);
        partials = output + u"/.kestro-partials"_s;
    }

    QString plant(const Leftover &leftover) const
    {
        const QString folder = partials + u'/' + leftover.name;
        TestEnvironment::writeFile(folder + u"/clip.mp4.part"_s, leftover.name.toUtf8());
        if (!leftover.started.isEmpty()) {
            const QJsonObject record{{u"url"_s, leftover.url},
                                     {u"options"_s, leftover.fingerprint},
                                     {u"pid"_s, qint64(::getpid())},
                                     {u"started"_s, leftover.started}};
            TestEnvironment::writeFile(folder + u"/resume.json"_s, QJsonDocument(record).toJson());
        }
        return folder;
    }

    QStringList folders() const { return QDir(partials).entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name); }

    QString output;
    QString partials;
};

} // namespace

TEST_F(PartialFoldersTest, ContinuesOnlyALeftoverOfTheSameRunWhoseOwnerIsGone)
{
    const QString alive = ownStartTime();
    // The same process id with another start time is a recycled id: that owner is gone.
    const QString recycled = u"1"_s;
    const Leftover leftovers[] = {
        {u"10000000-0000-0000-0000-000000000001"_s, pageLink, fingerprint(u"best"_s), alive},
        {u"10000000-0000-0000-0000-000000000002"_s, pageLink, fingerprint(u"worst"_s), recycled},
        {u"10000000-0000-0000-0000-000000000003"_s, pageLink + u"2"_s, fingerprint(u"best"_s), recycled},
        {u"10000000-0000-0000-0000-000000000004"_s, pageLink, fingerprint(u"best"_s), recycled},
    };
    for (const Leftover &leftover : leftovers)
        plant(leftover);

    const QString target = partials + u"/20000000-0000-0000-0000-000000000001"_s;
    EXPECT_TRUE(PartialFolders::prepare(target, pageLink, fingerprint(u"best"_s)));
    QFile part(target + u"/clip.mp4.part"_s);
    ASSERT_TRUE(part.open(QIODevice::ReadOnly));
    EXPECT_EQ(part.readAll(), leftovers[3].name.toUtf8());
    EXPECT_EQ(folders(), (QStringList{leftovers[0].name, leftovers[1].name, leftovers[2].name, u"20000000-0000-0000-0000-000000000001"_s}));

    // Now this process owns it: nobody else takes it, and a second item starts afresh.
    const QString second = partials + u"/20000000-0000-0000-0000-000000000002"_s;
    EXPECT_FALSE(PartialFolders::prepare(second, pageLink, fingerprint(u"best"_s)));
    EXPECT_TRUE(QDir(second).entryList({u"*.part"_s}).isEmpty());
    EXPECT_TRUE(QFileInfo::exists(second + u"/resume.json"_s));

    // Everything left is swept except what lives or is kept.
    PartialFolders::sweep(output, {}, {});
    EXPECT_EQ(folders(), (QStringList{leftovers[0].name, u"20000000-0000-0000-0000-000000000001"_s,
                                      u"20000000-0000-0000-0000-000000000002"_s}));
}

TEST_F(PartialFoldersTest, SweepsWhatNobodyContinues)
{
    const Leftover leftovers[] = {
        {u"30000000-0000-0000-0000-000000000001"_s, pageLink, {}, u"1"_s},                // gone, not wanted
        {u"30000000-0000-0000-0000-000000000002"_s, pageLink + u"/kept"_s, {}, u"1"_s},   // gone, its pageLink is queued
        {u"30000000-0000-0000-0000-000000000003"_s, {}, {}, {}},                      // no record
        {u"30000000-0000-0000-0000-000000000004"_s, {}, {}, {}},                      // no record, but queued
        {u"30000000-0000-0000-0000-000000000005"_s, pageLink, {}, ownStartTime()},        // owner alive
    };
    for (const Leftover &leftover : leftovers)
        plant(leftover);
    ASSERT_TRUE(QDir().mkpath(partials + u"/notes"_s));
    // A planted pageLink in the shape of an item folder must not lead the sweep elsewhere.
    const QString outside = TestEnvironment::makeDirectory(u"outside"_s);
    TestEnvironment::writeFile(outside + u"/keep.txt"_s, "mine");
    ASSERT_TRUE(QFile::link(outside, partials + u"/30000000-0000-0000-0000-000000000006"_s));

    PartialFolders::sweep(output, {leftovers[3].name}, {pageLink + u"/kept"_s});
    EXPECT_EQ(folders(), (QStringList{leftovers[1].name, leftovers[3].name, leftovers[4].name,
                                      u"30000000-0000-0000-0000-000000000006"_s, u"notes"_s}));
    EXPECT_TRUE(QFileInfo::exists(outside + u"/keep.txt"_s));
}
