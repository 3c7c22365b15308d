#pragma once

#include <QObject>
#include <QPointer>
#include <QUuid>

class DownloadItem;
class DownloadManager;
class EngineProcess;

// One asynchronous job of an item (analysis or download). A job checks its cancel flag at
// every waiting point and ends with exactly one DownloadManager::finishJob.
class QueueJob : public QObject
{
    Q_OBJECT

public:
    QueueJob(DownloadManager &manager, DownloadItem *item);

    QUuid id() const { return m_id; }
    DownloadItem *item() const { return m_item.data(); }
    bool isCanceled() const { return m_canceled; }

    virtual void start() = 0;
    virtual void cancel();
    // The engine process of a download job once it has started.
    virtual EngineProcess *process() const { return nullptr; }

protected:
    // The last step of every job.
    void finish();

    DownloadManager &m_manager;
    QPointer<DownloadItem> m_item;

private:
    const QUuid m_id;
    bool m_canceled = false;
    bool m_finished = false;
};
