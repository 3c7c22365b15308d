#include "KestroApp.h"

#include "agents/AgentBridge.h"
#include "app/AppClipboard.h"
#include "app/ExternalUrlHandler.h"
#include "app/HistoryWindow.h"
#include "app/MainWindow.h"
#include "platform/Bundle.h"
#include "queue/DownloadManager.h"
#include "shared/BrowserBridge.h"
#include "shared/L10n.h"
#include "store/AppSettings.h"

#include <QAction>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>

using namespace Qt::StringLiterals;

KestroApp::KestroApp(DownloadManager &manager, AppSettings &settings, HistoryStore &history, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
    , m_settings(settings)
    , m_history(history)
    , m_bundlePath(Bundle::main().path())
    , m_clipboard(std::make_unique<AppClipboard>())
    , m_mainWindow(std::make_unique<MainWindow>(manager, settings, history))
{
    m_manager.setClipboard(m_clipboard.get());
    buildMenus();
    connect(m_mainWindow.get(), &MainWindow::shown, this, &KestroApp::runStartupTask);
    connect(m_mainWindow.get(), &MainWindow::historyRequested, this, &KestroApp::openHistory);
    connect(&m_settings, &AppSettings::changed, this, &KestroApp::translateMenus);
}

KestroApp::~KestroApp()
{
    m_manager.setClipboardWatch(false);
    m_manager.setClipboard(nullptr);
    delete m_historyWindow;
}

HistoryWindow *KestroApp::historyWindow() const
{
    return m_historyWindow;
}

QMessageBox *KestroApp::invalidLinkAlert() const
{
    return m_invalidLinkAlert;
}

QMessageBox *KestroApp::connectionAlert() const
{
    return m_connectionAlert;
}

void KestroApp::buildMenus()
{
    QMenuBar *bar = m_mainWindow->menuBar();
    m_editMenu = bar->addMenu(QString());
    m_pasteAction = m_editMenu->addAction(QString(), this, &KestroApp::pasteAndDownload);
    m_pasteAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_V));

    m_viewMenu = bar->addMenu(QString());
    m_pauseAction = m_viewMenu->addAction(QString(), this, &KestroApp::togglePauseAll);
    m_pauseAction->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_P));
    connect(m_viewMenu, &QMenu::aboutToShow, this, &KestroApp::updatePauseTitle);

    m_windowMenu = bar->addMenu(QString());
    m_historyAction = m_windowMenu->addAction(QString(), this, &KestroApp::openHistory);
    m_historyAction->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Y));
    translateMenus();
}

void KestroApp::translateMenus()
{
    m_editMenu->setTitle(L10n::tr(u"编辑"_s));
    m_viewMenu->setTitle(L10n::tr(u"显示"_s));
    m_windowMenu->setTitle(L10n::tr(u"窗口"_s));
    m_pasteAction->setText(L10n::tr(u"粘贴链接并下载"_s));
    m_historyAction->setText(L10n::tr(u"历史记录"_s));
    updatePauseTitle();
}

void KestroApp::updatePauseTitle()
{
    m_pauseAction->setText(m_manager.isPaused() ? L10n::tr(u"全部继续"_s) : L10n::tr(u"全部暂停"_s));
}

void KestroApp::showMainWindow(bool background)
{
    if (background) {
        m_mainWindow->setAttribute(Qt::WA_ShowWithoutActivating, true);
        m_mainWindow->show();
        m_mainWindow->setAttribute(Qt::WA_ShowWithoutActivating, false);
        return;
    }
    activate();
}

void KestroApp::activate()
{
    ++m_activations;
    m_mainWindow->setWindowState(m_mainWindow->windowState() & ~Qt::WindowMinimized);
    m_mainWindow->show();
    m_mainWindow->raise();
    m_mainWindow->activateWindow();
}

void KestroApp::handle(const InstanceRequest &request)
{
    for (const QString &url : request.urls)
        openURL(url, request.background);
    // A start without links only asks for the window.
    if (request.urls.isEmpty() && !request.background)
        activate();
}

void KestroApp::openURL(const QString &url, bool background)
{
    const ExternalUrlHandler::Outcome outcome = ExternalUrlHandler::handle(url, m_manager, m_bundlePath, BrowserBridge::inbox());
    if (outcome.invalidLink)
        showInvalidLinkAlert();
    if (outcome.connectionMessage)
        showConnectionAlert(*outcome.connectionMessage);
    if (outcome.activate && !background)
        activate();
}

void KestroApp::pasteAndDownload()
{
    const std::optional<QString> text = m_clipboard->text();
    if (!text)
        return;
    // Every piece goes to the queue, blank ones too: the queue decides what is a link.
    m_manager.add(text->split(u'\n'));
}

void KestroApp::togglePauseAll()
{
    if (m_manager.isPaused())
        m_manager.resumeAll();
    else
        m_manager.pauseAll();
}

void KestroApp::openHistory()
{
    if (!m_historyWindow) {
        m_historyWindow = new HistoryWindow(m_manager, m_settings, m_history);
        m_historyWindow->setAttribute(Qt::WA_DeleteOnClose);
        m_historyWindow->addAction(m_historyAction);
    }
    m_historyWindow->show();
    m_historyWindow->raise();
    m_historyWindow->activateWindow();
}

void KestroApp::runStartupTask()
{
    BrowserBridge::cleanInbox();
    try {
        if (!m_bundlePath.isEmpty())
            BrowserBridge::registerHost(std::nullopt, m_bundlePath);
    } catch (...) {
        // The connect URL reports a failed registration; at start-up nobody asked.
    }
    AgentBridge::start(m_manager);
}

QMessageBox *KestroApp::makeAlert(const QString &title, const QString &message)
{
    auto *box = new QMessageBox(m_mainWindow.get());
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->setWindowTitle(title);
    box->setText(title);
    box->setInformativeText(message);
    box->addButton(L10n::tr(u"好"_s), QMessageBox::RejectRole);
    return box;
}

void KestroApp::showInvalidLinkAlert()
{
    m_invalidBrowserLink = true;
    if (m_invalidLinkAlert)
        return;
    m_invalidLinkAlert = makeAlert(L10n::tr(u"无法添加浏览器链接"_s), L10n::tr(u"请从扩展发送有效的 HTTP 或 HTTPS 网页链接。"_s));
    // A closed box is deleted later; the next invalid link must get a box of its own.
    connect(m_invalidLinkAlert, &QMessageBox::finished, this, [this] {
        m_invalidBrowserLink = false;
        m_invalidLinkAlert = nullptr;
    });
    m_invalidLinkAlert->open();
}

void KestroApp::showConnectionAlert(const QString &message)
{
    m_browserConnectionMessage = message;
    if (m_connectionAlert) {
        m_connectionAlert->setInformativeText(message);
        return;
    }
    m_connectionAlert = makeAlert(L10n::tr(u"浏览器连接"_s), message);
    connect(m_connectionAlert, &QMessageBox::finished, this, [this] {
        m_browserConnectionMessage.reset();
        m_connectionAlert = nullptr;
    });
    m_connectionAlert->open();
}
