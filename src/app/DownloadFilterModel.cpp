#include "DownloadFilterModel.h"

#include "DownloadListModel.h"
#include "queue/DownloadItem.h"

DownloadFilterModel::DownloadFilterModel(QObject *parent)
    : QSortFilterProxyModel(parent)
{
    // Titles arrive after analysis, so a changed row is filtered again.
    setDynamicSortFilter(true);
}

void DownloadFilterModel::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    invalidateRowsFilter();
}

bool DownloadFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (m_searchText.isEmpty())
        return true;
    const QModelIndex index = sourceModel()->index(sourceRow, 0, sourceParent);
    const auto *item = index.data(DownloadListModel::ItemRole).value<DownloadItem *>();
    if (!item)
        return false;
    return item->displayTitle().contains(m_searchText, Qt::CaseInsensitive)
        || item->url().contains(m_searchText, Qt::CaseInsensitive);
}
