#pragma once

#include "engine/CancelToken.h"
#include "engine/DownloadOptions.h"
#include "engine/EngineProcess.h"
#include "queue/QueueJob.h"

#include <QPointer>

// Runs the engine for one item and concludes it: the file published, a history entry and a
// notification, or a failure with the engine's own words.
class DownloadJob : public QueueJob
{
    Q_OBJECT

public:
    enum class State { created, starting, running, done };

    DownloadJob(DownloadManager &manager, DownloadItem *item, const DownloadOptions &options);

    State state() const { return m_state; }
    void start() override;
    void cancel() override;
    EngineProcess *process() const override { return m_process.data(); }

private:
    void started(EngineProcess *process, const QString &error, bool canceled);
    void exited();
    void fail(const QString &description);
    void end();

    DownloadOptions m_options;
    CancelToken m_cancelToken;
    State m_state = State::created;
    QPointer<EngineProcess> m_process;
};
