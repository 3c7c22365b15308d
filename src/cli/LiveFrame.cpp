#include "LiveFrame.h"

#include "cli/OutputStream.h"
#include "queue/DownloadItem.h"
#include "shared/L10n.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int barWidth = 20;

QString bar(const DownloadItem *item)
{
    const int filled = item->progressKnown() ? static_cast<int>(std::clamp(item->progress(), 0.0, 1.0) * barWidth) : 0;
    return u'[' + QString(filled, u'#') + QString(barWidth - filled, u'-') + u']';
}

QString fitted(const QString &text, int columns)
{
    int used = 0;
    QString result;
    for (const QChar c : text) {
        const int width = c.unicode() >= 0x1100 && (c.unicode() <= 0x115f || c.unicode() >= 0x2e80) ? 2 : 1;
        if (used + width > columns)
            break;
        used += width;
        result.append(c);
    }
    return result;
}

// Lower comes first when not everything fits.
int rank(DownloadStatus status)
{
    if (isActive(status))
        return 0;
    if (status == DownloadStatus::pending || status == DownloadStatus::paused)
        return 1;
    if (status == DownloadStatus::failed)
        return 2;
    return 3;
}

} // namespace

namespace LiveFrame {

QString itemLine(const DownloadItem *item, int columns)
{
    return fitted(OutputStream::escaped(bar(item) + u' ' + item->displayTitle() + u" — "_s + item->statusLine()),
                  columns - 1);
}

QStringList lines(const QList<DownloadItem *> &items, int rows, int columns)
{
    // The queue lists the newest item first; the terminal shows the oldest at the top.
    QList<const DownloadItem *> ordered(items.crbegin(), items.crend());
    const qsizetype room = std::max(1, rows - 1);
    QStringList result;
    if (ordered.size() <= room) {
        for (const DownloadItem *item : std::as_const(ordered))
            result.append(itemLine(item, columns));
        return result;
    }
    std::stable_sort(ordered.begin(), ordered.end(),
                     [](const DownloadItem *a, const DownloadItem *b) { return rank(a->status()) < rank(b->status()); });
    const qsizetype shown = room - 1;
    for (qsizetype i = 0; i < shown; ++i)
        result.append(itemLine(ordered[i], columns));
    qint64 finished = 0;
    qint64 failed = 0;
    qint64 waiting = 0;
    for (qsizetype i = shown; i < ordered.size(); ++i) {
        const DownloadStatus status = ordered[i]->status();
        if (status == DownloadStatus::finished)
            ++finished;
        else if (status == DownloadStatus::failed)
            ++failed;
        else if (status != DownloadStatus::canceled)
            ++waiting;
    }
    result.append(fitted(L10n::tr(u"另有 %ld 项未显示（完成 %ld，失败 %ld，其余 %ld）"_s,
                                  static_cast<qint64>(ordered.size() - shown), finished, failed, waiting),
                         columns - 1));
    return result;
}

} // namespace LiveFrame
