#pragma once

#include <QSortFilterProxyModel>

// The history search: entries whose title or site contains the text, ignoring case. The link
// is not searched.
class HistoryFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit HistoryFilterModel(QObject *parent = nullptr);

    void setSearchText(const QString &text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QString m_searchText;
};
