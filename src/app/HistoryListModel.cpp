#include "HistoryListModel.h"

#include "shared/L10n.h"
#include "store/HistoryStore.h"

#include <QUrl>

using namespace Qt::StringLiterals;

HistoryListModel::HistoryListModel(HistoryStore &history, QObject *parent)
    : QAbstractListModel(parent)
    , m_history(history)
    , m_entries(history.entries())
{
    connect(&history, &HistoryStore::changed, this, [this] {
        beginResetModel();
        m_entries = m_history.entries();
        endResetModel();
    });
}

int HistoryListModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_entries.size());
}

const HistoryEntry *HistoryListModel::entryAt(int row) const
{
    return row >= 0 && row < m_entries.size() ? &m_entries.at(row) : nullptr;
}

QString HistoryListModel::metaLine(const HistoryEntry &entry)
{
    const QLocale locale = L10n::locale();
    QStringList parts{locale.toString(entry.finishedAt.toLocalTime(), QLocale::ShortFormat), entry.site};
    if (!entry.resolution.isEmpty())
        parts.append(entry.resolution);
    parts.append(entry.ext);
    return parts.join(u" · "_s);
}

QVariant HistoryListModel::data(const QModelIndex &index, int role) const
{
    const HistoryEntry *entry = entryAt(index.row());
    if (!entry || index.parent().isValid())
        return QVariant();
    switch (role) {
    case Qt::DisplayRole:
        return entry->title;
    case EntryIdRole:
        return entry->id;
    case SearchTextsRole:
        return QStringList{entry->title, entry->site};
    case UrlRole:
        return entry->url;
    case FilePathRole:
        return entry->filePath ? QVariant(*entry->filePath) : QVariant();
    case ThumbnailUrlRole: {
        const QUrl url(entry->thumbnailURL.value_or(QString()), QUrl::StrictMode);
        return url.isValid() && !url.isEmpty() ? QVariant(url) : QVariant();
    }
    case MetaRole:
        return metaLine(*entry);
    case Qt::AccessibleTextRole:
        return QString(entry->title % u", "_s % metaLine(*entry));
    case Qt::ToolTipRole:
        return entry->url;
    default:
        return QVariant();
    }
}
