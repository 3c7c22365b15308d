#include "ShellFixture.h"

#include "agents/AgentBridge.h"
#include "platform/Paths.h"
#include "platform/Preferences.h"
#include "shared/L10n.h"
#include "app/HistoryWindow.h"
#include "app/MainWindow.h"
#include "shared/BrowserBridge.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QUrl>

#include <functional>
#include <sys/stat.h>
#include <utime.h>

using namespace Qt::StringLiterals;

namespace {

const QString extension = u"abcdefghijklmnopabcdefghijklmnop"_s;

QString percent(const QString &text)
{
    return QString::fromLatin1(QUrl::toPercentEncoding(text));
}

QByteArray transferFor(const QString &url)
{
    return u"{\"url\":\"%1\",\"page\":\"%1/page\",\"title\":\"From the browser\",\"session\":{\"cookies\":[{\"name\":\"sid\","
           "\"value\":\"cookie-value-42\",\"domain\":\"127.0.0.1\",\"path\":\"/\",\"secure\":false,\"hostOnly\":true}],"
           "\"requests\":[]}}"_s.arg(url).toUtf8();
}

} // namespace

// Each URL in turn, as another program opens it with the application.
TEST_F(ShellFixture, OpenedURLsConnectImportOrDownload)
{
    const QString link = server.url(u"/media/clip.mp4"_s);
    const QString failedConnect = L10n::tr(u"无法注册浏览器连接，请检查浏览器安装目录权限。"_s);
    const QString connected = L10n::tr(u"已连接。请回到扩展，点击下载。"_s);
    QString importURL;
    struct Case
    {
        const char *name;
        std::function<QString()> url;
        bool invalid;
        std::optional<QString> message;
        int added;
        std::function<void()> check = [] {};
    };
    const QString manifest = Paths::configHome() + u"/chromium/NativeMessagingHosts/dev.kestro.bridge.json"_s;
    const Case cases[] = {
        {"connect without any browser", []() -> QString { return u"kestro://connect?extension="_s + extension; }, false, failedConnect, 0},
        {"connect", [&]() -> QString {
             QDir().mkpath(Paths::configHome() + u"/chromium"_s);
             return u"kestro://connect?extension="_s + extension;
         }, false, connected, 0, [&] { EXPECT_TRUE(QFileInfo::exists(manifest)); }},
        {"connect with 31 letters", []() -> QString { return u"kestro://connect?extension="_s + extension.left(31); }, true, {}, 0},
        {"connect with a letter after p", []() -> QString { return u"kestro://connect?extension=q"_s + extension.mid(1); }, true, {}, 0},
        {"import", [&]() -> QString {
             importURL = u"kestro://import?id="_s
                 + BrowserBridge::store(transferFor(link)).toString(QUuid::WithoutBraces).toUpper();
             return importURL;
         }, false, {}, 1, [&] {
             const DownloadItem *item = manager->items().first();
             EXPECT_EQ(item->url(), link);
             EXPECT_EQ(item->title(), u"From the browser"_s);
             EXPECT_FALSE(item->browserReferer());
             ASSERT_TRUE(item->browserSession());
             EXPECT_EQ(item->browserSession()->cookies.first().value, u"cookie-value-42"_s);
         }},
        {"import taken already", [&]() -> QString { return importURL; }, true, {}, 0},
        {"import of nothing", []() -> QString { return u"kestro://import?id="_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper(); },
         true, {}, 0},
        {"download", [&]() -> QString {
             return u"kestro://download?url="_s + percent(link) + u"&referer="_s + percent(server.url(u"/page#top"_s))
                 + u"&title=Clip"_s;
         }, false, {}, 1, [&] {
             const DownloadItem *item = manager->items().first();
             EXPECT_EQ(item->url(), link);
             EXPECT_EQ(item->browserReferer(), server.url(u"/page"_s));
             EXPECT_EQ(item->title(), u"Clip"_s);
             EXPECT_FALSE(item->browserSession());
         }},
        {"download of a file link", []() -> QString { return u"kestro://download?url="_s + percent(u"file:///etc/passwd"_s); }, true, {}, 0},
        {"another host", []() -> QString { return u"kestro://other?url=x"_s; }, true, {}, 0},
        {"not ours", [&]() -> QString { return link; }, true, {}, 0},
    };
    shell->showMainWindow(true);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const qsizetype before = manager->items().size();
        const int activations = shell->activations();
        shell->openURL(c.url());
        EXPECT_EQ(manager->items().size() - before, c.added);
        EXPECT_EQ(shell->invalidBrowserLink(), c.invalid);
        EXPECT_EQ(shell->browserConnectionMessage(), c.message);
        // Only an invalid link leaves the application where it was.
        EXPECT_EQ(shell->activations() - activations, c.invalid ? 0 : 1);
        c.check();
        QMessageBox *alert = c.invalid ? shell->invalidLinkAlert() : c.message ? shell->connectionAlert() : nullptr;
        if (alert) {
            EXPECT_TRUE(alert->isVisible());
            EXPECT_EQ(alert->windowModality(), Qt::WindowModal);
            ASSERT_EQ(alert->buttons().size(), 1);
            alert->buttons().first()->click();
        }
        EXPECT_FALSE(shell->invalidBrowserLink());
        EXPECT_FALSE(shell->browserConnectionMessage());
    }
}

TEST_F(ShellFixture, BackgroundRequestsAddWithoutRaising)
{
    const QString url = u"kestro://download?url="_s + percent(server.url(u"/media/a.mp4"_s));
    shell->handle({{url, u"kestro://nonsense"_s}, true});
    EXPECT_EQ(manager->items().size(), 1);
    EXPECT_TRUE(shell->invalidBrowserLink());
    shell->handle({{}, true});
    EXPECT_EQ(shell->activations(), 0);
    // A plain second start without links only brings the window forward.
    shell->handle({{}, false});
    EXPECT_EQ(shell->activations(), 1);
    EXPECT_TRUE(shell->mainWindow().isVisible());
}

TEST_F(ShellFixture, PasteHandsEveryLineToTheQueue)
{
    QClipboard *clipboard = QGuiApplication::clipboard();
    const QString first = server.url(u"/media/one.mp4"_s);
    const QString second = server.url(u"/media/two.mp4"_s);
    struct Case
    {
        const char *name;
        std::function<void()> fill;
        QStringList expected; // the queue, newest first
    } cases[] = {
        {"nothing", [&] { clipboard->clear(); }, {}},
        {"an image", [&] {
             QImage image(4, 4, QImage::Format_RGB32);
             image.fill(Qt::red);
             clipboard->setImage(image);
         }, {}},
        {"three lines, one blank", [&] { clipboard->setText(first + u"\n\n"_s + second + u"\r"_s); }, {second, first}},
        {"not a link", [&] { clipboard->setText(u"hello"_s); }, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        while (!manager->items().isEmpty())
            manager->remove(manager->items().first());
        c.fill();
        shell->pasteAction()->trigger();
        QStringList urls;
        for (const DownloadItem *item : manager->items())
            urls.append(item->url());
        EXPECT_EQ(urls, c.expected);
    }
}

TEST_F(ShellFixture, PauseCommandFollowsTheQueueWhenTheMenuOpens)
{
    QAction *action = shell->pauseAction();
    EXPECT_EQ(action->shortcut(), QKeySequence(u"Ctrl+Shift+P"_s));
    EXPECT_EQ(shell->pasteAction()->shortcut(), QKeySequence(u"Ctrl+Shift+V"_s));
    EXPECT_EQ(shell->historyAction()->shortcut(), QKeySequence(u"Ctrl+Y"_s));
    for (const bool paused : {false, true, false}) {
        SCOPED_TRACE(paused);
        Q_EMIT shell->viewMenu()->aboutToShow();
        EXPECT_EQ(action->text(), paused ? L10n::tr(u"全部继续"_s) : L10n::tr(u"全部暂停"_s));
        action->trigger();
        EXPECT_EQ(manager->isPaused(), !paused);
    }
}

TEST_F(ShellFixture, HistoryWindowIsOpenedOnce)
{
    shell->openHistory();
    QPointer<HistoryWindow> first = shell->historyWindow();
    ASSERT_TRUE(first);
    Q_EMIT shell->mainWindow().historyRequested();
    EXPECT_EQ(shell->historyWindow(), first);
    EXPECT_TRUE(first->isVisible());
    first->close();
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return first.isNull(); }));
    shell->historyAction()->trigger();
    EXPECT_TRUE(shell->historyWindow() && shell->historyWindow()->isVisible());
}

TEST_F(ShellFixture, ShowingTheWindowCleansTheInboxRegistersAndAnswersAgents)
{
    const QUuid stale = BrowserBridge::store(transferFor(server.url(u"/media/old.mp4"_s)));
    const QString stalePath = BrowserBridge::inboxFile(stale);
    const struct utimbuf old{::time(nullptr) - 600, ::time(nullptr) - 600};
    ASSERT_EQ(::utime(QFile::encodeName(stalePath).constData(), &old), 0);
    const QUuid fresh = BrowserBridge::store(transferFor(server.url(u"/media/new.mp4"_s)));
    QDir().mkpath(Paths::configHome() + u"/chromium"_s);
    Preferences().set(QString::fromUtf16(BrowserBridge::extensionIDsKey), QStringList{extension});

    shell->showMainWindow(true);
    EXPECT_FALSE(QFileInfo::exists(stalePath));
    EXPECT_TRUE(QFileInfo::exists(BrowserBridge::inboxFile(fresh)));
    QFile manifest(Paths::configHome() + u"/chromium/NativeMessagingHosts/dev.kestro.bridge.json"_s);
    ASSERT_TRUE(manifest.open(QIODevice::ReadOnly));
    EXPECT_TRUE(manifest.readAll().contains(QFile::encodeName(bundle + u"/Contents/Helpers/KestroBridge"_s)));
    EXPECT_NE(AgentBridge::worker(), nullptr);
    EXPECT_EQ(shell->activations(), 0);
}
