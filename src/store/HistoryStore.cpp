#include "HistoryStore.h"

#include "platform/Paths.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSaveFile>

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
    load();
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

void HistoryStore::load()
{
    const QFileInfo info(m_filePath);
    if (!isTaken(m_filePath))
        return; // first launch

    // From here on, whatever is there stays on disk unless it loads.
    m_keepFileOnDisk = true;
    if (!info.isFile() || info.size() > maxFileSize)
        return;
    QFile file(m_filePath);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray content = file.read(maxFileSize + 1);
    if (content.size() > maxFileSize)
        return;

    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(content, &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray())
        return;
    QList<HistoryEntry> entries;
    const QJsonArray array = document.array();
    entries.reserve(array.size());
    for (const QJsonValue &value : array) {
        std::optional<HistoryEntry> entry = HistoryEntry::fromJson(value);
        if (!entry)
            return; // one bad entry spoils the file
        entries.append(std::move(*entry));
    }
    m_entries = std::move(entries);
    m_keepFileOnDisk = false;
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

void HistoryStore::save()
{
    QDir().mkpath(QFileInfo(m_filePath).absolutePath());
    if (m_keepFileOnDisk) {
        // Without the move the old file would be overwritten; try again at the next change.
        if (!moveUnreadableFileAside())
            return;
        m_keepFileOnDisk = false;
    }

    QJsonArray array;
    for (const HistoryEntry &entry : std::as_const(m_entries))
        array.append(entry.toJson());
    QSaveFile file(m_filePath);
    if (!file.open(QIODevice::WriteOnly))
        return;
    file.write(QJsonDocument(array).toJson(QJsonDocument::Indented));
    file.commit();
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
    m_entries.prepend(std::move(stored));
    if (m_entries.size() > maxEntries)
        m_entries.resize(maxEntries);
    save();
    Q_EMIT changed();
}

void HistoryStore::remove(const QUuid &id)
{
    m_entries.removeIf([&id](const HistoryEntry &entry) { return entry.id == id; });
    save();
    Q_EMIT changed();
}

void HistoryStore::clear()
{
    m_entries.clear();
    save();
    Q_EMIT changed();
}
