#pragma once

#include <QAbstractListModel>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QSet>
#include <QTimer>

class DownloadItem;
class DownloadManager;

// The queue as a list model, one row per item in queue order. Item changes are collected and
// flushed as dataChanged at most about 30 times a second, so progress never repaints once per
// engine line; additions and removals are applied at once.
class DownloadListModel : public QAbstractListModel
{
    Q_OBJECT

public:
    enum Role {
        ItemRole = Qt::UserRole + 1, // DownloadItem *
        UrlRole,
    };

    static constexpr int flushIntervalMs = 33;

    explicit DownloadListModel(DownloadManager &manager, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;

    DownloadItem *itemAt(int row) const;
    int rowOf(const DownloadItem *item) const;

    // How many dataChanged signals have been sent, for the benchmark.
    qint64 flushedRows() const { return m_flushedRows; }

    // Sends the collected item changes now.
    void flush();

private:
    void sync();
    void watch(DownloadItem *item);
    void unwatch(DownloadItem *item);
    void markDirty(DownloadItem *item);

    DownloadManager &m_manager;
    QList<DownloadItem *> m_rows;
    mutable QHash<const DownloadItem *, int> m_rowIndex;
    mutable bool m_rowIndexValid = false;
    QSet<DownloadItem *> m_dirty;
    QTimer m_flushTimer;
    qint64 m_flushedRows = 0;
};
