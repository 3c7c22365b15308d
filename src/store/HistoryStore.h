#pragma once

#include "store/HistoryEntry.h"

#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QString>
#include <QUuid>

#include <optional>

// The finished downloads, newest first, kept in one JSON file that is rewritten whole after
// every change. Several programs share the file (the window application, kestro-dl, its agent
// mode), so each save takes a lock beside the file, reads what is there now and applies this
// object's own changes (add, remove, clear) to it; the whole list held in memory is never
// written back over what another program did. Entries that another program writes show up here
// too (changed() is emitted). Failures are silent: a file that does not load gives an empty
// history, a failed save keeps the changes for the next save. A file that does not load is
// moved aside before a save instead of being overwritten. Main thread only.
class HistoryStore : public QObject
{
    Q_OBJECT

public:
    static constexpr qsizetype maxEntries = 500;
    // A larger file is not ours; it counts as not decodable.
    static constexpr qint64 maxFileSize = 16 * 1024 * 1024;
    // Another program holds the lock only while it reads and writes the file.
    static constexpr int lockTimeoutMs = 5000;

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
    struct Change
    {
        enum class Kind { add, remove, clear };
        Kind kind;
        HistoryEntry entry; // add
        QUuid id;           // remove
    };
    // Identifies one version of the file: every save makes a new file, so a new inode.
    struct Stamp
    {
        bool exists = false;
        quint64 device = 0;
        quint64 inode = 0;
        qint64 size = 0;
        qint64 modifiedNs = 0;
        qint64 changedNs = 0;
        bool operator==(const Stamp &) const = default;
    };
    struct Content
    {
        Stamp stamp;
        // Nothing when a file is there but does not load; empty when there is none.
        std::optional<QList<HistoryEntry>> entries;
    };

    Content read() const;
    Content current() const;
    Stamp stampNow() const;
    static void apply(QList<HistoryEntry> &entries, const Change &change);
    void record(const Change &change);
    bool save();
    void watch();
    void reloadIfChanged();
    bool moveUnreadableFileAside() const;

    QString m_filePath;
    // The file as last read or written, with the changes not yet saved on top.
    QList<HistoryEntry> m_entries;
    QList<Change> m_unsaved;
    // The file as last read or written here; read again only when its stamp changed.
    Content m_disk;
    QFileSystemWatcher m_watcher;
};
