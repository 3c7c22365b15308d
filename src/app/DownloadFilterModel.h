#pragma once

#include <QSortFilterProxyModel>

// The search of the main window: items whose title or link contains the text, ignoring case.
// The text is used as typed, not trimmed.
class DownloadFilterModel : public QSortFilterProxyModel
{
    Q_OBJECT

public:
    explicit DownloadFilterModel(QObject *parent = nullptr);

    QString searchText() const { return m_searchText; }
    void setSearchText(const QString &text);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex &sourceParent) const override;

private:
    QString m_searchText;
};
