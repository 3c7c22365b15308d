#include "HistoryWindow.h"

#include "HistoryFilterModel.h"
#include "HistoryListModel.h"
#include "SymbolIcon.h"
#include "ThumbnailCache.h"
#include "platform/Workspace.h"
#include "queue/DownloadManager.h"
#include "shared/L10n.h"
#include "store/AppSettings.h"
#include "store/HistoryStore.h"

#include <QAction>
#include <QClipboard>
#include <QEvent>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QMenu>
#include <QStackedWidget>
#include <QToolBar>
#include <QUuid>
#include <QVBoxLayout>

using namespace Qt::StringLiterals;

HistoryWindow::HistoryWindow(DownloadManager &manager, AppSettings &settings, HistoryStore &history, QWidget *parent)
    : QWidget(parent, Qt::Window)
    , m_manager(manager)
    , m_settings(settings)
    , m_history(history)
    , m_model(new HistoryListModel(history, this))
    , m_filter(new HistoryFilterModel(this))
    , m_delegate(new HistoryRowDelegate(ThumbnailCache::shared(), this))
    , m_list(new QListView(this))
    , m_stack(new QStackedWidget(this))
    , m_placeholder(new QWidget(this))
    , m_placeholderIcon(new QLabel(m_placeholder))
    , m_placeholderTitle(new QLabel(m_placeholder))
    , m_placeholderText(new QLabel(m_placeholder))
    , m_search(new QLineEdit(this))
    , m_clear(nullptr)
{
    setObjectName(u"historyWindow"_s);
    resize(680, 520);
    setMinimumSize(560, 380);

    auto *toolbar = new QToolBar(this);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    toolbar->setIconSize(QSize(18, 18));
    m_search->setObjectName(u"historySearchField"_s);
    m_search->setClearButtonEnabled(true);
    m_search->setMaximumWidth(260);
    toolbar->addWidget(m_search);
    auto *spacer = new QWidget(toolbar);
    spacer->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    toolbar->addWidget(spacer);
    m_clear = toolbar->addAction(QString(), this, [this] { m_history.clear(); });
    m_clear->setObjectName(u"clearHistoryAction"_s);

    m_filter->setSourceModel(m_model);
    m_list->setObjectName(u"historyList"_s);
    m_list->setModel(m_filter);
    m_list->setItemDelegate(m_delegate);
    m_list->setUniformItemSizes(true);
    m_list->setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    m_list->setMouseTracking(true);
    m_list->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_list, &QListView::customContextMenuRequested, this, [this](const QPoint &pos) {
        QModelIndex index = m_list->indexAt(pos);
        if (!index.isValid())
            index = m_list->currentIndex();
        if (!index.isValid())
            return;
        QMenu *menu = contextMenuFor(index.row());
        menu->setAttribute(Qt::WA_DeleteOnClose);
        menu->popup(m_list->viewport()->mapToGlobal(pos));
    });
    connect(m_delegate, &HistoryRowDelegate::actionTriggered, this,
            [this](HistoryRowDelegate::Action action, const QModelIndex &index) {
                if (action == HistoryRowDelegate::Action::copyLink)
                    copyLink(index.row());
                else
                    reveal(index.row());
            });
    connect(&ThumbnailCache::shared(), &ThumbnailCache::ready, m_list->viewport(), qOverload<>(&QWidget::update));

    m_placeholderIcon->setAlignment(Qt::AlignCenter);
    m_placeholderTitle->setAlignment(Qt::AlignCenter);
    m_placeholderText->setAlignment(Qt::AlignCenter);
    QFont titleFont = m_placeholderTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.3);
    m_placeholderTitle->setFont(titleFont);
    m_placeholderText->setForegroundRole(QPalette::PlaceholderText);
    auto *placeholderColumn = new QVBoxLayout(m_placeholder);
    placeholderColumn->addStretch();
    placeholderColumn->addWidget(m_placeholderIcon);
    placeholderColumn->addWidget(m_placeholderTitle);
    placeholderColumn->addWidget(m_placeholderText);
    placeholderColumn->addStretch();
    m_placeholder->setObjectName(u"historyPlaceholder"_s);

    m_stack->addWidget(m_placeholder);
    m_stack->addWidget(m_list);
    auto *column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(toolbar);
    column->addWidget(m_stack, 1);

    connect(m_search, &QLineEdit::textChanged, this, &HistoryWindow::setSearchText);
    connect(&m_history, &HistoryStore::changed, this, &HistoryWindow::refresh);
    // Queued: the settings announce a change before they store the new value.
    connect(&m_settings, &AppSettings::changed, this, [this] {
        if (m_settings.language() != m_language)
            retranslate();
    }, Qt::QueuedConnection);
    retranslate();
}

void HistoryWindow::retranslate()
{
    m_language = m_settings.language();
    setWindowTitle(L10n::tr(u"历史记录"_s));
    m_search->setPlaceholderText(L10n::tr(u"搜索历史"_s));
    m_search->setAccessibleName(L10n::tr(u"搜索历史"_s));
    m_clear->setText(L10n::tr(u"清空历史"_s));
    m_clear->setToolTip(L10n::tr(u"清空历史"_s));
    m_clear->setIcon(SymbolIcon::icon(u"trash"_s, palette()));
    m_placeholderTitle->setText(L10n::tr(u"暂无历史记录"_s));
    m_placeholderText->setText(L10n::tr(u"完成下载后会显示在这里"_s));
    m_placeholderIcon->setPixmap(SymbolIcon::pixmap(u"clock.arrow.circlepath"_s, 48, palette().color(QPalette::PlaceholderText),
                                                    palette().color(QPalette::Window), devicePixelRatioF()));
    refresh();
    m_list->viewport()->update();
}

void HistoryWindow::changeEvent(QEvent *event)
{
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange && m_clear)
        retranslate();
}

void HistoryWindow::refresh()
{
    const bool empty = m_history.entries().isEmpty();
    m_clear->setEnabled(!empty);
    m_stack->setCurrentWidget(empty ? m_placeholder : static_cast<QWidget *>(m_list));
}

void HistoryWindow::setSearchText(const QString &text)
{
    if (m_search->text() != text)
        m_search->setText(text);
    m_filter->setSearchText(text);
}

QString HistoryWindow::urlAt(int row) const
{
    return m_filter->index(row, 0).data(HistoryListModel::UrlRole).toString();
}

QMenu *HistoryWindow::contextMenuFor(int row)
{
    auto *menu = new QMenu(this);
    menu->setObjectName(u"historyMenu"_s);
    const QPersistentModelIndex index = m_filter->index(row, 0);
    auto rowOf = [index] { return index.isValid() ? index.row() : -1; };
    menu->addAction(L10n::tr(u"复制链接"_s), this, [this, rowOf] { copyLink(rowOf()); });
    menu->addAction(L10n::tr(u"重新下载"_s), this, [this, rowOf] { downloadAgain(rowOf()); });
    menu->addSeparator();
    QAction *remove = menu->addAction(L10n::tr(u"删除此记录"_s), this, [this, rowOf] { removeEntry(rowOf()); });
    remove->setProperty("destructive", true);
    return menu;
}

void HistoryWindow::copyLink(int row)
{
    if (row < 0 || row >= m_filter->rowCount())
        return;
    QClipboard *clipboard = QGuiApplication::clipboard();
    clipboard->clear();
    clipboard->setText(urlAt(row));
}

void HistoryWindow::downloadAgain(int row)
{
    if (row < 0 || row >= m_filter->rowCount())
        return;
    m_manager.add({urlAt(row)});
}

void HistoryWindow::removeEntry(int row)
{
    if (row < 0 || row >= m_filter->rowCount())
        return;
    m_history.remove(m_filter->index(row, 0).data(HistoryListModel::EntryIdRole).toUuid());
}

void HistoryWindow::reveal(int row)
{
    const QVariant path = m_filter->index(row, 0).data(HistoryListModel::FilePathRole);
    if (path.isValid())
        Workspace::reveal(path.toString(), this, [](std::optional<QString>) {});
}
