#include "DownloadItem.h"

#include "shared/L10n.h"

#include <QStringBuilder>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

// Whole part of a value that should be finite; anything else counts as 0, and values
// beyond the integer range are clamped instead of overflowing.
qint64 truncated(double value)
{
    if (!std::isfinite(value))
        return 0;
    constexpr double limit = 9.0e18;
    return static_cast<qint64>(std::trunc(std::clamp(value, -limit, limit)));
}

qint64 percent(double progress)
{
    return truncated(progress * 100);
}

// printf's "%.*f" in the C locale: the same digits whatever the user's locale is, and ties
// rounded the way printf rounds them (QString::number rounds 1.25 up to 1.3).
QString fixed(double value, int decimals)
{
    char buffer[64];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals);
    if (result.ec != std::errc())
        return QString::number(value, 'f', decimals);
    return QString::fromLatin1(buffer, result.ptr - buffer);
}

} // namespace

DownloadItem::DownloadItem(const QString &url, const QString &outputDir, QObject *parent)
    : QObject(parent)
    , m_id(QUuid::createUuid())
    , m_url(url)
    , m_ext(u"MP4"_s)
    , m_formatSelector(u"bv*+ba/b"_s)
    , m_audioFormat(u"mp3"_s)
    , m_outputDir(outputDir)
    , m_addedAt(QDateTime::currentDateTimeUtc())
{
}

template<typename T>
void DownloadItem::assign(T &field, const T &value)
{
    if (field == value)
        return;
    field = value;
    // After the store, not before: observers re-read the item when told.
    Q_EMIT changed();
}

void DownloadItem::setTitle(const QString &title) { assign(m_title, title); }
void DownloadItem::setSite(const QString &site) { assign(m_site, site); }
void DownloadItem::setThumbnailURL(const std::optional<QUrl> &url) { assign(m_thumbnailURL, url); }
void DownloadItem::setDuration(std::optional<double> seconds) { assign(m_duration, seconds); }
void DownloadItem::setResolution(const QString &resolution) { assign(m_resolution, resolution); }
void DownloadItem::setFileSize(std::optional<qint64> bytes) { assign(m_fileSize, bytes); }
void DownloadItem::setExt(const QString &ext) { assign(m_ext, ext); }
void DownloadItem::setStatus(DownloadStatus status) { assign(m_status, status); }
void DownloadItem::setProgress(double fraction) { assign(m_progress, fraction); }
void DownloadItem::setProgressKnown(bool known) { assign(m_progressKnown, known); }
void DownloadItem::setDownloadedBytes(qint64 bytes) { assign(m_downloadedBytes, bytes); }
void DownloadItem::setTotalBytes(qint64 bytes) { assign(m_totalBytes, bytes); }
void DownloadItem::setTotalIsEstimated(bool estimated) { assign(m_totalIsEstimated, estimated); }
void DownloadItem::setSpeed(double bytesPerSecond) { assign(m_speed, bytesPerSecond); }
void DownloadItem::setEta(std::optional<double> seconds) { assign(m_eta, seconds); }
void DownloadItem::setErrorMessage(const std::optional<QString> &message) { assign(m_errorMessage, message); }
void DownloadItem::setErrorDetails(const std::optional<QString> &details) { assign(m_errorDetails, details); }
void DownloadItem::setOutputFile(const std::optional<QString> &path) { assign(m_outputFile, path); }
void DownloadItem::setFinishedAt(const std::optional<QDateTime> &when) { assign(m_finishedAt, when); }

QString DownloadItem::displayTitle() const
{
    return m_title.isEmpty() ? m_url : m_title;
}

QString DownloadItem::temporaryDirectory() const
{
    const QString folder = u".kestro-partials/"_s % m_id.toString(QUuid::WithoutBraces).toUpper();
    if (m_outputDir.endsWith(u'/'))
        return m_outputDir + folder;
    return m_outputDir % u'/' % folder;
}

QString DownloadItem::statusLine() const
{
    switch (m_status) {
    case DownloadStatus::pending:
        return L10n::tr(u"等待中"_s);
    case DownloadStatus::analyzing:
        return L10n::tr(u"正在解析…"_s);
    case DownloadStatus::downloading: {
        QStringList parts;
        if (m_progressKnown)
            parts.append(QString::number(percent(m_progress)) % u'%');
        parts.append(L10n::tr(u"下载中"_s));
        if (m_totalBytes >= 1) {
            const QString about = m_totalIsEstimated ? L10n::tr(u"约 "_s) : QString();
            parts.append(fmtBytes(m_downloadedBytes) % u'/' % about % fmtBytes(m_totalBytes));
        } else if (m_downloadedBytes >= 1) {
            parts.append(fmtBytes(m_downloadedBytes));
        }
        if (m_eta)
            parts.append(L10n::tr(u"剩余 %@"_s, fmtDuration(*m_eta)));
        if (m_speed > 0)
            parts.append(fmtBytes(truncated(m_speed)) % u"/s");
        return parts.join(u" – "_s);
    }
    case DownloadStatus::paused:
        if (m_progressKnown)
            return L10n::tr(u"已暂停 – %ld%%"_s, percent(m_progress));
        return L10n::tr(u"已暂停"_s);
    case DownloadStatus::processing:
        return L10n::tr(u"正在后处理…"_s);
    case DownloadStatus::finished:
        return L10n::tr(u"已完成"_s);
    case DownloadStatus::failed: {
        // An empty message would leave "失败：" dangling; say the error is unknown instead.
        const bool hasMessage = m_errorMessage && !m_errorMessage->isEmpty();
        return L10n::tr(u"失败：%@"_s, hasMessage ? *m_errorMessage : L10n::tr(u"未知错误"_s));
    }
    case DownloadStatus::canceled:
        return L10n::tr(u"已取消"_s);
    }
    return QString();
}

QString DownloadItem::fmtBytes(qint64 bytes)
{
    static constexpr QStringView units[] = {u"B", u"KB", u"MB", u"GB", u"TB"};
    double x = double(bytes);
    int unit = 0;
    if (bytes >= 1000) {
        // Divided once before the loop, so 999 999 stays "1000.0 KB" rather than "1.0 MB".
        x /= 1000;
        unit = 1;
        while (x >= 1000 && unit < 4) {
            x /= 1000;
            ++unit;
        }
    }
    return fixed(x, unit == 0 ? 0 : 1) % u' ' % units[unit];
}

QString DownloadItem::fmtDuration(double seconds)
{
    // A negative estimate would print as "-0:-5"; nothing sensible is below zero.
    const qint64 s = std::max<qint64>(0, truncated(seconds));
    if (s < 3600)
        return QString::asprintf("%lld:%02lld", static_cast<long long>(s / 60), static_cast<long long>(s % 60));
    return QString::asprintf("%lld:%02lld:%02lld", static_cast<long long>(s / 3600),
                             static_cast<long long>(s % 3600 / 60), static_cast<long long>(s % 60));
}
