#include "HistoryStore.h"

#include "platform/AtomicFile.h"
#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

// Two moves in the same second get a number after the time; beyond this something is wrong.
constexpr int maxAsideAttempts = 100;

bool isTaken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

} // namespace

HistoryStore::HistoryStore(const QString &filePath, QObject *parent)
    : QObject(parent)
    , m_filePath(filePath)
{
    m_disk = read();
    // A file that does not load stays on disk as it is until the first save moves it aside.
    m_entries = m_disk.entries.value_or(QList<HistoryEntry>());
    // The folder is watched, so it is made now: entries of another program show up from the start.
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &HistoryStore::reloadIfChanged);
    watch();
}

HistoryStore &HistoryStore::shared()
{
    static HistoryStore *instance = new HistoryStore(defaultFilePath(), QCoreApplication::instance());
    return *instance;
}

QString HistoryStore::defaultFilePath()
{
    return Paths::applicationData() + u"/history.json"_s;
}

HistoryStore::Stamp HistoryStore::stampNow() const
{
    struct stat info;
    if (::lstat(QFile::encodeName(m_filePath).constData(), &info) != 0)
        return {};
    return {true,
            quint64(info.st_dev),
            quint64(info.st_ino),
            qint64(info.st_size),
            qint64(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec,
            qint64(info.st_ctim.tv_sec) * 1000000000 + info.st_ctim.tv_nsec};
}

HistoryStore::Content HistoryStore::read() const
{
    Content content;
    content.stamp = stampNow();
    if (!isTaken(m_filePath)) {
        content.entries.emplace(); // first launch, or the file was deleted
        return content;
    }
    const QFileInfo info(m_filePath);
    if (!info.isFile() || info.size() > maxFileSize)
        return content;
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return content;
    const QByteArray data = file.read(maxFileSize + 1);
    if (data.size() > maxFileSize || file.error() != QFileDevice::NoError)
        return content;

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(data, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray())
        return content;
    QList<HistoryEntry> entries;
    const QJsonArray array = document.array();
    entries.reserve(array.size());
    for (const QJsonValue &value : array) {
        std::optional<HistoryEntry> entry = HistoryEntry::fromJson(value);
        if (!entry)
            return content; // one bad entry spoils the file
        entries.append(std::move(*entry));
    }
    content.entries = std::move(entries);
    return content;
}

HistoryStore::Content HistoryStore::current() const
{
    // Parsing 500 entries at every change would cost more than the change itself.
    if (stampNow() == m_disk.stamp)
        return m_disk;
    return read();
}

bool HistoryStore::moveUnreadableFileAside() const
{
    if (!isTaken(m_filePath))
        return true;
    const QString base = m_filePath + u".unreadable-"_s
        + QDateTime::currentDateTimeUtc().toString(u"yyyyMMdd'T'HHmmss'Z'"_s);
    for (int attempt = 1; attempt <= maxAsideAttempts; ++attempt) {
        const QString target = attempt == 1 ? base : base + u'-' + QString::number(attempt);
        if (isTaken(target))
            continue;
        return QFile::rename(m_filePath, target);
    }
    return false;
}

void HistoryStore::apply(QList<HistoryEntry> &entries, const Change &change)
{
    switch (change.kind) {
    case Change::Kind::add:
        // A change applied twice (a save retried after the file already had it) still adds once.
        entries.removeIf([&change](const HistoryEntry &entry) { return entry.id == change.entry.id; });
        entries.prepend(change.entry);
        if (entries.size() > maxEntries)
            entries.resize(maxEntries);
        break;
    case Change::Kind::remove:
        entries.removeIf([&change](const HistoryEntry &entry) { return entry.id == change.id; });
        break;
    case Change::Kind::clear:
        entries.clear();
        break;
    }
}

bool HistoryStore::save()
{
    const QString directory = QFileInfo(m_filePath).absolutePath();
    QDir().mkpath(directory);
    watch();
    QLockFile lock(m_filePath + u".lock"_s);
    if (!lock.tryLock(lockTimeoutMs))
        return false;

    // What the other programs wrote since this one last looked is the base of the changes.
    const Content content = current();
    QList<HistoryEntry> entries = content.entries.value_or(QList<HistoryEntry>());
    // Without the move the file that did not load would be overwritten; try again at the next change.
    if (!content.entries && !moveUnreadableFileAside())
        return false;
    for (const Change &change : std::as_const(m_unsaved))
        apply(entries, change);
    m_entries = entries;

    QJsonArray array;
    for (const HistoryEntry &entry : std::as_const(entries))
        array.append(entry.toJson());
    if (AtomicFile::write(m_filePath, QJsonDocument(array).toJson(QJsonDocument::Indented)) != 0)
        return false;
    m_unsaved.clear();
    m_disk = {stampNow(), std::move(entries)};
    return true;
}

void HistoryStore::record(const Change &change)
{
    m_unsaved.append(change);
    apply(m_entries, change);
    save();
    Q_EMIT changed();
}

void HistoryStore::watch()
{
    // The folder, not the file: every save replaces the file, which ends a watch on it.
    const QString directory = QFileInfo(m_filePath).absolutePath();
    if (m_watcher.directories().isEmpty() && QFileInfo(directory).isDir())
        m_watcher.addPath(directory);
}

void HistoryStore::reloadIfChanged()
{
    // Lock files and temporary files come and go in the folder too.
    if (stampNow() == m_disk.stamp)
        return;
    m_disk = read();
    // A file that does not load is left to the next save; what is shown stays.
    if (!m_disk.entries)
        return;
    QList<HistoryEntry> entries = *m_disk.entries;
    for (const Change &change : std::as_const(m_unsaved))
        apply(entries, change);
    if (entries == m_entries)
        return;
    m_entries = std::move(entries);
    Q_EMIT changed();
}

void HistoryStore::add(const HistoryEntry &entry)
{
    // The file keeps whole seconds; hold the same value in memory as the next start will read.
    const std::optional<QDateTime> finishedAt = HistoryEntry::parseDate(HistoryEntry::formatDate(entry.finishedAt));
    if (!finishedAt) {
        qWarning("history: entry %s has no date that can be stored; not recorded",
                 qPrintable(entry.id.toString(QUuid::WithoutBraces)));
        return;
    }
    HistoryEntry stored = entry;
    stored.finishedAt = *finishedAt;
    record({Change::Kind::add, std::move(stored), {}});
}

void HistoryStore::remove(const QUuid &id)
{
    record({Change::Kind::remove, {}, id});
}

void HistoryStore::clear()
{
    record({Change::Kind::clear, {}, {}});
}
