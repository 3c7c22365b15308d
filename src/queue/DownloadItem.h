#pragma once

#include "queue/DownloadStatus.h"
#include "shared/BrowserSession.h"

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QUuid>

#include <optional>
#include <utility>

// One entry of the download queue. The queue manager creates and changes it on the main
// thread; views re-read it on changed().
//
// Setters of observed fields emit changed() only when the value really differs. Qt has no
// "will change" notification, so the signal comes right after the new value is stored;
// observers simply re-read the item. Fields without change notification are marked below.
class DownloadItem : public QObject
{
    Q_OBJECT

public:
    // The only way to make an item: the link as accepted by the queue and where the finished
    // file goes. Everything else starts at its default and is filled in later.
    DownloadItem(const QString &url, const QString &outputDir, QObject *parent = nullptr);

    QUuid id() const { return m_id; }
    QString url() const { return m_url; }

    QString title() const { return m_title; }
    void setTitle(const QString &title);
    QString site() const { return m_site; }
    void setSite(const QString &site);
    std::optional<QUrl> thumbnailURL() const { return m_thumbnailURL; }
    void setThumbnailURL(const std::optional<QUrl> &url);
    std::optional<double> duration() const { return m_duration; }
    void setDuration(std::optional<double> seconds);
    QString resolution() const { return m_resolution; }
    void setResolution(const QString &resolution);
    std::optional<qint64> fileSize() const { return m_fileSize; }
    void setFileSize(std::optional<qint64> bytes);
    QString ext() const { return m_ext; }
    void setExt(const QString &ext);

    DownloadStatus status() const { return m_status; }
    void setStatus(DownloadStatus status);
    double progress() const { return m_progress; }
    void setProgress(double fraction);
    bool progressKnown() const { return m_progressKnown; }
    void setProgressKnown(bool known);
    qint64 downloadedBytes() const { return m_downloadedBytes; }
    void setDownloadedBytes(qint64 bytes);
    qint64 totalBytes() const { return m_totalBytes; } // 0 = unknown
    void setTotalBytes(qint64 bytes);
    bool totalIsEstimated() const { return m_totalIsEstimated; }
    void setTotalIsEstimated(bool estimated);
    double speed() const { return m_speed; } // bytes per second
    void setSpeed(double bytesPerSecond);
    std::optional<double> eta() const { return m_eta; }
    void setEta(std::optional<double> seconds);
    std::optional<QString> errorMessage() const { return m_errorMessage; }
    void setErrorMessage(const std::optional<QString> &message);
    std::optional<QString> errorDetails() const { return m_errorDetails; }
    void setErrorDetails(const std::optional<QString> &details);

    // Not observed: read when a download starts.
    QString formatSelector() const { return m_formatSelector; }
    void setFormatSelector(const QString &selector) { m_formatSelector = selector; }
    bool audioOnly() const { return m_audioOnly; }
    void setAudioOnly(bool audioOnly) { m_audioOnly = audioOnly; }
    QString audioFormat() const { return m_audioFormat; }
    void setAudioFormat(const QString &format) { m_audioFormat = format; }
    QString outputDir() const { return m_outputDir; }
    void setOutputDir(const QString &directory) { m_outputDir = directory; }
    QStringList extraArgs() const { return m_extraArgs; }
    void setExtraArgs(const QStringList &args) { m_extraArgs = args; }
    std::optional<QString> browserReferer() const { return m_browserReferer; }
    void setBrowserReferer(const std::optional<QString> &referer) { m_browserReferer = referer; }
    std::optional<QString> browserUserAgent() const { return m_browserUserAgent; }
    void setBrowserUserAgent(const std::optional<QString> &userAgent) { m_browserUserAgent = userAgent; }
    const std::optional<BrowserSession> &browserSession() const { return m_browserSession; }
    void setBrowserSession(std::optional<BrowserSession> session) { m_browserSession = std::move(session); }

    std::optional<QString> outputFile() const { return m_outputFile; } // path of the finished file
    void setOutputFile(const std::optional<QString> &path);

    QDateTime addedAt() const { return m_addedAt; } // UTC
    void setAddedAt(const QDateTime &when) { m_addedAt = when; }
    std::optional<QDateTime> finishedAt() const { return m_finishedAt; } // UTC
    void setFinishedAt(const std::optional<QDateTime> &when);

    // Not observed.
    std::optional<QString> playlistTitle() const { return m_playlistTitle; }
    void setPlaylistTitle(const std::optional<QString> &title) { m_playlistTitle = title; }
    std::optional<int> playlistIndex() const { return m_playlistIndex; } // 1-based
    void setPlaylistIndex(std::optional<int> index) { m_playlistIndex = index; }

    // The title when known, else the link.
    QString displayTitle() const;
    // <outputDir>/.kestro-partials/<ID in upper case>: the engine's private folder for this item.
    QString temporaryDirectory() const;
    // One line under the title: what the item is doing right now, translated.
    QString statusLine() const;

    // Decimal size text, "999 B", "1.5 MB"; TB is the largest unit.
    static QString fmtBytes(qint64 bytes);
    // "m:ss" below an hour, "h:mm:ss" from there on; fractions of a second are dropped.
    static QString fmtDuration(double seconds);

Q_SIGNALS:
    // Some observed field has a new value.
    void changed();

private:
    template<typename T>
    void assign(T &field, const T &value);

    const QUuid m_id;
    const QString m_url;
    QString m_title;
    QString m_site;
    std::optional<QUrl> m_thumbnailURL;
    std::optional<double> m_duration;
    QString m_resolution;
    std::optional<qint64> m_fileSize;
    QString m_ext;
    DownloadStatus m_status = DownloadStatus::pending;
    double m_progress = 0;
    bool m_progressKnown = false;
    qint64 m_downloadedBytes = 0;
    qint64 m_totalBytes = 0;
    bool m_totalIsEstimated = false;
    double m_speed = 0;
    std::optional<double> m_eta;
    std::optional<QString> m_errorMessage;
    std::optional<QString> m_errorDetails;
    QString m_formatSelector;
    bool m_audioOnly = false;
    QString m_audioFormat;
    QString m_outputDir;
    QStringList m_extraArgs;
    std::optional<QString> m_browserReferer;
    std::optional<QString> m_browserUserAgent;
    std::optional<BrowserSession> m_browserSession;
    std::optional<QString> m_outputFile;
    QDateTime m_addedAt;
    std::optional<QDateTime> m_finishedAt;
    std::optional<QString> m_playlistTitle;
    std::optional<int> m_playlistIndex;
};
