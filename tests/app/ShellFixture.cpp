#include "ShellFixture.h"

using namespace Qt::StringLiterals;

void ShellFixture::SetUp()
{
    bundle = TestEnvironment::root() + u"/Brisvane Download"_s;
    EngineDouble::makeBundle(bundle);
    ASSERT_TRUE(server.start());
    output = TestEnvironment::makeDirectory(u"home/Downloads/Kestro"_s);
    settings = std::make_unique<AppSettings>();
    settings->setDownloadDirPath(output);
    settings->setShowNotifications(false);
    history = std::make_unique<HistoryStore>(TestEnvironment::root() + u"/history.json"_s);
    service = std::make_unique<YtDlpService>(bundle);
    manager = std::make_unique<DownloadManager>(*service, *settings, *history);
    shell = std::make_unique<KestroApp>(*manager, *settings, *history);
    shell->setBundlePath(bundle);
}

void ShellFixture::TearDown()
{
    shell.reset();
    // Stop every engine before the queue goes, so no child outlives the test.
    manager->pauseAll();
    EXPECT_TRUE(TestEnvironment::waitFor([this] { return manager->runningJobs() == 0; }));
    manager.reset();
}
