#include "WindowFixture.h"

#include "app/HistoryFilterModel.h"
#include "app/HistoryListModel.h"
#include "app/HistoryRowDelegate.h"
#include "app/HistoryWindow.h"
#include "shared/L10n.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QListView>
#include <QMenu>
#include <QStackedWidget>
#include <QTimeZone>

using namespace Qt::StringLiterals;

namespace {

HistoryEntry entry(const QString &url, const QString &title, const QString &site, std::optional<QString> file = std::nullopt)
{
    HistoryEntry e;
    e.id = QUuid::createUuid();
    e.url = url;
    e.title = title;
    e.site = site;
    e.ext = u"MP4"_s;
    e.filePath = std::move(file);
    e.finishedAt = QDateTime(QDate(2026, 3, 1), QTime(8, 15), QTimeZone::utc());
    return e;
}

QStringList visibleTitles(const HistoryWindow &window)
{
    QStringList titles;
    for (int row = 0; row < window.filterModel()->rowCount(); ++row)
        titles.append(window.filterModel()->index(row, 0).data().toString());
    return titles;
}

} // namespace

TEST_F(WindowFixture, HistorySearchLooksAtTitleAndSiteOnly)
{
    history->add(entry(u"https://tube.example/watch/secret"_s, u"Lecture One"_s, u"Tube"_s));
    history->add(entry(u"https://clips.example/2"_s, u"Concert"_s, u"ClipSite"_s));
    HistoryWindow window(*manager, *settings, *history);
    const struct
    {
        QString search;
        QStringList titles;
    } cases[] = {
        {u""_s, {u"Concert"_s, u"Lecture One"_s}},
        {u"secret"_s, {}},
        {u"TUBE"_s, {u"Lecture One"_s}},
        {u"clipsite"_s, {u"Concert"_s}},
        {u"lecture"_s, {u"Lecture One"_s}},
    };
    for (const auto &c : cases) {
        window.setSearchText(c.search);
        EXPECT_EQ(visibleTitles(window), c.titles) << c.search.toStdString();
    }
}

TEST_F(WindowFixture, HistoryRowsOfferRevealOnlyWithAFile)
{
    history->add(entry(u"https://a.example/1"_s, u"No file"_s, u"A"_s));
    history->add(entry(u"https://b.example/2"_s, u"Deleted file"_s, u"B"_s, TestEnvironment::root() + u"/deleted.mp4"_s));
    HistoryWindow window(*manager, *settings, *history);
    auto buttonsOf = [&](int row) {
        QStringList help;
        for (const auto &button : HistoryRowDelegate::buttons(window.filterModel()->index(row, 0), QRect(0, 0, 600, 62)))
            help.append(button.help);
        return help;
    };
    EXPECT_EQ(buttonsOf(0), (QStringList{u"复制链接"_s, u"在文件管理器中显示"_s})) << "shown even though the file is gone";
    EXPECT_EQ(buttonsOf(1), (QStringList{u"复制链接"_s}));
}

TEST_F(WindowFixture, HistoryMetaLineLeavesOutAMissingResolution)
{
    HistoryEntry e = entry(u"https://a.example/1"_s, u"Clip"_s, u"Site"_s);
    const QString date = L10n::locale().toString(e.finishedAt.toLocalTime(), QLocale::ShortFormat);
    EXPECT_EQ(HistoryListModel::metaLine(e), date + u" · Site · MP4"_s);
    e.resolution = u"1280x720"_s;
    EXPECT_EQ(HistoryListModel::metaLine(e), date + u" · Site · 1280x720 · MP4"_s);
}

TEST_F(WindowFixture, HistoryActionsCopyDownloadAgainDeleteAndClear)
{
    HistoryWindow window(*manager, *settings, *history);
    auto *clear = window.findChild<QAction *>(u"clearHistoryAction"_s);
    auto *stack = window.findChild<QStackedWidget *>();
    EXPECT_FALSE(clear->isEnabled());
    EXPECT_EQ(stack->currentWidget()->objectName(), u"historyPlaceholder"_s);

    history->add(entry(u"https://a.example/1"_s, u"First"_s, u"A"_s));
    history->add(entry(u"https://b.example/2"_s, u"Second"_s, u"B"_s));
    EXPECT_TRUE(clear->isEnabled());
    EXPECT_EQ(stack->currentWidget(), window.listView());

    std::unique_ptr<QMenu> menu(window.contextMenuFor(1));
    QStringList texts;
    for (QAction *a : menu->actions())
        texts.append(a->isSeparator() ? u"|"_s : a->text());
    EXPECT_EQ(texts, (QStringList{u"复制链接"_s, u"重新下载"_s, u"|"_s, u"删除此记录"_s}));

    menu->actions().at(0)->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"https://a.example/1"_s);
    manager->add({u"https://a.example/1"_s});
    menu->actions().at(1)->trigger();
    EXPECT_EQ(manager->items().size(), 2) << "the queue decides about duplicates";
    menu->actions().at(3)->trigger();
    EXPECT_EQ(visibleTitles(window), QStringList{u"Second"_s});

    clear->trigger();
    EXPECT_TRUE(history->entries().isEmpty());
    EXPECT_FALSE(clear->isEnabled());
    EXPECT_EQ(stack->currentWidget()->objectName(), u"historyPlaceholder"_s);
}
