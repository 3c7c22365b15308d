#include "WindowFixture.h"

#include <QApplication>
#include <QClipboard>
#include <QUuid>
#include <QWidget>

using namespace Qt::StringLiterals;

void WindowFixture::SetUp()
{
    settings = std::make_unique<AppSettings>();
    settings->setDownloadDirPath(TestEnvironment::makeDirectory(u"home/Downloads/out"_s));
    settings->setShowNotifications(false);
    // Each test its own history file, also when the tests share one process.
    history = std::make_unique<HistoryStore>(
        TestEnvironment::makeDirectory(QUuid::createUuid().toString(QUuid::WithoutBraces)) + u"/history.json"_s);
    service = std::make_unique<YtDlpService>(TestEnvironment::makeDirectory(u"no-engine"_s));
    manager = std::make_unique<DownloadManager>(*service, *settings, *history);
    ASSERT_TRUE(TestEnvironment::waitFor([this] { return !service->isChecking() && manager->engineError(); }));
    QGuiApplication::clipboard()->clear();
}

void WindowFixture::TearDown()
{
    // Sheets and alerts opened without a parent that outlives the test.
    for (QWidget *widget : QApplication::topLevelWidgets())
        widget->close();
    manager.reset();
}

DownloadItem *WindowFixture::addItem(const QString &url, DownloadStatus status, const QString &title)
{
    manager->add({url});
    DownloadItem *item = manager->items().first();
    EXPECT_TRUE(TestEnvironment::waitFor([&] { return !manager->hasJob(item->id()); }));
    item->setStatus(status);
    if (!title.isEmpty())
        item->setTitle(title);
    return item;
}
