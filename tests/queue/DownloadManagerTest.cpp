#include "QueueFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList partialFiles(const QString &directory)
{
    return QDir(directory).entryList({u"*.part"_s}, QDir::Files);
}

// Marks a file immutable, which even root cannot delete; false where the file system says no.
bool setImmutable(const QString &path, bool on)
{
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}

} // namespace

TEST_F(QueueFixture, OneLinkBecomesOneFileAndOneHistoryEntry)
{
    constexpr qint64 size = 300000;
    server.addGenerated(u"/media/Some Clip.mp4"_s, size);
    startManager();
    const QString url = server.url(u"/media/Some%20Clip.mp4"_s);
    manager->add({u"  "_s, u"not a link"_s, u"\n "_s + url + u"  "_s});
    ASSERT_EQ(manager->items().size(), 1);
    DownloadItem *item = manager->items().first();
    EXPECT_EQ(item->url(), url);
    EXPECT_EQ(item->status(), DownloadStatus::analyzing);
    EXPECT_TRUE(manager->hasJob(item->id()));

    ASSERT_TRUE(TestEnvironment::waitFor([&] { return item->status() == DownloadStatus::finished; }))
        << item->statusLine().toStdString();
    const QString file = output + u"/Some Clip.mp4"_s;
    EXPECT_EQ(item->outputFile(), file);
    EXPECT_EQ(item->title(), u"Some Clip"_s);
    EXPECT_EQ(contentOf(file), TestHttpServer::generatedContent(0, size));
    EXPECT_EQ(item->progress(), 1.0);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return !manager->hasJob(item->id()); }));
    EXPECT_FALSE(QFileInfo::exists(item->temporaryDirectory()));
    EXPECT_TRUE(QFileInfo(output + u"/.kestro-partials"_s).isDir());

    ASSERT_EQ(history->entries().size(), 1);
    const HistoryEntry &entry = history->entries().first();
    EXPECT_EQ(entry.id, item->id());
    EXPECT_EQ(entry.url, url);
    EXPECT_EQ(entry.title, u"Some Clip"_s);
    EXPECT_EQ(entry.ext, u"MP4"_s);
    EXPECT_EQ(entry.filePath, file);
}

TEST_F(QueueFixture, PlaylistBecomesItsEntriesInOrder)
{
    const QStringList names{u"one"_s, u"two"_s, u"three"_s};
    QStringList entries;
    for (const QString &name : names) {
        server.addGenerated(u"/media/"_s + name + u".mp4"_s, 5000);
        entries.append(uR"({"url":"%1","title":"%2"})"_s.arg(server.url(u"/media/"_s + name + u".mp4"_s), name));
    }
    server.addFile(u"/list"_s,
                   uR"({"id":"PL","title":"My list","thumbnail":"https://img.example/t.jpg","entries":[%1]})"_s
                       .arg(entries.join(u','))
                       .toUtf8(),
                   "application/json");
    settings->setDefaultQuality(720);
    settings->setMaxConcurrent(1);
    startManager();
    manager->add({server.url(u"/list"_s)});
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return manager->items().size() == 3; }));
    for (int i = 0; i < 3; ++i) {
        const DownloadItem *item = manager->items()[i];
        EXPECT_EQ(item->title(), names[i]);
        EXPECT_EQ(item->playlistIndex(), i + 1);
        EXPECT_EQ(item->playlistTitle(), u"My list"_s);
        EXPECT_EQ(item->thumbnailURL(), QUrl(u"https://img.example/t.jpg"_s));
        EXPECT_EQ(item->formatSelector(), AppSettings::formatSelector(720));
    }
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return countWithStatus(DownloadStatus::finished) == 3; }));
    // One at a time, from the first entry on.
    ASSERT_EQ(history->entries().size(), 3);
    EXPECT_EQ(history->entries()[2].title, u"one"_s);
    EXPECT_EQ(history->entries()[0].title, u"three"_s);
    for (const QString &name : names)
        EXPECT_TRUE(QFileInfo::exists(output + u"/"_s + name + u".mp4"_s));
}

TEST_F(QueueFixture, FailingLinkEndsFailedWithTheEnginesError)
{
    startManager();
    const QString url = server.url(u"/fail/x"_s);
    manager->add({url});
    DownloadItem *item = manager->items().first();
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return item->status() == DownloadStatus::failed; }));
    EXPECT_EQ(item->errorMessage(), u"[generic] Unsupported URL: "_s + url);
    EXPECT_TRUE(item->errorDetails()->contains(u"Unsupported URL"_s));
    EXPECT_EQ(item->statusLine(), u"失败："_s + *item->errorMessage());
    EXPECT_TRUE(history->entries().isEmpty());
}

TEST_F(QueueFixture, PauseKeepsThePartialFileAndResumeContinuesWithARange)
{
    constexpr qint64 size = 2'000'000;
    server.addGenerated(u"/media/big.mp4"_s, size);
    server.setThrottle(u"/media/big.mp4"_s, 400'000);
    startManager();
    manager->add({server.url(u"/media/big.mp4"_s)});
    DownloadItem *item = manager->items().first();
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return item->downloadedBytes() > 100'000; }));

    manager->pause(item);
    EXPECT_EQ(item->status(), DownloadStatus::paused);
    const qint64 shown = item->downloadedBytes();
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return !manager->hasJob(item->id()); }));
    EXPECT_EQ(item->status(), DownloadStatus::paused);
    EXPECT_EQ(item->downloadedBytes(), shown);
    EXPECT_EQ(partialFiles(item->temporaryDirectory()).size(), 1);

    server.setThrottle(u"/media/big.mp4"_s, 0);
    manager->resume(item);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return item->status() == DownloadStatus::finished; }))
        << item->statusLine().toStdString();
    EXPECT_EQ(contentOf(output + u"/big.mp4"_s), TestHttpServer::generatedContent(0, size));
    const QList<TestHttpServer::Request> requests = server.requests(u"/media/big.mp4"_s);
    ASSERT_GE(requests.size(), 3); // probe, first run, resumed run
    EXPECT_TRUE(requests.last().header("range").startsWith("bytes="));
    EXPECT_NE(requests.last().header("range"), "bytes=0-");
}

TEST_F(QueueFixture, CancelRemovesTheTemporaryFolderOnceTheEngineIsGone)
{
    server.addGenerated(u"/media/slow.mp4"_s, 5'000'000);
    server.setThrottle(u"/media/slow.mp4"_s, 100'000);
    startManager();
    manager->add({server.url(u"/media/slow.mp4"_s)});
    QPointer<DownloadItem> item = manager->items().first();
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return item->downloadedBytes() > 0; }));
    const QString temporary = item->temporaryDirectory();
    const qint64 enginePid = engineStarts().last().value(u"pid"_s).toInteger();

    manager->cancel(item);
    EXPECT_TRUE(manager->items().isEmpty());
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return manager->runningJobs() == 0; }));
    EXPECT_FALSE(QFileInfo::exists(temporary));
    EXPECT_NE(::kill(static_cast<pid_t>(enginePid), 0), 0);
    EXPECT_TRUE(TestEnvironment::waitFor([&] { return item.isNull(); }));
}

TEST_F(QueueFixture, TemporaryFolderThatCannotBeDeletedSetsCleanupError)
{
    startManager();
    manager->add({server.url(u"/hang/x"_s)});
    DownloadItem *item = manager->items().first();
    manager->pause(item);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return !manager->hasJob(item->id()); }));
    const QString temporary = item->temporaryDirectory();
    const QString stuck = TestEnvironment::writeFile(temporary + u"/stuck.part"_s, "x");
    if (!setImmutable(stuck, true))
        GTEST_SKIP() << "this file system cannot make a file undeletable";

    manager->cancel(item);
    const std::optional<QString> error = manager->cleanupError();
    setImmutable(stuck, false);
    ASSERT_TRUE(error);
    EXPECT_TRUE(error->startsWith(u"任务已移除，但临时文件清理失败："_s)) << error->toStdString();
    EXPECT_TRUE(error->endsWith(u"\n"_s + temporary)) << error->toStdString();
    EXPECT_TRUE(manager->items().isEmpty());
}
