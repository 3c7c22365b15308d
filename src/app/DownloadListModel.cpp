#include "DownloadListModel.h"

#include "queue/DownloadManager.h"

#include <algorithm>

using namespace Qt::StringLiterals;

DownloadListModel::DownloadListModel(DownloadManager &manager, QObject *parent)
    : QAbstractListModel(parent)
    , m_manager(manager)
{
    m_flushTimer.setSingleShot(true);
    m_flushTimer.setInterval(flushIntervalMs);
    connect(&m_flushTimer, &QTimer::timeout, this, &DownloadListModel::flush);
    m_rows = manager.items();
    for (DownloadItem *item : std::as_const(m_rows))
        watch(item);
    connect(&manager, &DownloadManager::itemsChanged, this, &DownloadListModel::sync);
}

int DownloadListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

QVariant DownloadListModel::data(const QModelIndex &index, int role) const
{
    DownloadItem *item = itemAt(index.row());
    if (!item || index.parent().isValid())
        return QVariant();
    switch (role) {
    case ItemRole:
        return QVariant::fromValue(item);
    case UrlRole:
        return item->url();
    case Qt::DisplayRole:
        return item->displayTitle();
    case Qt::AccessibleTextRole:
        return QString(item->displayTitle() % u", "_s % item->statusLine());
    case Qt::ToolTipRole:
        return item->url();
    default:
        return QVariant();
    }
}

DownloadItem *DownloadListModel::itemAt(int row) const
{
    return row >= 0 && row < m_rows.size() ? m_rows.at(row) : nullptr;
}

int DownloadListModel::rowOf(const DownloadItem *item) const
{
    if (!m_rowIndexValid) {
        m_rowIndex.clear();
        m_rowIndex.reserve(m_rows.size());
        for (int row = 0; row < m_rows.size(); ++row)
            m_rowIndex.insert(m_rows.at(row), row);
        m_rowIndexValid = true;
    }
    return m_rowIndex.value(item, -1);
}

// The manager says only that its list changed. Its changes are one contiguous run at a time
// (links added on top, one item removed, a playlist replacing its item), so the common head and
// tail are kept and only the middle is removed and inserted; selection and scroll position
// survive.
void DownloadListModel::sync()
{
    const QList<DownloadItem *> &now = m_manager.items();
    qsizetype head = 0;
    const qsizetype shorter = std::min(m_rows.size(), now.size());
    while (head < shorter && m_rows.at(head) == now.at(head))
        ++head;
    qsizetype tail = 0;
    while (tail < shorter - head && m_rows.at(m_rows.size() - 1 - tail) == now.at(now.size() - 1 - tail))
        ++tail;
    const qsizetype removedEnd = m_rows.size() - tail;
    const qsizetype insertedEnd = now.size() - tail;
    m_rowIndexValid = false;
    if (removedEnd > head) {
        beginRemoveRows(QModelIndex(), static_cast<int>(head), static_cast<int>(removedEnd - 1));
        for (qsizetype i = head; i < removedEnd; ++i)
            unwatch(m_rows.at(i));
        m_rows.remove(head, removedEnd - head);
        endRemoveRows();
    }
    if (insertedEnd > head) {
        beginInsertRows(QModelIndex(), static_cast<int>(head), static_cast<int>(insertedEnd - 1));
        for (qsizetype i = head; i < insertedEnd; ++i)
            watch(now.at(i));
        // With the middle gone, the rows are exactly the manager's list.
        m_rows = now;
        endInsertRows();
    }
    m_rowIndexValid = false;
}

void DownloadListModel::watch(DownloadItem *item)
{
    connect(item, &DownloadItem::changed, this, [this, item] { markDirty(item); });
}

void DownloadListModel::unwatch(DownloadItem *item)
{
    disconnect(item, nullptr, this, nullptr);
    m_dirty.remove(item);
}

void DownloadListModel::markDirty(DownloadItem *item)
{
    m_dirty.insert(item);
    if (!m_flushTimer.isActive())
        m_flushTimer.start();
}

void DownloadListModel::flush()
{
    m_flushTimer.stop();
    if (m_dirty.isEmpty())
        return;
    QList<int> rows;
    rows.reserve(m_dirty.size());
    for (DownloadItem *item : std::as_const(m_dirty)) {
        const int row = rowOf(item);
        if (row >= 0)
            rows.append(row);
    }
    m_dirty.clear();
    std::sort(rows.begin(), rows.end());
    // Neighbouring rows go out as one range.
    for (qsizetype i = 0; i < rows.size();) {
        qsizetype j = i;
        while (j + 1 < rows.size() && rows.at(j + 1) == rows.at(j) + 1)
            ++j;
        Q_EMIT dataChanged(index(rows.at(i)), index(rows.at(j)));
        m_flushedRows += j - i + 1;
        i = j + 1;
    }
}
