#include "WindowFixture.h"

#include "app/DownloadFilterModel.h"
#include "app/DownloadListModel.h"
#include "app/DownloadListView.h"
#include "app/EmptyStateView.h"
#include "app/MainWindow.h"
#include "queue/ClipboardWatch.h"

#include <QAction>
#include <QClipboard>
#include <QDropEvent>
#include <QGuiApplication>
#include <QMimeData>
#include <QSignalSpy>
#include <QStackedWidget>

using namespace Qt::StringLiterals;

namespace {

QStringList visibleUrls(const MainWindow &window)
{
    QStringList urls;
    const DownloadFilterModel *filter = window.filterModel();
    for (int row = 0; row < filter->rowCount(); ++row)
        urls.append(filter->index(row, 0).data(DownloadListModel::UrlRole).toString());
    return urls;
}

bool showsEmptyState(const MainWindow &window)
{
    return window.findChild<QStackedWidget *>()->currentWidget() == window.findChild<EmptyStateView *>();
}

QAction *action(const MainWindow &window, const char *name)
{
    return window.findChild<QAction *>(QString::fromLatin1(name));
}

} // namespace

TEST_F(WindowFixture, SearchFiltersByTitleOrLinkIgnoringCase)
{
    MainWindow window(*manager, *settings, *history);
    window.findChild<QObject *>(u"searchField"_s)->setProperty("text", u"abc"_s);
    EXPECT_TRUE(showsEmptyState(window)) << "an empty queue shows the empty state whatever is searched";

    addItem(u"https://video.example/watch/lowercase"_s, DownloadStatus::pending, u"Cooking Show"_s);
    addItem(u"https://clips.example/v/2"_s, DownloadStatus::pending, u"Morning News"_s);
    addItem(u"https://other.example/x"_s, DownloadStatus::pending);

    const struct
    {
        QString search;
        QStringList expected;
    } cases[] = {
        {u""_s, {u"https://other.example/x"_s, u"https://clips.example/v/2"_s, u"https://video.example/watch/lowercase"_s}},
        {u"LOWERCASE"_s, {u"https://video.example/watch/lowercase"_s}},
        {u"news"_s, {u"https://clips.example/v/2"_s}},
        {u"other.example"_s, {u"https://other.example/x"_s}}, // no title: the link is the title
        {u" news"_s, {u"https://clips.example/v/2"_s}},        // not trimmed: " News" is in the title
        {u"news "_s, {}},
        {u"nothing like it"_s, {}},
    };
    for (const auto &c : cases) {
        window.findChild<QObject *>(u"searchField"_s)->setProperty("text", c.search);
        EXPECT_EQ(visibleUrls(window), c.expected) << c.search.toStdString();
        EXPECT_FALSE(showsEmptyState(window)) << "a search without matches shows an empty list";
    }
}

TEST_F(WindowFixture, ToolbarFollowsTheQueue)
{
    MainWindow window(*manager, *settings, *history);
    QAction *pauseAll = action(window, "pauseAllAction");
    QAction *clear = action(window, "clearFinishedAction");
    EXPECT_FALSE(pauseAll->isEnabled());
    EXPECT_FALSE(clear->isEnabled());
    EXPECT_TRUE(action(window, "pasteAction")->isEnabled());
    EXPECT_TRUE(action(window, "addAction")->isEnabled());
    EXPECT_TRUE(action(window, "historyAction")->isEnabled());

    const struct
    {
        DownloadStatus status;
        bool clearable;
    } cases[] = {
        {DownloadStatus::pending, false},    {DownloadStatus::analyzing, false}, {DownloadStatus::downloading, false},
        {DownloadStatus::paused, false},     {DownloadStatus::processing, false}, {DownloadStatus::finished, true},
        {DownloadStatus::failed, true},      {DownloadStatus::canceled, true},
    };
    DownloadItem *item = addItem(u"https://video.example/1"_s, DownloadStatus::pending);
    for (const auto &c : cases) {
        item->setStatus(c.status);
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return clear->isEnabled() == c.clearable; }))
            << rawString(c.status).toStdString();
        EXPECT_TRUE(pauseAll->isEnabled());
    }

    EXPECT_EQ(pauseAll->text(), u"全部暂停"_s);
    pauseAll->trigger();
    EXPECT_TRUE(manager->isPaused());
    EXPECT_EQ(pauseAll->text(), u"全部继续"_s);
    pauseAll->trigger();
    EXPECT_FALSE(manager->isPaused());
    EXPECT_EQ(pauseAll->text(), u"全部暂停"_s);

    QSignalSpy history(&window, &MainWindow::historyRequested);
    action(window, "historyAction")->trigger();
    EXPECT_EQ(history.size(), 1);
}

TEST_F(WindowFixture, PasteSplitsTheClipboardAtLineBreaks)
{
    MainWindow window(*manager, *settings, *history);
    window.pasteFromClipboard();
    EXPECT_TRUE(manager->items().isEmpty());

    QGuiApplication::clipboard()->setText(u"https://a.example/1\nnot a link\r\n  https://b.example/2  \n"_s);
    window.pasteFromClipboard();
    ASSERT_EQ(manager->items().size(), 2);
    EXPECT_EQ(manager->items().at(0)->url(), u"https://b.example/2"_s);
    EXPECT_EQ(manager->items().at(1)->url(), u"https://a.example/1"_s);
    EXPECT_FALSE(showsEmptyState(window));
}

TEST(DropBatches, SplitAsTheyAreAdded)
{
    auto mime = [](const QList<QUrl> &urls, const std::optional<QByteArray> &text) {
        auto data = std::make_unique<QMimeData>();
        if (!urls.isEmpty())
            data->setUrls(urls);
        if (text)
            data->setData(u"text/plain"_s, *text);
        return data;
    };
    const struct
    {
        const char *name;
        QList<QUrl> urls;
        std::optional<QByteArray> text;
        QList<QStringList> expected;
    } cases[] = {
        {"file URL and two lines of text", {QUrl(u"file:///tmp/clip.mp4"_s)}, QByteArray("https://a.example/1\nhttps://b.example/2"),
         {{u"file:///tmp/clip.mp4"_s}, {u"https://a.example/1"_s, u"https://b.example/2"_s}}},
        {"a browser link comes as URL and as the same text", {QUrl(u"https://a.example/watch?v=1"_s)},
         QByteArray("https://a.example/watch?v=1"), {{u"https://a.example/watch?v=1"_s}}},
        {"two URLs", {QUrl(u"https://a.example/1"_s), QUrl(u"https://b.example/2"_s)}, std::nullopt,
         {{u"https://a.example/1"_s}, {u"https://b.example/2"_s}}},
        {"text only", {}, QByteArray("https://a.example/1\r\nhttps://b.example/2"),
         {{u"https://a.example/1\r"_s, u"https://b.example/2"_s}}},
        {"text that is not UTF-8", {}, QByteArray("https://a.example/\xff\xfe"), {}},
        {"nothing usable", {}, std::nullopt, {}},
    };
    for (const auto &c : cases) {
        const auto data = mime(c.urls, c.text);
        EXPECT_EQ(MainWindow::dropBatches(*data), c.expected) << c.name;
    }
}

TEST_F(WindowFixture, DropAddsLinksAndShowsTheOutlineWhileDragging)
{
    MainWindow window(*manager, *settings, *history);
    window.resize(760, 560);
    window.show();
    QMimeData data;
    data.setText(u"https://a.example/1\nhttps://b.example/2"_s);
    QDragEnterEvent enter(QPoint(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    EXPECT_TRUE(enter.isAccepted());
    EXPECT_TRUE(window.isDropTargeted());
    EXPECT_TRUE(window.findChild<EmptyStateView *>()->isDropTargeted());
    QDropEvent drop(QPointF(100, 100), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &drop);
    EXPECT_FALSE(window.isDropTargeted());
    EXPECT_EQ(manager->items().size(), 2);
}

TEST_F(WindowFixture, ItemChangesReachTheListCoalesced)
{
    MainWindow window(*manager, *settings, *history);
    DownloadItem *first = addItem(u"https://a.example/1"_s, DownloadStatus::downloading);
    DownloadItem *second = addItem(u"https://b.example/2"_s, DownloadStatus::downloading);
    window.listModel()->flush();
    QSignalSpy changes(window.listModel(), &QAbstractItemModel::dataChanged);
    for (int i = 1; i <= 200; ++i) {
        first->setDownloadedBytes(i * 1000);
        second->setDownloadedBytes(i * 1000);
    }
    EXPECT_EQ(changes.size(), 0) << "nothing is sent per change";
    ASSERT_TRUE(changes.wait());
    // Two neighbouring rows, one range, once.
    EXPECT_EQ(changes.size(), 1);
    EXPECT_EQ(changes.first().at(0).toModelIndex().row(), 0);
    EXPECT_EQ(changes.first().at(1).toModelIndex().row(), 1);
}

TEST_F(WindowFixture, ListRowsFollowTheQueueAndKeepTheSelection)
{
    MainWindow window(*manager, *settings, *history);
    auto rows = [&] {
        QList<DownloadItem *> items;
        for (int row = 0; row < window.listModel()->rowCount(); ++row)
            items.append(window.listModel()->itemAt(row));
        return items;
    };
    DownloadItem *a = addItem(u"https://a.example/1"_s, DownloadStatus::finished);
    DownloadItem *b = addItem(u"https://b.example/2"_s, DownloadStatus::failed);
    addItem(u"https://c.example/3"_s, DownloadStatus::pending);
    EXPECT_EQ(rows(), manager->items());

    window.listView()->setCurrentIndex(window.filterModel()->index(2, 0)); // a
    manager->remove(b);
    EXPECT_EQ(rows(), manager->items());
    manager->add({u"https://d.example/4"_s, u"https://e.example/5"_s});
    EXPECT_EQ(rows(), manager->items());
    EXPECT_EQ(window.listView()->currentItem(), a);
    manager->clearFinished();
    EXPECT_EQ(rows(), manager->items());
    EXPECT_EQ(manager->items().size(), 3);
}

TEST_F(WindowFixture, EngineBannerOffersACheckAgain)
{
    MainWindow window(*manager, *settings, *history);
    window.show();
    QWidget *banner = window.findChild<QWidget *>(u"engineBanner"_s);
    ASSERT_TRUE(banner);
    EXPECT_TRUE(banner->isVisible()) << "the fixture's engine is missing";
    EXPECT_TRUE(window.findChild<QWidget *>(u"engineRetryButton"_s)->isVisible());
}

TEST_F(WindowFixture, ClipboardWatchFollowsTheSettingOnceShown)
{
    settings->setWatchClipboard(true);
    MainWindow window(*manager, *settings, *history);
    EXPECT_FALSE(manager->clipboardWatch().isEnabled()) << "not before the window is shown";
    window.show();
    EXPECT_TRUE(manager->clipboardWatch().isEnabled());
    settings->setWatchClipboard(false);
    EXPECT_TRUE(TestEnvironment::waitFor([&] { return !manager->clipboardWatch().isEnabled(); }));
    settings->setWatchClipboard(true);
    EXPECT_TRUE(TestEnvironment::waitFor([&] { return manager->clipboardWatch().isEnabled(); }));
}
