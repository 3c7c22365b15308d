#pragma once

#include "engine/VideoMetadata.h"
#include "engine/YtDlpProgress.h"
#include "queue/DownloadItem.h"
#include "shared/BrowserSession.h"

#include <QHash>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QUuid>

#include <deque>
#include <functional>
#include <optional>

class AnalysisJob;
class AppSettings;
class ClipboardSource;
class ClipboardWatch;
class EngineProcess;
class HistoryStore;
class QueueJob;
class YtDlpService;

// The one owner of the download queue: accepts links, analyses them, starts engine
// downloads as slots free up and keeps the bookkeeping of running jobs. Main thread only.
class DownloadManager : public QObject
{
    Q_OBJECT

public:
    // Per-run choices of a front end that must not touch the stored settings.
    struct Overrides
    {
        std::optional<int> quality;
        std::optional<QString> audioFormat;
        std::optional<QString> outputDir;
    };

    DownloadManager(YtDlpService &service, AppSettings &settings, HistoryStore &history, QObject *parent = nullptr);
    ~DownloadManager() override;

    static DownloadManager &shared();

    // Published state.
    const QList<DownloadItem *> &items() const { return m_items; }
    bool engineReady() const { return m_engineReady; }
    QString engineVersion() const { return m_engineVersion; }
    std::optional<QString> engineError() const { return m_engineError; }
    std::optional<QString> cleanupError() const { return m_cleanupError; }
    // The user has seen the clean-up failure.
    void dismissCleanupError();
    bool isPaused() const { return m_isPaused; }
    YtDlpService &service() const { return m_service; }
    AppSettings &settings() const { return m_settings; }

    void setOverrides(const Overrides &overrides) { m_overrides = overrides; }

    void add(const QStringList &urls, const std::optional<QString> &referer = std::nullopt,
             const std::optional<QString> &userAgent = std::nullopt, const std::optional<QString> &title = std::nullopt,
             const std::optional<BrowserSession> &session = std::nullopt);
    void bootEngine(bool forceCheck);
    void reloadEngine();
    double overallProgress() const;
    QList<DownloadItem *> activeItems() const;
    static QString siteName(const QString &text);

    void pause(DownloadItem *item);
    void resume(DownloadItem *item);
    void retry(DownloadItem *item);
    void cancel(DownloadItem *item);
    void remove(DownloadItem *item);
    void pauseAll();
    // Kills every running engine group at once, for a front end that exits without waiting.
    void killEngines();
    void resumeAll();
    void clearFinished();

    // The clipboard the watch reads (not owned); without one the watch never adds anything.
    void setClipboard(ClipboardSource *source);
    // Adds each link the user copies while on (1.2 s poll); what is on the clipboard already
    // when it is turned on is not taken.
    void setClipboardWatch(bool on);
    ClipboardWatch &clipboardWatch() const { return *m_clipboardWatch; }

    // Applies one progress report or output line of a running download.
    void handle(const YtDlpProgress &record, const QUuid &id);
    void appendLog(const QString &line, const QUuid &id);

    // Bookkeeping visible to tests and front ends.
    int runningJobs() const { return static_cast<int>(m_jobs.size()); }
    int runningProbes() const { return m_runningProbes; }
    bool hasJob(const QUuid &id) const { return m_jobs.contains(id); }
    // Total time spent scheduling, for the queue benchmark.
    qint64 pumpNanoseconds() const { return m_pumpNanoseconds; }
    QString logOf(const QUuid &id) const { return m_logBuffers.value(id); }

    // Most metadata probes that run at once; the rest wait, still analysing.
    int probeLimit() const;

    static constexpr qsizetype logLimit = 8000;
    static constexpr qsizetype logKeep = 6000;

Q_SIGNALS:
    // Any published field or any listed item changed.
    void changed();
    // Items were added to or removed from the list.
    void itemsChanged();
    // An item reached finished or failed (front ends that report outcomes listen here).
    void itemConcluded(DownloadItem *item);
    // A job has ended and its bookkeeping is gone.
    void jobEnded(const QUuid &id);

private:
    friend class AnalysisJob;
    friend class DownloadJob;
    friend class QueueJob;

    DownloadItem *find(const QUuid &id) const;
    void insertItem(qsizetype index, DownloadItem *item);
    void removeFromList(DownloadItem *item);
    void releaseIfUnlisted(DownloadItem *item);
    void queueAnalysis(DownloadItem *item);
    void pump();
    void start(DownloadItem *item);
    void finishJob(const QUuid &id);
    void completeJob(const QUuid &id);
    void stopWork(DownloadItem *item);
    void cleanTemporaryFiles(DownloadItem *item);
    // Once per output folder: removes the partial folders that earlier programs left and that
    // no item of this queue can continue.
    void sweepLeftovers(const QString &outputDir);
    void setEngineState(bool ready, const QString &version, const std::optional<QString> &error);

    // Probe slots: analysis jobs ask for one and give it back when their probe ends.
    void requestProbeSlot(AnalysisJob *job);
    void withdrawProbeRequest(AnalysisJob *job);
    void releaseProbeSlot();
    void grantProbeSlots();

    // Called by jobs.
    void applyMetadata(DownloadItem *item, const VideoMetadata &metadata);
    void setProcess(const QUuid &id, EngineProcess *process);
    void concludeFinished(DownloadItem *item, const QString &outputFile);
    void concludeFailed(DownloadItem *item, const QString &summary, const QString &details);

    YtDlpService &m_service;
    AppSettings &m_settings;
    HistoryStore &m_history;
    Overrides m_overrides;

    QList<DownloadItem *> m_items;
    bool m_engineReady = false;
    QString m_engineVersion;
    std::optional<QString> m_engineError;
    std::optional<QString> m_cleanupError;
    bool m_isPaused = false;

    QHash<QUuid, QueueJob *> m_jobs;
    QHash<QUuid, EngineProcess *> m_processes;
    QSet<QUuid> m_transfersReadyForProcessing;
    QHash<QUuid, QString> m_logBuffers;
    QSet<QString> m_sweptFolders;

    int m_runningProbes = 0;
    qint64 m_pumpNanoseconds = 0;
    std::deque<QPointer<AnalysisJob>> m_probeQueue;
    ClipboardWatch *m_clipboardWatch = nullptr;
};
