#include "DownloadCard.h"

#include "queue/DownloadItem.h"
#include "queue/DownloadManager.h"
#include "shared/L10n.h"

using namespace Qt::StringLiterals;

namespace DownloadCard {

namespace {

Button cancelButton()
{
    return {Action::cancel, u"xmark.circle.fill"_s, L10n::tr(u"取消并移除，清理临时文件"_s), 0.8};
}

bool hasOutput(const DownloadItem &item)
{
    return item.status() == DownloadStatus::finished && item.outputFile().has_value();
}

} // namespace

QList<Button> headerButtons(const DownloadItem &item)
{
    switch (item.status()) {
    case DownloadStatus::analyzing:
    case DownloadStatus::downloading:
    case DownloadStatus::processing:
        return {{Action::pause, u"pause.fill"_s, L10n::tr(u"暂停"_s), 1.0}, cancelButton()};
    case DownloadStatus::paused:
        return {{Action::resume, u"play.fill"_s, L10n::tr(u"继续"_s), 1.0}, cancelButton()};
    case DownloadStatus::failed:
        return {{Action::retry, u"arrow.clockwise"_s, L10n::tr(u"重试"_s), 1.0},
                {Action::remove, u"trash"_s, L10n::tr(u"移除并清理临时文件"_s), 0.8}};
    case DownloadStatus::finished:
        return {{Action::remove, u"trash"_s, L10n::tr(u"从列表移除"_s), 0.7}};
    case DownloadStatus::pending:
    case DownloadStatus::canceled:
        return {cancelButton()};
    }
    return {};
}

QList<Button> statusButtons(const DownloadItem &item)
{
    if (item.status() == DownloadStatus::failed)
        return {{Action::showDetails, QString(), L10n::tr(u"错误详情"_s), 1.0}};
    if (hasOutput(item)) {
        return {{Action::play, u"play.fill"_s, L10n::tr(u"播放"_s), 1.0},
                {Action::reveal, u"folder"_s, L10n::tr(u"在文件管理器中显示"_s), 1.0}};
    }
    return {};
}

QList<MenuEntry> menuEntries(const DownloadItem &item)
{
    const DownloadStatus status = item.status();
    QList<MenuEntry> entries{{Action::copyLink, L10n::tr(u"复制链接"_s)}};
    if (hasOutput(item)) {
        entries.append({Action::reveal, L10n::tr(u"在文件管理器中显示"_s)});
        entries.append({Action::play, L10n::tr(u"播放"_s)});
    }
    bool separate = true;
    if (isActive(status) || status == DownloadStatus::paused) {
        if (status == DownloadStatus::paused)
            entries.append({Action::resume, L10n::tr(u"继续"_s), false, separate});
        else
            entries.append({Action::pause, L10n::tr(u"暂停"_s), false, separate});
        separate = false;
    }
    if (status == DownloadStatus::failed || status == DownloadStatus::canceled) {
        entries.append({Action::retry, L10n::tr(u"重试"_s), false, separate});
        separate = false;
    }
    const QString removeText = status == DownloadStatus::finished ? L10n::tr(u"从列表移除"_s)
                                                                  : L10n::tr(u"移除并清理临时文件"_s);
    entries.append({Action::remove, removeText, true, true});
    return entries;
}

QString summaryLine(const DownloadItem &item)
{
    QStringList parts;
    parts.append(item.site().isEmpty() ? DownloadManager::siteName(item.url()) : item.site());
    parts.append(item.audioOnly() ? item.audioFormat().toUpper() : item.ext());
    if (!item.resolution().isEmpty())
        parts.append(item.resolution());
    if (item.fileSize())
        parts.append(DownloadItem::fmtBytes(*item.fileSize()));
    if (item.playlistTitle() && item.playlistIndex())
        parts.append(L10n::tr(u"列表 %@ #%ld"_s, *item.playlistTitle(), *item.playlistIndex()));
    return parts.join(u" - "_s);
}

QString statusSymbol(DownloadStatus status)
{
    switch (status) {
    case DownloadStatus::analyzing:
    case DownloadStatus::processing:
        return QString();
    case DownloadStatus::downloading:
        return u"arrow.down.circle.fill"_s;
    case DownloadStatus::paused:
        return u"pause.circle.fill"_s;
    case DownloadStatus::finished:
        return u"checkmark.circle.fill"_s;
    case DownloadStatus::failed:
        return u"xmark.octagon.fill"_s;
    case DownloadStatus::pending:
    case DownloadStatus::canceled:
        return u"clock"_s;
    }
    return QString();
}

QColor statusColor(DownloadStatus status)
{
    switch (status) {
    case DownloadStatus::paused:
        return QColor(255, 159, 10);
    case DownloadStatus::finished:
        return QColor(48, 209, 88);
    case DownloadStatus::failed:
        return QColor(255, 69, 58);
    case DownloadStatus::downloading:
        return QColor(255, 255, 255, 230);
    default:
        return QColor(255, 255, 255, 178);
    }
}

QColor progressTint(DownloadStatus status, const QColor &accent)
{
    switch (status) {
    case DownloadStatus::failed:
    case DownloadStatus::canceled:
        return QColor(255, 69, 58);
    case DownloadStatus::paused:
        return QColor(255, 159, 10);
    case DownloadStatus::finished:
        return QColor(48, 209, 88);
    default:
        return accent;
    }
}

bool progressIndeterminate(const DownloadItem &item)
{
    return item.status() == DownloadStatus::downloading && !item.progressKnown();
}

bool animates(const DownloadItem &item)
{
    const DownloadStatus status = item.status();
    return status == DownloadStatus::analyzing || status == DownloadStatus::processing || progressIndeterminate(item);
}

QString detailsText(const DownloadItem &item)
{
    if (item.errorDetails())
        return *item.errorDetails();
    if (item.errorMessage())
        return *item.errorMessage();
    return L10n::tr(u"未知错误"_s);
}

QString detailsToCopy(const DownloadItem &item)
{
    return item.errorDetails().value_or(item.errorMessage().value_or(QString()));
}

} // namespace DownloadCard
