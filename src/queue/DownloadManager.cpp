#include "DownloadManager.h"

#include "engine/YtDlpService.h"
#include "platform/Notifications.h"
#include "queue/AnalysisJob.h"
#include "queue/ClipboardWatch.h"
#include "queue/DownloadJob.h"
#include "queue/PartialFolders.h"
#include "shared/BrowserDownloadLink.h"
#include "shared/L10n.h"
#include "store/AppSettings.h"
#include "store/HistoryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <filesystem>

using namespace Qt::StringLiterals;

namespace {

constexpr int minimumProbeSlots = 4;
const QString destinationPrefix = u"[download] Destination:"_s;

std::optional<QUrl> thumbnailFrom(const std::optional<QString> &text)
{
    if (!text)
        return std::nullopt;
    // The same tolerant parse that accepted the link itself.
    const QUrl url(*text);
    return url.isValid() && !url.isEmpty() ? std::optional(url) : std::nullopt;
}

// Deletes a folder tree without following links; the reason when something stays.
bool removeTree(const QString &path, QString *error)
{
    std::error_code code;
    std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(path).toStdString()), code);
    if (!code)
        return true;
    *error = QString::fromLocal8Bit(code.message());
    return false;
}

} // namespace

DownloadManager::DownloadManager(YtDlpService &service, AppSettings &settings, HistoryStore &history, QObject *parent)
    : QObject(parent)
    , m_service(service)
    , m_settings(settings)
    , m_history(history)
    , m_clipboardWatch(new ClipboardWatch(this))
{
    connect(m_clipboardWatch, &ClipboardWatch::copied, this, [this](const QString &text) { add({text}); });
    Notifications::requestPermission();
    bootEngine(false);
}

DownloadManager::~DownloadManager()
{
    // Running engines must not outlive the queue that watches them.
    for (EngineProcess *process : std::as_const(m_processes))
        YtDlpService::stop(process);
}

DownloadManager &DownloadManager::shared()
{
    static DownloadManager *instance = new DownloadManager(YtDlpService::shared(), AppSettings::shared(),
                                                           HistoryStore::shared(), QCoreApplication::instance());
    return *instance;
}

void DownloadManager::setClipboard(ClipboardSource *source)
{
    m_clipboardWatch->setSource(source);
}

void DownloadManager::setClipboardWatch(bool on)
{
    m_clipboardWatch->setEnabled(on);
}

// ---- the list ---------------------------------------------------------------------------

DownloadItem *DownloadManager::find(const QUuid &id) const
{
    const auto found = std::find_if(m_items.cbegin(), m_items.cend(), [&id](DownloadItem *item) { return item->id() == id; });
    return found == m_items.cend() ? nullptr : *found;
}

void DownloadManager::insertItem(qsizetype index, DownloadItem *item)
{
    item->setParent(this);
    connect(item, &DownloadItem::changed, this, &DownloadManager::changed);
    m_items.insert(index, item);
}

void DownloadManager::removeFromList(DownloadItem *item)
{
    if (m_items.removeAll(item) == 0)
        return;
    disconnect(item, &DownloadItem::changed, this, &DownloadManager::changed);
    Q_EMIT itemsChanged();
    Q_EMIT changed();
    releaseIfUnlisted(item);
}

// An item off the list is released once no job refers to it any more.
void DownloadManager::releaseIfUnlisted(DownloadItem *item)
{
    if (item && !m_items.contains(item) && !m_jobs.contains(item->id()))
        item->deleteLater();
}

// ---- adding and analysis ------------------------------------------------------------------

void DownloadManager::add(const QStringList &urls, const std::optional<QString> &referer,
                          const std::optional<QString> &userAgent, const std::optional<QString> &title,
                          const std::optional<BrowserSession> &session)
{
    QStringList accepted;
    for (const QString &candidate : urls) {
        const QString trimmed = candidate.trimmed();
        if (BrowserDownloadLink::webURL(trimmed))
            accepted.append(trimmed);
    }
    if (accepted.isEmpty())
        return;

    const QString outputDir = m_overrides.outputDir.value_or(m_settings.downloadDir());
    const int quality = m_overrides.quality.value_or(m_settings.defaultQuality());
    const QString audioFormat = m_overrides.audioFormat.value_or(m_settings.audioFormat());
    const bool reuseSession = m_settings.reuseBrowserSession();
    for (const QString &url : std::as_const(accepted)) {
        auto *item = new DownloadItem(url, outputDir);
        item->setBrowserReferer(referer);
        item->setBrowserUserAgent(userAgent);
        item->setBrowserSession(reuseSession ? session : std::nullopt);
        item->setTitle(title.value_or(QString()));
        item->setFormatSelector(AppSettings::formatSelector(quality));
        if (quality == -1) {
            item->setAudioOnly(true);
            item->setAudioFormat(audioFormat);
        }
        insertItem(0, item);
        queueAnalysis(item);
    }
    Q_EMIT itemsChanged();
    Q_EMIT changed();
}

void DownloadManager::queueAnalysis(DownloadItem *item)
{
    item->setStatus(DownloadStatus::analyzing);
    auto *job = new AnalysisJob(*this, item);
    m_jobs.insert(item->id(), job);
    job->start();
}

int DownloadManager::probeLimit() const
{
    return std::max(minimumProbeSlots, m_settings.maxConcurrent());
}

void DownloadManager::requestProbeSlot(AnalysisJob *job)
{
    m_probeQueue.emplace_back(job);
    grantProbeSlots();
}

void DownloadManager::grantProbeSlots()
{
    while (m_runningProbes < probeLimit() && !m_probeQueue.empty()) {
        const QPointer<AnalysisJob> next = m_probeQueue.front();
        m_probeQueue.pop_front();
        if (!next)
            continue;
        ++m_runningProbes;
        next->beginProbe();
    }
}

void DownloadManager::withdrawProbeRequest(AnalysisJob *job)
{
    std::erase_if(m_probeQueue, [job](const QPointer<AnalysisJob> &waiting) { return waiting == job || !waiting; });
}

void DownloadManager::releaseProbeSlot()
{
    --m_runningProbes;
    grantProbeSlots();
}

void DownloadManager::applyMetadata(DownloadItem *item, const VideoMetadata &metadata)
{
    if (metadata.isPlaylist && !metadata.entries.isEmpty()) {
        const std::optional<QUrl> thumbnail = thumbnailFrom(metadata.thumbnail);
        removeFromList(item);
        qsizetype index = 0;
        for (const VideoMetadata::PlaylistEntry &entry : metadata.entries) {
            auto *entryItem = new DownloadItem(entry.url, item->outputDir());
            entryItem->setTitle(entry.title);
            entryItem->setDuration(entry.duration);
            entryItem->setPlaylistTitle(metadata.playlistTitle);
            entryItem->setPlaylistIndex(static_cast<int>(index + 1));
            entryItem->setFormatSelector(item->formatSelector());
            entryItem->setAudioOnly(item->audioOnly());
            entryItem->setAudioFormat(item->audioFormat());
            entryItem->setBrowserReferer(item->browserReferer());
            entryItem->setBrowserUserAgent(item->browserUserAgent());
            entryItem->setBrowserSession(item->browserSession());
            entryItem->setThumbnailURL(thumbnail);
            insertItem(index++, entryItem);
        }
        Q_EMIT itemsChanged();
        Q_EMIT changed();
        return;
    }
    if (item->title().isEmpty())
        item->setTitle(metadata.title);
    item->setSite(metadata.site);
    item->setThumbnailURL(thumbnailFrom(metadata.thumbnail));
    item->setDuration(metadata.duration);
    item->setStatus(DownloadStatus::pending);
}

// ---- scheduling ---------------------------------------------------------------------------

void DownloadManager::pump()
{
    if (!m_engineReady || m_isPaused)
        return;
    QElapsedTimer timer;
    timer.start();
    const auto account = qScopeGuard([&] { m_pumpNanoseconds += timer.nsecsElapsed(); });
    const int limit = std::max(1, m_settings.maxConcurrent());
    // Full already: no need to walk a long list of items that are still being analysed.
    if (m_jobs.size() >= limit)
        return;
    // A snapshot: starting an item never changes the list, but stay safe against re-entry.
    const QList<DownloadItem *> snapshot = m_items;
    for (DownloadItem *item : snapshot) {
        if (item->status() != DownloadStatus::pending || m_jobs.contains(item->id()))
            continue;
        if (m_jobs.size() >= limit)
            break;
        start(item);
    }
}

void DownloadManager::start(DownloadItem *item)
{
    QDir().mkpath(item->outputDir());

    DownloadOptions options;
    options.url = item->url();
    options.formatSelector = item->formatSelector();
    options.outputDir = item->outputDir();
    options.filenameTemplate = m_settings.filenameTemplate();
    options.audioOnly = item->audioOnly();
    options.audioFormat = item->audioFormat();
    options.forceMP4 = m_settings.postprocessing() == u"mp4"_s;
    options.subtitles = m_settings.downloadSubtitles();
    options.subtitleLangs = m_settings.subtitleLangs();
    options.embedMetadata = m_settings.embedMetadata();
    options.cookiesBrowser = m_settings.cookiesBrowser();
    options.extraArgs = item->extraArgs();
    options.referer = item->browserReferer();
    options.userAgent = item->browserUserAgent();
    options.session = item->browserSession();
    options.concurrentFragments = m_settings.concurrentFragments();
    options.temporaryDirectory = item->temporaryDirectory();

    // Partial files an earlier program left for the same link and options are continued.
    PartialFolders::prepare(*options.temporaryDirectory, options.url, PartialFolders::fingerprint(options));
    sweepLeftovers(item->outputDir());

    item->setStatus(DownloadStatus::downloading);
    item->setDownloadedBytes(0);
    m_transfersReadyForProcessing.remove(item->id());
    item->setErrorMessage(std::nullopt);
    item->setErrorDetails(std::nullopt);

    auto *job = new DownloadJob(*this, item, options);
    m_jobs.insert(item->id(), job);
    job->start();
}

void DownloadManager::sweepLeftovers(const QString &outputDir)
{
    if (m_sweptFolders.contains(outputDir))
        return;
    QSet<QString> names;
    QSet<QString> urls;
    for (const DownloadItem *item : std::as_const(m_items)) {
        if (item->outputDir() != outputDir)
            continue;
        // A playlist being analysed may still bring entries whose leftovers are wanted.
        if (item->status() == DownloadStatus::analyzing)
            return;
        names.insert(item->id().toString(QUuid::WithoutBraces).toUpper());
        urls.insert(item->url());
    }
    PartialFolders::sweep(outputDir, names, urls);
    m_sweptFolders.insert(outputDir);
}

void DownloadManager::setProcess(const QUuid &id, EngineProcess *process)
{
    m_processes.insert(id, process);
}

void DownloadManager::finishJob(const QUuid &id)
{
    QueueJob *job = m_jobs.value(id);
    EngineProcess *process = m_processes.value(id);
    if (job && job->isCanceled() && process) {
        // A stopped engine may still write into the temporary folder: wait for its whole group.
        YtDlpService::waitForExit(process, true, this, [this, id] { completeJob(id); });
        return;
    }
    completeJob(id);
}

void DownloadManager::completeJob(const QUuid &id)
{
    QueueJob *job = m_jobs.take(id);
    EngineProcess *process = m_processes.take(id);
    m_transfersReadyForProcessing.remove(id);
    m_logBuffers.remove(id);
    DownloadItem *item = job ? job->item() : nullptr;
    if (item && (item->status() == DownloadStatus::canceled || item->status() == DownloadStatus::finished))
        cleanTemporaryFiles(item);
    if (process)
        process->deleteLater();
    if (job)
        job->deleteLater();
    releaseIfUnlisted(item);
    pump();
    Q_EMIT jobEnded(id);
}

// ---- engine readiness -----------------------------------------------------------------------

void DownloadManager::bootEngine(bool forceCheck)
{
    m_service.locateBinaries(m_settings.customYtdlpPath(), forceCheck, this, [this] {
        setEngineState(m_service.isAvailable(), m_service.version(), m_service.availabilityError());
        pump();
    });
}

void DownloadManager::reloadEngine()
{
    setEngineState(false, m_engineVersion, std::nullopt);
    bootEngine(true);
}

void DownloadManager::setEngineState(bool ready, const QString &version, const std::optional<QString> &error)
{
    if (m_engineReady == ready && m_engineVersion == version && m_engineError == error)
        return;
    m_engineReady = ready;
    m_engineVersion = version;
    m_engineError = error;
    Q_EMIT changed();
}

// ---- derived values -------------------------------------------------------------------------

double DownloadManager::overallProgress() const
{
    double sum = 0;
    int count = 0;
    for (const DownloadItem *item : m_items) {
        if (isActive(item->status())) {
            sum += item->progress();
            ++count;
        }
    }
    return count == 0 ? 0 : sum / count;
}

QList<DownloadItem *> DownloadManager::activeItems() const
{
    QList<DownloadItem *> active;
    for (DownloadItem *item : m_items) {
        const DownloadStatus status = item->status();
        if (isActive(status) || status == DownloadStatus::pending || status == DownloadStatus::paused)
            active.append(item);
    }
    return active;
}

QString DownloadManager::siteName(const QString &text)
{
    const QUrl url(text);
    const QString host = url.isValid() ? url.host() : QString();
    if (host.isEmpty())
        return text;
    return QString(host).remove(u"www."_s);
}

// ---- progress and log -----------------------------------------------------------------------

void DownloadManager::handle(const YtDlpProgress &record, const QUuid &id)
{
    DownloadItem *item = find(id);
    if (!item || !isActive(item->status()))
        return;
    switch (record.phase) {
    case YtDlpProgress::Phase::downloading: {
        m_transfersReadyForProcessing.remove(id);
        const std::optional<double> fraction = record.fraction();
        item->setStatus(DownloadStatus::downloading);
        item->setDownloadedBytes(record.downloaded);
        item->setTotalBytes(record.total);
        item->setTotalIsEstimated(record.totalIsEstimated);
        item->setProgressKnown(fraction.has_value());
        item->setProgress(fraction.value_or(0));
        item->setSpeed(record.speed);
        item->setEta(record.eta);
        break;
    }
    case YtDlpProgress::Phase::processing:
        if (m_transfersReadyForProcessing.contains(id))
            item->setStatus(DownloadStatus::processing);
        break;
    case YtDlpProgress::Phase::finished:
        m_transfersReadyForProcessing.insert(id);
        item->setProgress(1);
        item->setProgressKnown(true);
        break;
    }
}

void DownloadManager::appendLog(const QString &line, const QUuid &id)
{
    DownloadItem *item = find(id);
    if (!item || !isActive(item->status()))
        return;
    const QString text = item->browserSession() ? item->browserSession()->redacting(line) : line;
    QString &buffer = m_logBuffers[id];
    buffer += text;
    buffer += u'\n';
    if (buffer.size() > logLimit)
        buffer = buffer.right(logKeep);

    if (item->title().isEmpty() && text.startsWith(destinationPrefix)) {
        const QString path = text.mid(destinationPrefix.size()).trimmed();
        const QString name = path.section(u'/', -1);
        const qsizetype dot = name.lastIndexOf(u'.');
        item->setTitle(dot > 0 ? name.left(dot) : name);
    }
    if (item->site().isEmpty())
        item->setSite(siteName(item->url()));
}

// ---- conclusion -----------------------------------------------------------------------------

void DownloadManager::concludeFailed(DownloadItem *item, const QString &summary, const QString &details)
{
    // The texts first: whoever reacts to the new status reads them at once.
    item->setErrorMessage(summary);
    item->setErrorDetails(details);
    item->setStatus(DownloadStatus::failed);
    Q_EMIT itemConcluded(item);
}

void DownloadManager::concludeFinished(DownloadItem *item, const QString &outputFile)
{
    const QDateTime now = QDateTime::currentDateTimeUtc();
    item->setBrowserSession(std::nullopt);
    item->setStatus(DownloadStatus::finished);
    item->setProgress(1);
    item->setFinishedAt(now);
    item->setOutputFile(outputFile);

    HistoryEntry entry;
    entry.id = item->id();
    entry.url = item->url();
    entry.title = item->displayTitle();
    entry.site = item->site();
    entry.resolution = item->resolution();
    entry.ext = item->audioOnly() ? item->audioFormat().toUpper() : item->ext();
    entry.filePath = outputFile;
    if (item->thumbnailURL())
        entry.thumbnailURL = item->thumbnailURL()->toString(QUrl::FullyEncoded);
    entry.finishedAt = now;
    m_history.add(entry);

    if (m_settings.showNotifications())
        Notifications::post(L10n::tr(u"下载完成"_s), item->displayTitle(), item->id().toString(QUuid::WithoutBraces).toUpper());
    Q_EMIT itemConcluded(item);
}

// ---- user control ---------------------------------------------------------------------------

void DownloadManager::stopWork(DownloadItem *item)
{
    if (QueueJob *job = m_jobs.value(item->id()))
        job->cancel();
    if (EngineProcess *process = m_processes.value(item->id()))
        YtDlpService::stop(process);
}

void DownloadManager::pause(DownloadItem *item)
{
    if (!isActive(item->status()))
        return;
    item->setStatus(DownloadStatus::paused);
    stopWork(item);
}

void DownloadManager::resume(DownloadItem *item)
{
    if (item->status() != DownloadStatus::paused && item->status() != DownloadStatus::failed)
        return;
    item->setStatus(DownloadStatus::pending);
    pump();
}

void DownloadManager::retry(DownloadItem *item)
{
    if (item->status() != DownloadStatus::failed && item->status() != DownloadStatus::canceled)
        return;
    if (!m_items.contains(item))
        return;
    item->setProgress(0);
    item->setDownloadedBytes(0);
    item->setErrorMessage(std::nullopt);
    item->setStatus(DownloadStatus::pending);
    pump();
}

void DownloadManager::cancel(DownloadItem *item)
{
    // Keeps the item alive until this call is done, whatever the list does.
    const QPointer<DownloadItem> guard(item);
    item->setStatus(DownloadStatus::canceled);
    item->setBrowserSession(std::nullopt);
    const bool hasJob = m_jobs.contains(item->id());
    stopWork(item);
    if (!hasJob)
        cleanTemporaryFiles(item);
    removeFromList(item);
    pump();
}

void DownloadManager::remove(DownloadItem *item)
{
    if (item->status() != DownloadStatus::finished) {
        cancel(item);
        return;
    }
    cleanTemporaryFiles(item);
    removeFromList(item);
}

void DownloadManager::pauseAll()
{
    m_isPaused = true;
    Q_EMIT changed();
    const QList<DownloadItem *> snapshot = m_items;
    for (DownloadItem *item : snapshot) {
        if (isActive(item->status())) {
            item->setStatus(DownloadStatus::paused);
            stopWork(item);
        }
    }
}

void DownloadManager::killEngines()
{
    for (EngineProcess *process : std::as_const(m_processes))
        EngineProcess::killNow(process);
}

void DownloadManager::resumeAll()
{
    m_isPaused = false;
    Q_EMIT changed();
    for (DownloadItem *item : std::as_const(m_items)) {
        if (item->status() == DownloadStatus::paused)
            item->setStatus(DownloadStatus::pending);
    }
    pump();
}

void DownloadManager::clearFinished()
{
    const QList<DownloadItem *> snapshot = m_items;
    for (DownloadItem *item : snapshot) {
        const DownloadStatus status = item->status();
        if (status == DownloadStatus::finished || status == DownloadStatus::canceled || status == DownloadStatus::failed)
            remove(item);
    }
}

void DownloadManager::dismissCleanupError()
{
    if (!m_cleanupError)
        return;
    m_cleanupError.reset();
    Q_EMIT changed();
}

void DownloadManager::cleanTemporaryFiles(DownloadItem *item)
{
    const QString directory = item->temporaryDirectory();
    const QFileInfo info(directory);
    if (!info.exists() && !info.isSymLink())
        return;
    QString error;
    if (!removeTree(directory, &error)) {
        m_cleanupError = L10n::tr(u"任务已移除，但临时文件清理失败：%@\n%@"_s, error, directory);
        Q_EMIT changed();
    }
}
