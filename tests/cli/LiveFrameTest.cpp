#include "cli/LiveFrame.h"
#include "queue/DownloadItem.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

using namespace Qt::StringLiterals;

// More items than the terminal has rows: the frame must still fit, or moving the cursor back
// to its top runs past the screen and every redraw leaves a stale frame behind.
TEST(LiveFrame, FitsTheTerminalWithTheActiveItemsFirst)
{
    const std::pair<const char16_t *, DownloadStatus> queue[] = {
        // Newest first, as the queue lists them.
        {u"f1", DownloadStatus::finished},  {u"d1", DownloadStatus::downloading}, {u"p1", DownloadStatus::pending},
        {u"x1", DownloadStatus::failed},    {u"f2", DownloadStatus::finished},    {u"a1", DownloadStatus::analyzing},
        {u"f3", DownloadStatus::finished},
    };
    std::vector<std::unique_ptr<DownloadItem>> owned;
    QList<DownloadItem *> items;
    for (const auto &[title, status] : queue) {
        owned.push_back(std::make_unique<DownloadItem>(u"https://example.com/"_s + QString::fromUtf16(title), u"/out"_s));
        owned.back()->setTitle(QString::fromUtf16(title));
        owned.back()->setStatus(status);
        items.append(owned.back().get());
    }
    const struct
    {
        int rows;
        QStringList titles; // of the item lines, top to bottom; then a summary line when some are left out
    } cases[] = {
        {24, {u"f3"_s, u"a1"_s, u"f2"_s, u"x1"_s, u"p1"_s, u"d1"_s, u"f1"_s}},
        {8, {u"f3"_s, u"a1"_s, u"f2"_s, u"x1"_s, u"p1"_s, u"d1"_s, u"f1"_s}},
        {7, {u"a1"_s, u"d1"_s, u"p1"_s, u"x1"_s, u"f3"_s}},
        {4, {u"a1"_s, u"d1"_s}},
        {2, {}},
        {1, {}},
    };
    for (const auto &c : cases) {
        const QStringList lines = LiveFrame::lines(items, c.rows, 60);
        ASSERT_LE(lines.size(), std::max(1, c.rows - 1)) << c.rows;
        const bool summarised = c.titles.size() < items.size();
        ASSERT_EQ(lines.size(), c.titles.size() + (summarised ? 1 : 0)) << c.rows;
        for (qsizetype i = 0; i < c.titles.size(); ++i)
            EXPECT_TRUE(lines[i].contains(u"] "_s + c.titles[i] + u" — "_s)) << c.rows << ": " << lines[i].toStdString();
        if (summarised) {
            EXPECT_TRUE(lines.last().contains(QString::number(items.size() - c.titles.size()))) << lines.last().toStdString();
        }
        for (const QString &line : lines)
            EXPECT_LT(line.size(), 60);
    }
}

// A page title is remote text: terminal commands in it are shown, never obeyed.
TEST(LiveFrame, EscapesControlCharactersOfTitles)
{
    DownloadItem item(u"https://example.com/v"_s, u"/out"_s);
    item.setTitle(u"clip\x1b]0;owned\x07\x1b[2J"_s);
    const QString line = LiveFrame::itemLine(&item, 200);
    EXPECT_FALSE(line.contains(u'\x1b')) << line.toStdString();
    EXPECT_FALSE(line.contains(u'\x07'));
    EXPECT_TRUE(line.contains(u"clip\\u001b]0;owned\\u0007\\u001b[2J — "_s)) << line.toStdString();
}
