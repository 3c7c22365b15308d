#pragma once

#include "store/HistoryEntry.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

// The finished downloads, newest first, kept in one JSON file that is rewritten whole after
// every change. Failures are silent: a file that does not load gives an empty history, a failed
// save leaves the list in memory. A file that did not load is moved aside before the first save
// instead of being overwritten. Main thread only.
class HistoryStore : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype maxEntries = 500;
    // A larger file is not ours; it counts as not decodable.
    static constexpr qint64 maxFileSize = 16 * 1024 * 1024;

    explicit HistoryStore(const QString &filePath = defaultFilePath(), QObject *parent = nullptr);

    // Created on first use, owned by the application object.
    static HistoryStore &shared();
    // history.json in the application's data folder.
    static QString defaultFilePath();

    QString filePath() const { return m_filePath; }
    const QList<HistoryEntry> &entries() const { return m_entries; }

    // Puts the entry in front (its date cut to whole seconds) and keeps the newest maxEntries.
    // An entry whose date cannot be written is refused: it would make the whole file unreadable.
    void add(const HistoryEntry &entry);
    // Deletes every entry with this id.
    void remove(const QUuid &id);
    void clear();

Q_SIGNALS:
    void changed();

private:
    void load();
    void save();
    bool moveUnreadableFileAside() const;

    QString m_filePath;
    QList<HistoryEntry> m_entries;
    // The file on disk did not load, so the next save must not replace it.
    bool m_keepFileOnDisk = false;
};
