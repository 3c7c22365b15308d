#include "MainWindow.h"

#include "AddDownloadDialog.h"
#include "DownloadCardDelegate.h"
#include "DownloadFilterModel.h"
#include "DownloadListModel.h"
#include "DownloadListView.h"
#include "DropOutline.h"
#include "EmptyStateView.h"
#include "FailureDetailsDialog.h"
#include "SymbolIcon.h"
#include "ThumbnailCache.h"
#include "platform/Workspace.h"
#include "queue/DownloadManager.h"
#include "shared/L10n.h"
#include "store/AppSettings.h"
#include "updates/UpdateManager.h"

#include <QAction>
#include <QClipboard>
#include <QDragEnterEvent>
#include <QFrame>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QStackedWidget>
#include <QStringDecoder>
#include <QToolBar>
#include <QVBoxLayout>

#include <algorithm>

using namespace Qt::StringLiterals;
using DownloadCard::Action;

namespace {

constexpr int refreshDelayMs = 50;

QString decodeUtf8(const QByteArray &bytes, bool *ok)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    *ok = !decoder.hasError();
    return text;
}

} // namespace

MainWindow::MainWindow(DownloadManager &manager, AppSettings &settings, HistoryStore &history, QWidget *parent)
    : QMainWindow(parent)
    , m_manager(manager)
    , m_settings(settings)
    , m_history(history)
    , m_thumbnails(ThumbnailCache::shared())
    , m_model(new DownloadListModel(manager, this))
    , m_filter(new DownloadFilterModel(this))
    , m_delegate(nullptr)
    , m_list(nullptr)
    , m_empty(nullptr)
    , m_stack(nullptr)
    , m_dropOutline(nullptr)
{
    setObjectName(u"mainWindow"_s);
    setWindowTitle(u"Brisvane Download"_s);
    resize(760, 560);
    setMinimumSize(640, 420);
    setAcceptDrops(true);
    setUnifiedTitleAndToolBarOnMac(true);

    auto *central = new QWidget(this);
    auto *column = new QVBoxLayout(central);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(buildUpdateBar());

    m_stack = new QStackedWidget(central);
    m_empty = new EmptyStateView(m_stack);
    m_list = new DownloadListView(m_stack);
    m_list->setObjectName(u"downloadList"_s);
    m_filter->setSourceModel(m_model);
    m_list->setModel(m_filter);
    m_delegate = new DownloadCardDelegate(m_thumbnails, m_list);
    m_list->setItemDelegate(m_delegate);
    m_stack->addWidget(m_empty);
    m_stack->addWidget(m_list);
    column->addWidget(m_stack, 1);
    setCentralWidget(central);

    m_dropOutline = new DropOutline(m_stack);
    m_dropOutline->hide();
    buildEngineBanner();
    m_stack->installEventFilter(this);

    buildToolbar();

    connect(m_empty, &EmptyStateView::pasteRequested, this, &MainWindow::pasteFromClipboard);
    connect(m_empty, &EmptyStateView::addRequested, this, &MainWindow::showAddSheet);
    connect(m_delegate, &DownloadCardDelegate::actionTriggered, this, &MainWindow::perform);
    connect(m_list, &DownloadListView::actionRequested, this, &MainWindow::perform);
    connect(m_list, &DownloadListView::contextMenuRequested, this, [this](DownloadItem *item, const QPoint &global) {
        QMenu *menu = contextMenuFor(item);
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(global);
    });
    connect(&m_thumbnails, &ThumbnailCache::ready, m_list->viewport(), qOverload<>(&QWidget::update));

    m_refreshTimer.setSingleShot(true);
    m_refreshTimer.setInterval(refreshDelayMs);
    connect(&m_refreshTimer, &QTimer::timeout, this, &MainWindow::refresh);
    connect(&m_manager, &DownloadManager::changed, this, &MainWindow::scheduleRefresh);
    // Adding or removing items changes what the window shows at once.
    connect(&m_manager, &DownloadManager::itemsChanged, this, &MainWindow::refresh);
    // Queued: the settings announce a change before they store the new value.
    connect(&m_settings, &AppSettings::changed, this, [this] {
        if (m_settings.language() != m_language)
            retranslate();
        // Only once the window has been shown does it decide about the watch.
        if (m_watchClipboard && *m_watchClipboard != m_settings.watchClipboard()) {
            m_watchClipboard = m_settings.watchClipboard();
            m_manager.setClipboardWatch(*m_watchClipboard);
        }
    }, Qt::QueuedConnection);

    m_language = m_settings.language();
    updateIcons();
    retranslate();
    refresh();
}

MainWindow::~MainWindow() = default;

void MainWindow::setUpdateManager(UpdateManager *updates)
{
    if (m_updates)
        disconnect(m_updates, nullptr, this, nullptr);
    m_updates = updates;
    if (m_updates)
        connect(m_updates, &UpdateManager::changed, this, &MainWindow::refreshUpdates);
    refreshUpdates();
}

void MainWindow::buildToolbar()
{
    auto *toolbar = addToolBar(QString());
    toolbar->setObjectName(u"mainToolbar"_s);
    toolbar->setMovable(false);
    toolbar->setFloatable(false);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar->setIconSize(QSize(18, 18));
    toolbar->toggleViewAction()->setEnabled(false);
    setContextMenuPolicy(Qt::NoContextMenu);

    m_pasteAction = toolbar->addAction(QString(), this, &MainWindow::pasteFromClipboard);
    m_pasteAction->setObjectName(u"pasteAction"_s);
    m_addAction = toolbar->addAction(QString(), this, &MainWindow::showAddSheet);
    m_addAction->setObjectName(u"addAction"_s);
    m_pauseAllAction = toolbar->addAction(QString(), this, [this] {
        if (m_manager.isPaused())
            m_manager.resumeAll();
        else
            m_manager.pauseAll();
        refresh();
    });
    m_pauseAllAction->setObjectName(u"pauseAllAction"_s);
    m_clearAction = toolbar->addAction(QString(), this, [this] { m_manager.clearFinished(); });
    m_clearAction->setObjectName(u"clearFinishedAction"_s);
    m_historyAction = toolbar->addAction(QString(), this, &MainWindow::historyRequested);
    m_historyAction->setObjectName(u"historyAction"_s);

    auto *spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    m_search = new QLineEdit(toolbar);
    m_search->setObjectName(u"searchField"_s);
    m_search->setClearButtonEnabled(true);
    m_search->setMinimumWidth(160);
    m_search->setMaximumWidth(240);
    toolbar->addWidget(m_search);
    connect(m_search, &QLineEdit::textChanged, this, [this](const QString &text) { m_filter->setSearchText(text); });
}

QWidget *MainWindow::buildUpdateBar()
{
    m_updateBar = new QFrame(this);
    m_updateBar->setObjectName(u"updateBar"_s);
    m_updateBar->setAutoFillBackground(true);
    m_updateBar->setBackgroundRole(QPalette::AlternateBase);
    auto *row = new QHBoxLayout(m_updateBar);
    row->setContentsMargins(10, 10, 10, 10);
    row->setSpacing(6);
    m_updateIcon = new QLabel(m_updateBar);
    m_updateText = new QLabel(m_updateBar);
    m_updateButton = new QPushButton(m_updateBar);
    m_updateButton->setObjectName(u"updateDownloadButton"_s);
    row->addWidget(m_updateIcon);
    row->addWidget(m_updateText);
    row->addStretch();
    row->addWidget(m_updateButton);
    connect(m_updateButton, &QPushButton::clicked, this, [this] {
        if (m_updates)
            m_updates->downloadCompatible();
    });
    m_updateBar->hide();
    return m_updateBar;
}

QWidget *MainWindow::buildEngineBanner()
{
    m_engineBanner = new QFrame(m_stack);
    m_engineBanner->setObjectName(u"engineBanner"_s);
    m_engineBanner->setAutoFillBackground(true);
    m_engineBanner->setBackgroundRole(QPalette::ToolTipBase);
    m_engineBanner->setForegroundRole(QPalette::ToolTipText);
    auto *row = new QHBoxLayout(m_engineBanner);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(10);
    m_engineIcon = new QLabel(m_engineBanner);
    m_engineText = new QLabel(m_engineBanner);
    m_engineText->setWordWrap(true);
    m_engineButton = new QPushButton(m_engineBanner);
    m_engineButton->setObjectName(u"engineRetryButton"_s);
    row->addWidget(m_engineIcon);
    row->addWidget(m_engineText, 1);
    row->addWidget(m_engineButton);
    connect(m_engineButton, &QPushButton::clicked, this, [this] { m_manager.reloadEngine(); });
    m_engineBanner->hide();
    return m_engineBanner;
}

void MainWindow::retranslate()
{
    m_language = m_settings.language();
    m_pasteAction->setText(L10n::tr(u"粘贴下载"_s));
    m_pasteAction->setToolTip(L10n::tr(u"粘贴剪贴板链接并下载 (Ctrl+Shift+V)"_s));
    m_addAction->setText(L10n::tr(u"添加链接"_s));
    m_addAction->setToolTip(L10n::tr(u"添加下载链接"_s));
    m_clearAction->setText(L10n::tr(u"清除已完成"_s));
    m_clearAction->setToolTip(m_clearAction->text());
    m_historyAction->setText(L10n::tr(u"历史记录"_s));
    m_historyAction->setToolTip(m_historyAction->text());
    m_search->setPlaceholderText(L10n::tr(u"搜索下载"_s));
    m_search->setAccessibleName(L10n::tr(u"搜索下载"_s));
    m_updateButton->setText(L10n::tr(u"下载安装包"_s));
    m_engineButton->setText(L10n::tr(u"重新检测"_s));
    m_empty->retranslate();
    refresh();
    refreshUpdates();
    m_list->viewport()->update();
}

void MainWindow::updateIcons()
{
    const QPalette &colors = palette();
    m_pasteAction->setIcon(SymbolIcon::icon(u"doc.on.clipboard"_s, colors));
    m_addAction->setIcon(SymbolIcon::icon(u"plus"_s, colors));
    m_clearAction->setIcon(SymbolIcon::icon(u"trash"_s, colors));
    m_historyAction->setIcon(SymbolIcon::icon(u"clock.arrow.circlepath"_s, colors));
    m_updateIcon->setPixmap(SymbolIcon::icon(u"arrow.down.circle"_s, colors).pixmap(16, 16));
    m_engineIcon->setPixmap(SymbolIcon::pixmap(u"exclamationmark.triangle.fill"_s, 18, QColor(255, 204, 0),
                                               QColor(40, 40, 40), devicePixelRatioF()));
    refresh();
}

void MainWindow::changeEvent(QEvent *event)
{
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_pasteAction)
        updateIcons();
}

void MainWindow::scheduleRefresh()
{
    if (!m_refreshTimer.isActive())
        m_refreshTimer.start();
}

void MainWindow::refresh()
{
    m_refreshTimer.stop();
    if (!m_pauseAllAction)
        return;
    const QList<DownloadItem *> &items = m_manager.items();
    const bool paused = m_manager.isPaused();
    m_pauseAllAction->setText(paused ? L10n::tr(u"全部继续"_s) : L10n::tr(u"全部暂停"_s));
    m_pauseAllAction->setToolTip(m_pauseAllAction->text());
    m_pauseAllAction->setIcon(SymbolIcon::icon(paused ? u"play.fill"_s : u"pause.fill"_s, palette()));
    m_pauseAllAction->setEnabled(!items.isEmpty());
    m_clearAction->setEnabled(std::any_of(items.cbegin(), items.cend(), [](const DownloadItem *item) {
        const DownloadStatus status = item->status();
        return status == DownloadStatus::finished || status == DownloadStatus::failed || status == DownloadStatus::canceled;
    }));
    m_stack->setCurrentWidget(items.isEmpty() ? static_cast<QWidget *>(m_empty) : m_list);

    const std::optional<QString> engineError = m_manager.engineError();
    m_engineText->setText(engineError ? *engineError : L10n::tr(u"正在检查内置下载组件…"_s));
    if (engineError.has_value() != m_engineBanner->isVisible()) {
        m_engineBanner->setVisible(engineError.has_value());
        placeOverlays();
    }
    if (m_manager.cleanupError() && !m_cleanupAlert)
        showCleanupAlert();
}

void MainWindow::refreshUpdates()
{
    const std::optional<UpdateRelease> release = m_updates ? m_updates->compatible() : std::nullopt;
    m_updateBar->setVisible(release.has_value());
    if (release)
        m_updateText->setText(L10n::tr(u"Brisvane Download %@ 更新可用"_s, release->version));
    m_updateButton->setEnabled(m_updates && !m_updates->busy());
}

void MainWindow::placeOverlays()
{
    const QRect area = m_stack->rect();
    m_dropOutline->setGeometry(area);
    if (m_engineBanner->isVisible()) {
        const int margin = 16;
        const int width = area.width() - 2 * margin;
        const int height = m_engineBanner->heightForWidth(width) > 0 ? m_engineBanner->heightForWidth(width)
                                                                     : m_engineBanner->sizeHint().height();
        m_engineBanner->setGeometry(margin, area.height() - margin - height, width, height);
        m_engineBanner->raise();
    }
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_stack && (event->type() == QEvent::Resize || event->type() == QEvent::Show))
        placeOverlays();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    placeOverlays();
    m_watchClipboard = m_settings.watchClipboard();
    m_manager.setClipboardWatch(*m_watchClipboard);
    if (!m_launchCheckDone) {
        m_launchCheckDone = true;
        runLaunchCheck();
    }
    Q_EMIT shown();
}

void MainWindow::runLaunchCheck()
{
    if (!m_updates)
        setUpdateManager(&UpdateManager::shared());
    QPointer<MainWindow> self(this);
    m_updates->checkOnLaunch([self](bool found) {
        if (self && found)
            self->showUpdateAlert();
    });
}

// ---- adding links ---------------------------------------------------------------------------

void MainWindow::pasteFromClipboard()
{
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (!data || !data->hasText())
        return;
    m_manager.add(data->text().split(u'\n'));
}

void MainWindow::showAddSheet()
{
    auto *dialog = new AddDownloadDialog(m_manager, m_settings, this);
    dialog->open();
}

QList<QStringList> MainWindow::dropBatches(const QMimeData &data)
{
    QList<QStringList> batches;
    QStringList urlTexts;
    for (const QUrl &url : data.urls()) {
        if (!url.isValid())
            continue;
        urlTexts.append(url.toString(QUrl::FullyEncoded));
        batches.append({urlTexts.last()});
    }
    QString text;
    bool haveText = false;
    if (data.hasFormat(u"text/plain"_s)) {
        text = decodeUtf8(data.data(u"text/plain"_s), &haveText);
    } else if (data.hasText()) {
        text = data.text();
        haveText = true;
    }
    if (haveText) {
        // Browsers put a dragged link both as a URL and as text; the same link is added once.
        QStringList lines = text.split(u'\n');
        if (!urlTexts.isEmpty()) {
            lines.removeIf([&](const QString &line) {
                const QString trimmed = line.trimmed();
                return trimmed.isEmpty() || urlTexts.contains(trimmed)
                    || urlTexts.contains(QUrl(trimmed).toString(QUrl::FullyEncoded));
            });
        }
        if (!lines.isEmpty())
            batches.append(lines);
    }
    return batches;
}

void MainWindow::handleDrop(const QMimeData &data)
{
    for (const QStringList &batch : dropBatches(data))
        m_manager.add(batch);
}

void MainWindow::setDropTargeted(bool targeted)
{
    m_dropTargeted = targeted;
    m_empty->setDropTargeted(targeted);
    m_dropOutline->setVisible(targeted && m_stack->currentWidget() == m_list);
    if (m_dropOutline->isVisible())
        m_dropOutline->raise();
}

void MainWindow::dragEnterEvent(QDragEnterEvent *event)
{
    if (event->mimeData()->hasUrls() || event->mimeData()->hasText()) {
        event->acceptProposedAction();
        setDropTargeted(true);
    }
}

void MainWindow::dragMoveEvent(QDragMoveEvent *event)
{
    event->acceptProposedAction();
}

void MainWindow::dragLeaveEvent(QDragLeaveEvent *)
{
    setDropTargeted(false);
}

void MainWindow::dropEvent(QDropEvent *event)
{
    setDropTargeted(false);
    event->acceptProposedAction();
    handleDrop(*event->mimeData());
}

// ---- card actions ---------------------------------------------------------------------------

void MainWindow::perform(Action action, DownloadItem *item)
{
    if (!item || !m_manager.items().contains(item))
        return;
    switch (action) {
    case Action::pause:
        m_manager.pause(item);
        break;
    case Action::resume:
        m_manager.resume(item);
        break;
    case Action::cancel:
        m_manager.cancel(item);
        break;
    case Action::retry:
        m_manager.retry(item);
        break;
    case Action::remove:
        m_manager.remove(item);
        break;
    case Action::showDetails: {
        auto *dialog = new FailureDetailsDialog(*item, this);
        dialog->open();
        break;
    }
    case Action::play:
        if (item->outputFile())
            play(*item->outputFile());
        break;
    case Action::reveal:
        if (item->outputFile())
            Workspace::reveal(*item->outputFile(), this, [](std::optional<QString>) {});
        break;
    case Action::copyLink: {
        QClipboard *clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(item->url());
        break;
    }
    }
}

QMenu *MainWindow::contextMenuFor(DownloadItem *item)
{
    auto *menu = new QMenu(this);
    menu->setObjectName(u"cardMenu"_s);
    QPointer<DownloadItem> target(item);
    for (const DownloadCard::MenuEntry &entry : DownloadCard::menuEntries(*item)) {
        if (entry.separatorBefore)
            menu->addSeparator();
        QAction *action = menu->addAction(entry.text, this, [this, target, which = entry.action] {
            if (target)
                perform(which, target.data());
        });
        if (entry.destructive)
            action->setProperty("destructive", true);
    }
    return menu;
}

void MainWindow::play(const QString &path)
{
    QPointer<MainWindow> self(this);
    m_settings.play(path, this, [self](std::optional<QString> error) {
        if (!self || !error)
            return;
        auto *alert = new QMessageBox(QMessageBox::Warning, L10n::tr(u"无法播放文件"_s), *error, QMessageBox::NoButton, self);
        alert->setObjectName(u"playErrorAlert"_s);
        alert->addButton(L10n::tr(u"关闭"_s), QMessageBox::RejectRole);
        alert->setWindowModality(Qt::WindowModal);
        alert->setAttribute(Qt::WA_DeleteOnClose);
        alert->open();
    });
}

void MainWindow::showCleanupAlert()
{
    auto *alert = new QMessageBox(QMessageBox::Warning, L10n::tr(u"临时文件未能清理"_s),
                                  m_manager.cleanupError().value_or(QString()), QMessageBox::NoButton, this);
    alert->setObjectName(u"cleanupAlert"_s);
    alert->addButton(L10n::tr(u"好"_s), QMessageBox::AcceptRole);
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    // Closing it any way counts as seen.
    connect(alert, &QMessageBox::finished, this, [this] { m_manager.dismissCleanupError(); });
    m_cleanupAlert = alert;
    alert->open();
}

void MainWindow::showUpdateAlert()
{
    if (m_updateAlert)
        return;
    const std::optional<UpdateRelease> release = m_updates ? m_updates->compatible() : std::nullopt;
    const QString title = release ? L10n::tr(u"Brisvane Download %@ 更新可用"_s, release->version) : L10n::tr(u"更新"_s);
    auto *alert = new QMessageBox(QMessageBox::Information, title, L10n::tr(u"下载完成后，请运行安装包完成更新。"_s),
                                  QMessageBox::NoButton, this);
    alert->setObjectName(u"updateAlert"_s);
    alert->addButton(L10n::tr(u"稍后"_s), QMessageBox::RejectRole);
    if (release) {
        QPushButton *download = alert->addButton(L10n::tr(u"下载安装包"_s), QMessageBox::AcceptRole);
        QPointer<UpdateManager> updates(m_updates);
        connect(download, &QPushButton::clicked, this, [updates] {
            if (updates)
                updates->downloadCompatible();
        });
    }
    alert->setWindowModality(Qt::WindowModal);
    alert->setAttribute(Qt::WA_DeleteOnClose);
    m_updateAlert = alert;
    alert->open();
}
