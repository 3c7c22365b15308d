#include "AnalysisJob.h"

#include "engine/YtDlpService.h"
#include "queue/DownloadManager.h"
#include "store/AppSettings.h"

#include <QTimer>

void AnalysisJob::start()
{
    if (isCanceled() || !m_item) {
        end();
        return;
    }
    m_state = State::waitingForProbeSlot;
    m_manager.requestProbeSlot(this);
}

void AnalysisJob::cancel()
{
    QueueJob::cancel();
    switch (m_state) {
    case State::waitingForProbeSlot:
        m_manager.withdrawProbeRequest(this);
        // Never end inside the caller's pause or cancel: the caller may still be walking the list.
        QTimer::singleShot(0, this, [this] { end(); });
        break;
    case State::probing:
        if (m_probe)
            m_probe->cancel();
        break;
    case State::created:
    case State::done:
        break;
    }
}

void AnalysisJob::beginProbe()
{
    if (isCanceled() || !m_item) {
        m_manager.releaseProbeSlot();
        end();
        return;
    }
    m_state = State::probing;
    MetadataProbe::Query query;
    query.url = m_item->url();
    query.cookiesBrowser = m_manager.settings().cookiesBrowser();
    query.referer = m_item->browserReferer();
    query.userAgent = m_item->browserUserAgent();
    query.session = m_item->browserSession();
    m_probe = m_manager.service().fetchMetadata(query);
    m_probe->setParent(this);
    connect(m_probe.data(), &MetadataProbe::finished, this, &AnalysisJob::concludeProbe);
}

void AnalysisJob::concludeProbe()
{
    m_manager.releaseProbeSlot();
    MetadataProbe *probe = m_probe.data();
    const std::optional<VideoMetadata> metadata = probe ? probe->metadata() : std::nullopt;
    if (probe)
        probe->deleteLater();

    DownloadItem *item = m_item.data();
    if (!item || isCanceled()) {
        end();
        return;
    }
    if (!metadata) {
        // A failed probe is not shown: the item downloads without metadata.
        if (item->status() == DownloadStatus::analyzing)
            item->setStatus(DownloadStatus::pending);
        end();
        return;
    }
    if (item->status() != DownloadStatus::analyzing) {
        end();
        return;
    }
    m_manager.applyMetadata(item, *metadata);
    end();
}

void AnalysisJob::end()
{
    m_state = State::done;
    finish();
}
