#include "DownloadJob.h"

#include "engine/CompletedFiles.h"
#include "engine/YtDlpService.h"
#include "queue/DownloadFailure.h"
#include "queue/DownloadManager.h"

DownloadJob::DownloadJob(DownloadManager &manager, DownloadItem *item, const DownloadOptions &options)
    : QueueJob(manager, item)
    , m_options(options)
{
}

void DownloadJob::start()
{
    if (isCanceled()) {
        end();
        return;
    }
    m_state = State::starting;
    QPointer<DownloadManager> manager(&m_manager);
    const QUuid id = this->id();
    m_manager.service().startDownload(
        m_options,
        [manager, id](const YtDlpProgress &record) {
            if (manager)
                manager->handle(record, id);
        },
        [manager, id](const QString &line) {
            if (manager)
                manager->appendLog(line, id);
        },
        this,
        [this](const YtDlpService::DownloadStart &outcome) { started(outcome.process, outcome.error, outcome.canceled); },
        m_cancelToken);
}

void DownloadJob::cancel()
{
    QueueJob::cancel();
    m_cancelToken.cancel();
}

void DownloadJob::started(EngineProcess *process, const QString &error, bool canceled)
{
    if (!process) {
        if (canceled || isCanceled())
            end();
        else
            fail(error);
        return;
    }
    m_process = process;
    m_state = State::running;
    m_manager.setProcess(id(), process);
    if (isCanceled())
        YtDlpService::stop(process);
    YtDlpService::waitForExit(process, false, this, [this] { exited(); });
}

void DownloadJob::exited()
{
    DownloadItem *item = m_item.data();
    if (isCanceled() || !item) {
        end();
        return;
    }
    if (m_process->exitCode() != 0 || m_process->crashed()) {
        const DownloadFailure failure = DownloadFailure::fromLog(m_manager.logOf(id()), m_process->exitCode());
        m_manager.concludeFailed(item, failure.summary, failure.details);
        end();
        return;
    }
    QString published;
    try {
        published = CompletedFiles::publishCompletedFiles(item->temporaryDirectory(), item->outputDir());
    } catch (const Error &error) {
        fail(error.description());
        return;
    }
    m_manager.concludeFinished(item, published);
    end();
}

void DownloadJob::fail(const QString &description)
{
    if (!isCanceled() && m_item)
        m_manager.concludeFailed(m_item.data(), description, description);
    end();
}

void DownloadJob::end()
{
    m_state = State::done;
    finish();
}
