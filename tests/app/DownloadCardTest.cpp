#include "WindowFixture.h"

#include "app/DownloadCard.h"
#include "app/DownloadCardDelegate.h"
#include "app/DownloadFilterModel.h"
#include "app/DownloadListView.h"
#include "app/FailureDetailsDialog.h"
#include "app/MainWindow.h"

#include <QAction>
#include <QClipboard>
#include <QGuiApplication>
#include <QMenu>
#include <QAbstractButton>
#include <QMessageBox>
#include <QTest>

using namespace Qt::StringLiterals;
using DownloadCard::Action;

namespace {

QList<Action> actionsOf(const QList<DownloadCard::Button> &buttons)
{
    QList<Action> actions;
    for (const DownloadCard::Button &button : buttons)
        actions.append(button.action);
    return actions;
}

// The menu as text: entries by action, "|" for a separator.
QString menuShape(const QList<DownloadCard::MenuEntry> &entries)
{
    auto name = [](Action action) {
        switch (action) {
        case Action::pause: return u"pause"_s;
        case Action::resume: return u"resume"_s;
        case Action::cancel: return u"cancel"_s;
        case Action::retry: return u"retry"_s;
        case Action::remove: return u"remove"_s;
        case Action::showDetails: return u"details"_s;
        case Action::play: return u"play"_s;
        case Action::reveal: return u"reveal"_s;
        case Action::copyLink: return u"copy"_s;
        }
        return QString();
    };
    QStringList parts;
    for (const DownloadCard::MenuEntry &entry : entries) {
        if (entry.separatorBefore)
            parts.append(u"|"_s);
        parts.append(name(entry.action) + (entry.destructive ? u"!"_s : QString()));
    }
    return parts.join(u' ');
}

} // namespace

TEST_F(WindowFixture, ButtonsAndMenuFollowTheStatus)
{
    const struct
    {
        DownloadStatus status;
        bool withFile;
        QList<Action> header;
        QList<Action> trailing;
        QString menu;
        QString symbol;
    } cases[] = {
        {DownloadStatus::pending, false, {Action::cancel}, {}, u"copy | remove!"_s, u"clock"_s},
        {DownloadStatus::analyzing, false, {Action::pause, Action::cancel}, {}, u"copy | pause | remove!"_s, QString()},
        {DownloadStatus::downloading, false, {Action::pause, Action::cancel}, {}, u"copy | pause | remove!"_s,
         u"arrow.down.circle.fill"_s},
        {DownloadStatus::processing, false, {Action::pause, Action::cancel}, {}, u"copy | pause | remove!"_s, QString()},
        {DownloadStatus::paused, false, {Action::resume, Action::cancel}, {}, u"copy | resume | remove!"_s,
         u"pause.circle.fill"_s},
        {DownloadStatus::failed, false, {Action::retry, Action::remove}, {Action::showDetails}, u"copy | retry | remove!"_s,
         u"xmark.octagon.fill"_s},
        {DownloadStatus::canceled, false, {Action::cancel}, {}, u"copy | retry | remove!"_s, u"clock"_s},
        {DownloadStatus::finished, true, {Action::remove}, {Action::play, Action::reveal},
         u"copy reveal play | remove!"_s, u"checkmark.circle.fill"_s},
        {DownloadStatus::finished, false, {Action::remove}, {}, u"copy | remove!"_s, u"checkmark.circle.fill"_s},
    };
    DownloadItem *item = addItem(u"https://video.example/1"_s, DownloadStatus::pending);
    for (const auto &c : cases) {
        item->setStatus(c.status);
        item->setOutputFile(c.withFile ? std::optional(u"/tmp/out.mp4"_s) : std::nullopt);
        const std::string name = rawString(c.status).toStdString() + (c.withFile ? " with file" : "");
        EXPECT_EQ(actionsOf(DownloadCard::headerButtons(*item)), c.header) << name;
        EXPECT_EQ(actionsOf(DownloadCard::statusButtons(*item)), c.trailing) << name;
        EXPECT_EQ(menuShape(DownloadCard::menuEntries(*item)), c.menu) << name;
        EXPECT_EQ(DownloadCard::statusSymbol(c.status), c.symbol) << name;
    }
    item->setStatus(DownloadStatus::finished);
    EXPECT_EQ(DownloadCard::menuEntries(*item).last().text, u"从列表移除"_s);
    item->setStatus(DownloadStatus::canceled);
    EXPECT_EQ(DownloadCard::menuEntries(*item).last().text, u"移除并清理临时文件"_s);
    EXPECT_EQ(DownloadCard::progressTint(DownloadStatus::canceled, Qt::blue), QColor(255, 69, 58));
}

TEST_F(WindowFixture, ProgressIsIndeterminateUntilItsSizeIsKnown)
{
    DownloadItem *item = addItem(u"https://video.example/1"_s, DownloadStatus::downloading);
    EXPECT_TRUE(DownloadCard::progressIndeterminate(*item));
    EXPECT_TRUE(DownloadCard::animates(*item));
    item->setProgressKnown(true);
    item->setProgress(0.4);
    EXPECT_FALSE(DownloadCard::progressIndeterminate(*item));
    EXPECT_FALSE(DownloadCard::animates(*item));
    item->setStatus(DownloadStatus::paused);
    item->setProgressKnown(false);
    EXPECT_FALSE(DownloadCard::progressIndeterminate(*item)) << "only a running download moves without a value";
}

TEST_F(WindowFixture, SummaryLineJoinsWhatIsKnown)
{
    DownloadItem *item = addItem(u"https://www.video.example/watch/1"_s, DownloadStatus::pending);
    item->setExt(QString());
    EXPECT_EQ(DownloadCard::summaryLine(*item), u"video.example - "_s) << "the format part is there even when empty";
    item->setSite(u"Example Video"_s);
    item->setExt(u"mp4"_s);
    item->setResolution(u"1920x1080"_s);
    item->setFileSize(1500000);
    item->setPlaylistTitle(u"Season One"_s);
    item->setPlaylistIndex(3);
    EXPECT_EQ(DownloadCard::summaryLine(*item), u"Example Video - mp4 - 1920x1080 - 1.5 MB - 列表 Season One #3"_s);
    item->setAudioOnly(true);
    item->setAudioFormat(u"m4a"_s);
    item->setPlaylistIndex(std::nullopt);
    EXPECT_EQ(DownloadCard::summaryLine(*item), u"Example Video - M4A - 1920x1080 - 1.5 MB"_s);
}

TEST_F(WindowFixture, FailureDetailsShowAndCopyTheBestText)
{
    const struct
    {
        std::optional<QString> details;
        std::optional<QString> message;
        QString shown;
        QString copied;
    } cases[] = {
        {u"log lines"_s, u"summary"_s, u"log lines"_s, u"log lines"_s},
        {std::nullopt, u"summary"_s, u"summary"_s, u"summary"_s},
        {std::nullopt, std::nullopt, u"未知错误"_s, u""_s},
    };
    MainWindow window(*manager, *settings, *history);
    DownloadItem *item = addItem(u"https://video.example/1"_s, DownloadStatus::failed);
    for (const auto &c : cases) {
        item->setErrorDetails(c.details);
        item->setErrorMessage(c.message);
        window.perform(Action::showDetails, item);
        auto *dialog = window.findChild<FailureDetailsDialog *>();
        ASSERT_TRUE(dialog);
        EXPECT_TRUE(dialog->isVisible());
        EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
        EXPECT_EQ(dialog->shownText(), c.shown);
        QGuiApplication::clipboard()->setText(u"previous"_s);
        QTest::mouseClick(dialog->findChild<QWidget *>(u"copyDetailsButton"_s), Qt::LeftButton);
        EXPECT_EQ(QGuiApplication::clipboard()->text(), c.copied);
        QTest::mouseClick(dialog->findChild<QWidget *>(u"closeButton"_s), Qt::LeftButton);
        TestEnvironment::waitFor([&] { return !window.findChild<FailureDetailsDialog *>(); });
        ASSERT_FALSE(window.findChild<FailureDetailsDialog *>());
    }
}

TEST_F(WindowFixture, AFileThatCannotBePlayedIsReported)
{
    MainWindow window(*manager, *settings, *history);
    window.show();
    DownloadItem *item = addItem(u"https://video.example/1"_s, DownloadStatus::finished);
    item->setOutputFile(TestEnvironment::root() + u"/gone.mp4"_s);
    window.perform(Action::play, item);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return window.findChild<QMessageBox *>(u"playErrorAlert"_s); }));
    auto *alert = window.findChild<QMessageBox *>(u"playErrorAlert"_s);
    EXPECT_EQ(alert->windowTitle(), u"无法播放文件"_s);
    EXPECT_TRUE(alert->text().contains(u"gone.mp4"_s)) << alert->text().toStdString();
    ASSERT_EQ(alert->buttons().size(), 1);
    EXPECT_EQ(alert->buttons().first()->text(), u"关闭"_s);
}

TEST_F(WindowFixture, CardButtonsAnswerClicksAndKeys)
{
    MainWindow window(*manager, *settings, *history);
    window.resize(760, 560);
    window.show();
    DownloadItem *item = addItem(u"https://video.example/1"_s, DownloadStatus::downloading);
    item->setTitle(u"Clip"_s);
    DownloadListView *list = window.listView();
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return list->model()->rowCount() == 1; }));
    const QModelIndex index = list->model()->index(0, 0);
    const DownloadCardDelegate::Layout place = DownloadCardDelegate::layout(*item, list->visualRect(index), list->font());
    EXPECT_EQ(place.card.height(), DownloadCardDelegate::cardHeight);
    ASSERT_EQ(place.buttons.size(), 2);

    // The pause button: a click pauses the item.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::NoModifier, place.buttons.at(0).rect.center());
    EXPECT_EQ(item->status(), DownloadStatus::paused);
    // The keyboard: Space resumes the paused card, Delete cancels it (and it leaves the list).
    list->setCurrentIndex(index);
    list->setFocus();
    QTest::keyClick(list, Qt::Key_Space);
    EXPECT_EQ(item->status(), DownloadStatus::pending);
    QTest::keyClick(list, Qt::Key_Delete);
    EXPECT_TRUE(manager->items().isEmpty());
}

TEST_F(WindowFixture, KeysMapToTheOfferedButtons)
{
    DownloadItem *item = addItem(u"https://video.example/1"_s, DownloadStatus::pending);
    const struct
    {
        DownloadStatus status;
        bool withFile;
        int key;
        std::optional<Action> expected;
    } cases[] = {
        {DownloadStatus::downloading, false, Qt::Key_Space, Action::pause},
        {DownloadStatus::paused, false, Qt::Key_Space, Action::resume},
        {DownloadStatus::pending, false, Qt::Key_Space, std::nullopt},
        {DownloadStatus::pending, false, Qt::Key_Delete, Action::cancel},
        {DownloadStatus::finished, true, Qt::Key_Delete, Action::remove},
        {DownloadStatus::failed, false, Qt::Key_Backspace, Action::remove},
        {DownloadStatus::failed, false, Qt::Key_R, Action::retry},
        {DownloadStatus::downloading, false, Qt::Key_R, std::nullopt},
        {DownloadStatus::finished, true, Qt::Key_Return, Action::play},
        {DownloadStatus::finished, false, Qt::Key_Return, std::nullopt},
        {DownloadStatus::failed, false, Qt::Key_Return, Action::showDetails},
    };
    for (const auto &c : cases) {
        item->setStatus(c.status);
        item->setOutputFile(c.withFile ? std::optional(u"/tmp/out.mp4"_s) : std::nullopt);
        EXPECT_EQ(DownloadListView::keyAction(*item, c.key, Qt::NoModifier), c.expected)
            << rawString(c.status).toStdString() << " key " << c.key;
    }
}

TEST_F(WindowFixture, ContextMenuRunsItsEntries)
{
    MainWindow window(*manager, *settings, *history);
    DownloadItem *item = addItem(u"https://video.example/1"_s, DownloadStatus::failed);
    std::unique_ptr<QMenu> menu(window.contextMenuFor(item));
    QStringList texts;
    for (QAction *entry : menu->actions())
        texts.append(entry->isSeparator() ? u"|"_s : entry->text());
    EXPECT_EQ(texts, (QStringList{u"复制链接"_s, u"|"_s, u"重试"_s, u"|"_s, u"移除并清理临时文件"_s}));
    menu->actions().first()->trigger();
    EXPECT_EQ(QGuiApplication::clipboard()->text(), u"https://video.example/1"_s);
    menu->actions().at(2)->trigger();
    EXPECT_EQ(item->status(), DownloadStatus::pending);
}

TEST_F(WindowFixture, RowsHaveAccessibleTextAndButtonsTheirHelp)
{
    MainWindow window(*manager, *settings, *history);
    DownloadItem *item = addItem(u"https://video.example/1"_s, DownloadStatus::paused, u"Clip"_s);
    const QModelIndex index = window.filterModel()->index(0, 0);
    EXPECT_EQ(index.data(Qt::AccessibleTextRole).toString(), u"Clip, "_s + item->statusLine());
    for (const DownloadCard::Button &button : DownloadCard::headerButtons(*item))
        EXPECT_FALSE(button.help.isEmpty());
    EXPECT_EQ(DownloadCard::headerButtons(*item).first().help, u"继续"_s);
    EXPECT_EQ(window.findChild<QAction *>(u"addAction"_s)->toolTip(), u"添加下载链接"_s);
}
