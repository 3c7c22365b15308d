#include "QueueFixture.h"

#include <QFile>
#include <QTest>

using namespace Qt::StringLiterals;

namespace {

// Links whose probe answers at once and whose download runs until stopped.
QStringList slowLinks(TestHttpServer &server, int count)
{
    QStringList links;
    for (int i = 0; i < count; ++i) {
        const QString path = u"/media/slow-%1.mp4"_s.arg(i);
        server.addGenerated(path, 50'000'000);
        server.setThrottle(path, 20'000);
        links.append(server.url(path));
    }
    return links;
}

} // namespace

TEST_F(QueueFixture, ConcurrencyLimits)
{
    const std::pair<int, int> cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 3}};
    for (const auto &[limit, running] : cases) {
        SCOPED_TRACE(limit);
        TearDown();
        settings->setMaxConcurrent(limit);
        startManager();
        const QStringList links = slowLinks(server, 5);
        manager->add(links);
        ASSERT_TRUE(waitForAnalyses());
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return countWithStatus(DownloadStatus::downloading) == running; }));
        QTest::qWait(300);
        EXPECT_EQ(countWithStatus(DownloadStatus::downloading), running);
        EXPECT_EQ(countWithStatus(DownloadStatus::pending), 5 - running);
        // The newest items (the top of the list) run first.
        for (int i = 0; i < running; ++i)
            EXPECT_EQ(manager->items()[i]->status(), DownloadStatus::downloading);

        // When one ends, the next pending item from the top starts.
        manager->cancel(manager->items().first());
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return countWithStatus(DownloadStatus::downloading) == running; }));
        EXPECT_EQ(manager->items()[running - 1]->status(), DownloadStatus::downloading);
    }
}

TEST_F(QueueFixture, NothingStartsWithoutAnEngineUntilItIsReloaded)
{
    const QString ffprobe = bundle + u"/Contents/Helpers/ffprobe"_s;
    ASSERT_TRUE(QFile::rename(ffprobe, ffprobe + u".away"_s));
    settings->setMaxConcurrent(1);
    startManager(false);
    EXPECT_EQ(manager->engineError(), u"内置组件 ffprobe 缺失，请重新安装完整的 Brisvane Download。"_s);
    manager->add(slowLinks(server, 2));
    ASSERT_TRUE(waitForAnalyses());
    QTest::qWait(200);
    EXPECT_EQ(countWithStatus(DownloadStatus::pending), 2);

    ASSERT_TRUE(QFile::rename(ffprobe + u".away"_s, ffprobe));
    manager->reloadEngine();
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return manager->engineReady(); }));
    EXPECT_FALSE(manager->engineError());
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return countWithStatus(DownloadStatus::downloading) == 1; }));
    EXPECT_EQ(manager->items().first()->status(), DownloadStatus::downloading);
}

TEST_F(QueueFixture, GlobalPauseHoldsNewItemsUntilResumeAll)
{
    startManager();
    manager->add(slowLinks(server, 1));
    DownloadItem *running = manager->items().first();
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return running->status() == DownloadStatus::downloading; }));

    manager->pauseAll();
    EXPECT_TRUE(manager->isPaused());
    EXPECT_EQ(running->status(), DownloadStatus::paused);
    server.addGenerated(u"/media/new.mp4"_s, 1000);
    manager->add({server.url(u"/media/new.mp4"_s)});
    ASSERT_TRUE(waitForAnalyses());
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return manager->runningJobs() == 0; }));
    EXPECT_EQ(manager->items().first()->status(), DownloadStatus::pending);

    manager->resumeAll();
    EXPECT_FALSE(manager->isPaused());
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return manager->items().first()->status() == DownloadStatus::finished; }));
    EXPECT_NE(running->status(), DownloadStatus::paused);
}

TEST_F(QueueFixture, AnalysesCountAgainstTheDownloadLimit)
{
    settings->setMaxConcurrent(3);
    startManager();
    manager->add({server.url(u"/hang/a"_s), server.url(u"/hang/b"_s), server.url(u"/hang/c"_s)});
    manager->add(slowLinks(server, 1));
    DownloadItem *ready = manager->items().first();
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return ready->status() == DownloadStatus::pending; }));
    QTest::qWait(300);
    EXPECT_EQ(ready->status(), DownloadStatus::pending);
    EXPECT_EQ(manager->runningJobs(), 3);

    manager->pause(manager->items()[1]);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return ready->status() == DownloadStatus::downloading; }));
}

TEST_F(QueueFixture, ProbesAreBoundedAndWaitingItemsKeepAnalysing)
{
    settings->setMaxConcurrent(1);
    startManager();
    const qsizetype checks = engineStarts().size();
    QStringList links;
    for (int i = 0; i < 7; ++i)
        links.append(server.url(u"/hang/%1"_s.arg(i)));
    manager->add(links);
    EXPECT_EQ(manager->probeLimit(), 4);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return engineStarts().size() == checks + 4; }));
    QTest::qWait(300);
    EXPECT_EQ(engineStarts().size(), checks + 4);
    EXPECT_EQ(manager->runningProbes(), 4);
    EXPECT_EQ(manager->runningJobs(), 7);
    EXPECT_EQ(countWithStatus(DownloadStatus::analyzing), 7);

    // Pausing a waiting item never probes it; pausing a probing one lets a waiting one in.
    DownloadItem *waiting = manager->items().first(); // the last link was added last, so it waits
    manager->pause(waiting);
    DownloadItem *probing = manager->items().last();
    manager->pause(probing);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return engineStarts().size() == checks + 5; }));
    QTest::qWait(300);
    EXPECT_EQ(engineStarts().size(), checks + 5);
    EXPECT_EQ(manager->runningProbes(), 4);
    EXPECT_EQ(countWithStatus(DownloadStatus::analyzing), 5);
    for (const QJsonObject &start : engineStarts())
        EXPECT_NE(EngineDouble::arguments(start).last(), waiting->url());

    settings->setMaxConcurrent(6);
    EXPECT_EQ(manager->probeLimit(), 6);
}

TEST_F(QueueFixture, ProgressAndLogHandling)
{
    startManager();
    manager->add({server.url(u"/hang/item"_s)});
    DownloadItem *item = manager->items().first();
    const QUuid id = item->id();
    ASSERT_EQ(item->status(), DownloadStatus::analyzing);

    YtDlpProgress processing;
    processing.phase = YtDlpProgress::Phase::processing;
    manager->handle(processing, id);
    EXPECT_EQ(item->status(), DownloadStatus::analyzing);

    YtDlpProgress downloading{YtDlpProgress::Phase::downloading, 50, 200, true, 10, 4.0, 0, 0};
    manager->handle(downloading, id);
    EXPECT_EQ(item->status(), DownloadStatus::downloading);
    EXPECT_EQ(item->progress(), 0.25);
    EXPECT_TRUE(item->progressKnown());
    EXPECT_TRUE(item->totalIsEstimated());
    EXPECT_EQ(item->eta(), 4.0);

    manager->handle(processing, id);
    EXPECT_EQ(item->status(), DownloadStatus::downloading);
    YtDlpProgress finished;
    finished.phase = YtDlpProgress::Phase::finished;
    manager->handle(finished, id);
    EXPECT_EQ(item->progress(), 1.0);
    EXPECT_EQ(item->status(), DownloadStatus::downloading);
    manager->handle(processing, id);
    EXPECT_EQ(item->status(), DownloadStatus::processing);
    manager->handle(downloading, id);
    EXPECT_EQ(item->status(), DownloadStatus::downloading);

    manager->appendLog(u"[download] Destination: /out/.kestro-partials/X/Some Clip.f137.mp4"_s, id);
    EXPECT_EQ(item->title(), u"Some Clip.f137"_s);
    manager->appendLog(u"[download] Destination: /out/Other.mp4"_s, id);
    EXPECT_EQ(item->title(), u"Some Clip.f137"_s);
    EXPECT_EQ(item->site(), u"127.0.0.1"_s);

    const QString line(99, u'x');
    for (int i = 0; i < 100; ++i)
        manager->appendLog(line, id);
    EXPECT_LE(manager->logOf(id).size(), DownloadManager::logLimit);
    EXPECT_GE(manager->logOf(id).size(), DownloadManager::logKeep);
    EXPECT_TRUE(manager->logOf(id).endsWith(line + u'\n'));

    manager->pause(item);
    manager->handle(downloading, id);
    manager->appendLog(u"late"_s, id);
    EXPECT_EQ(item->status(), DownloadStatus::paused);
    EXPECT_FALSE(manager->logOf(id).endsWith(u"late\n"_s));
}

TEST_F(QueueFixture, DerivedValues)
{
    EXPECT_EQ(DownloadManager::siteName(u"https://www.example.com/watch"_s), u"example.com"_s);
    EXPECT_EQ(DownloadManager::siteName(u"https://m.example.org/"_s), u"m.example.org"_s);
    EXPECT_EQ(DownloadManager::siteName(u"not a link"_s), u"not a link"_s);

    startManager();
    manager->pauseAll();
    manager->add({server.url(u"/fail/a"_s), server.url(u"/fail/b"_s)});
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return manager->runningJobs() == 0; }));
    DownloadItem *first = manager->items()[0];
    DownloadItem *second = manager->items()[1];
    first->setStatus(DownloadStatus::downloading);
    first->setProgress(0.5);
    second->setStatus(DownloadStatus::analyzing);
    EXPECT_DOUBLE_EQ(manager->overallProgress(), 0.25);
    second->setStatus(DownloadStatus::paused);
    EXPECT_DOUBLE_EQ(manager->overallProgress(), 0.5);
    EXPECT_EQ(manager->activeItems().size(), 2);
    first->setStatus(DownloadStatus::finished);
    EXPECT_EQ(manager->overallProgress(), 0.0);
    EXPECT_EQ(manager->activeItems(), QList<DownloadItem *>{second});
}
