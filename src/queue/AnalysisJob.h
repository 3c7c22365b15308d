#pragma once

#include "queue/QueueJob.h"

#include <QPointer>

class MetadataProbe;

// Asks the engine what the item's link is, then fills the item in or expands a playlist.
// It waits for a probe slot first, so a flood of links never starts a flood of engines.
class AnalysisJob : public QueueJob
{
    Q_OBJECT

public:
    enum class State { created, waitingForProbeSlot, probing, done };

    using QueueJob::QueueJob;

    State state() const { return m_state; }
    void start() override;
    void cancel() override;

    // The manager grants a slot.
    void beginProbe();

private:
    void concludeProbe();
    void end();

    State m_state = State::created;
    QPointer<MetadataProbe> m_probe;
};
