#include "DownloadListView.h"

#include "DownloadCardDelegate.h"
#include "DownloadListModel.h"
#include "queue/DownloadItem.h"

#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QScrollBar>

using DownloadCard::Action;

namespace {
constexpr int animationIntervalMs = 80;
}

DownloadListView::DownloadListView(QWidget *parent)
    : QListView(parent)
{
    setUniformItemSizes(true);
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setFrameShape(QFrame::NoFrame);
    setMouseTracking(true);
    viewport()->setAutoFillBackground(false);
    setAutoFillBackground(false);
    verticalScrollBar()->setSingleStep(24);
    // Rows carry half the card gap above and below; the rest of the list padding is here.
    const int edge = DownloadCardDelegate::listPadding - DownloadCardDelegate::cardSpacing / 2;
    setViewportMargins(0, edge, 0, edge);
    m_animation.setInterval(animationIntervalMs);
    connect(&m_animation, &QTimer::timeout, this, &DownloadListView::animate);
    m_animation.start();
}

DownloadItem *DownloadListView::currentItem() const
{
    return currentIndex().data(DownloadListModel::ItemRole).value<DownloadItem *>();
}

std::optional<Action> DownloadListView::keyAction(const DownloadItem &item, int key, Qt::KeyboardModifiers modifiers)
{
    const DownloadStatus status = item.status();
    const QList<DownloadCard::Button> header = DownloadCard::headerButtons(item);
    auto offered = [&](Action action) {
        for (const DownloadCard::Button &button : header) {
            if (button.action == action)
                return true;
        }
        for (const DownloadCard::Button &button : DownloadCard::statusButtons(item)) {
            if (button.action == action)
                return true;
        }
        return false;
    };
    if (modifiers & ~(Qt::KeypadModifier | Qt::ControlModifier))
        return std::nullopt;
    switch (key) {
    case Qt::Key_Space:
        if (offered(Action::pause))
            return Action::pause;
        if (offered(Action::resume))
            return Action::resume;
        return std::nullopt;
    case Qt::Key_Delete:
    case Qt::Key_Backspace:
        if (offered(Action::cancel))
            return Action::cancel;
        if (offered(Action::remove))
            return Action::remove;
        return std::nullopt;
    case Qt::Key_R:
        if (status == DownloadStatus::failed || status == DownloadStatus::canceled)
            return Action::retry;
        return std::nullopt;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (offered(Action::play))
            return Action::play;
        if (offered(Action::showDetails))
            return Action::showDetails;
        return std::nullopt;
    default:
        return std::nullopt;
    }
}

void DownloadListView::keyPressEvent(QKeyEvent *event)
{
    DownloadItem *item = currentItem();
    if (item) {
        if (event->key() == Qt::Key_Menu || (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier)) {
            openContextMenu(visualRect(currentIndex()).center());
            event->accept();
            return;
        }
        if (const std::optional<Action> action = keyAction(*item, event->key(), event->modifiers())) {
            Q_EMIT actionRequested(*action, item);
            event->accept();
            return;
        }
    }
    QListView::keyPressEvent(event);
}

void DownloadListView::openContextMenu(const QPoint &viewportPos)
{
    if (DownloadItem *item = currentItem())
        Q_EMIT contextMenuRequested(item, viewport()->mapToGlobal(viewportPos));
}

void DownloadListView::contextMenuEvent(QContextMenuEvent *event)
{
    const QModelIndex index = event->reason() == QContextMenuEvent::Mouse ? indexAt(event->pos()) : currentIndex();
    auto *item = index.data(DownloadListModel::ItemRole).value<DownloadItem *>();
    if (!item)
        return;
    setCurrentIndex(index);
    const QPoint global = event->reason() == QContextMenuEvent::Mouse ? event->globalPos()
                                                                      : viewport()->mapToGlobal(visualRect(index).center());
    Q_EMIT contextMenuRequested(item, global);
}

void DownloadListView::animate()
{
    if (!isVisible() || !model())
        return;
    const QRect visible = viewport()->rect();
    QModelIndex index = indexAt(QPoint(visible.center().x(), visible.top() + 1));
    while (index.isValid()) {
        const QRect rect = visualRect(index);
        if (rect.top() > visible.bottom())
            break;
        if (auto *item = index.data(DownloadListModel::ItemRole).value<DownloadItem *>(); item && DownloadCard::animates(*item))
            viewport()->update(rect);
        index = index.siblingAtRow(index.row() + 1);
    }
}
