#include "QueueJob.h"

#include "queue/DownloadItem.h"
#include "queue/DownloadManager.h"

QueueJob::QueueJob(DownloadManager &manager, DownloadItem *item)
    : QObject(&manager)
    , m_manager(manager)
    , m_item(item)
    , m_id(item->id())
{
}

void QueueJob::cancel()
{
    m_canceled = true;
}

void QueueJob::finish()
{
    if (m_finished)
        return;
    m_finished = true;
    m_manager.finishJob(m_id);
}
