#pragma once

#include "store/HistoryEntry.h"

#include <QAbstractListModel>

class HistoryStore;

// The history as a list model, newest first as stored. It is rebuilt whole on every change:
// the history keeps at most 500 entries.
class HistoryListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        EntryIdRole = Qt::UserRole + 1,
        SearchTextsRole, // title and site, the texts the search looks at
        UrlRole,
        FilePathRole,     // invalid without a file
        ThumbnailUrlRole, // invalid without a URL that parses
        MetaRole,
    };

    explicit HistoryListModel(HistoryStore &history, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    const HistoryEntry *entryAt(int row) const;
    // Date · site · resolution (when known) · extension.
    static QString metaLine(const HistoryEntry &entry);

private:
    HistoryStore &m_history;
    QList<HistoryEntry> m_entries;
};
