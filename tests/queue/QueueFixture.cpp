#include "QueueFixture.h"

using namespace Qt::StringLiterals;

void QueueFixture::SetUp()
{
    bundle = TestEnvironment::root() + u"/Brisvane Download"_s;
    EngineDouble::makeBundle(bundle);
    startLog = EngineDouble::enableStartLog();
    ASSERT_TRUE(server.start());
    output = TestEnvironment::makeDirectory(u"home/Downloads/Kestro out"_s);
    settings = std::make_unique<AppSettings>();
    settings->setDownloadDirPath(output);
    settings->setShowNotifications(false);
    history = std::make_unique<HistoryStore>(TestEnvironment::root() + u"/history.json"_s);
    service = std::make_unique<YtDlpService>(bundle);
}

void QueueFixture::TearDown()
{
    if (!manager)
        return;
    // Stop every engine before the queue goes, so no child outlives the test.
    manager->pauseAll();
    EXPECT_TRUE(TestEnvironment::waitFor([this] { return manager->runningJobs() == 0; }));
    manager.reset();
}

void QueueFixture::startManager(bool expectReady)
{
    manager = std::make_unique<DownloadManager>(*service, *settings, *history);
    ASSERT_TRUE(TestEnvironment::waitFor([this] { return !service->isChecking() && manager->engineReady() == service->isAvailable(); }));
    ASSERT_EQ(manager->engineReady(), expectReady);
}

DownloadItem *QueueFixture::itemWithUrl(const QString &url) const
{
    for (DownloadItem *item : manager->items()) {
        if (item->url() == url)
            return item;
    }
    return nullptr;
}

int QueueFixture::countWithStatus(DownloadStatus status) const
{
    return static_cast<int>(std::count_if(manager->items().cbegin(), manager->items().cend(),
                                          [status](const DownloadItem *item) { return item->status() == status; }));
}

bool QueueFixture::waitForAnalyses()
{
    return TestEnvironment::waitFor([this] { return countWithStatus(DownloadStatus::analyzing) == 0; });
}
