#include "HistoryFilterModel.h"

#include "HistoryListModel.h"

HistoryFilterModel::HistoryFilterModel(QObject *parent)
    : QSortFilterProxyModel(parent)
{
}

void HistoryFilterModel::setSearchText(const QString &text)
{
    if (text == m_searchText)
        return;
    m_searchText = text;
    invalidateRowsFilter();
}

bool HistoryFilterModel::filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const
{
    if (m_searchText.isEmpty())
        return true;
    const QStringList texts = sourceModel()->index(sourceRow, 0, sourceParent).data(HistoryListModel::SearchTextsRole).toStringList();
    for (const QString &text : texts) {
        if (text.contains(m_searchText, Qt::CaseInsensitive))
            return true;
    }
    return false;
}
