#pragma once

#include "engine/EngineProcess.h"
#include "engine/RunResult.h"

#include <QObject>
#include <QTimer>

#include <chrono>

// Runs an engine child to its end and hands over its whole output. Cancelling
// stops the child; a cancelled run never reports a result.
class CollectingRun : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { completed, failedToStart, canceled, timedOut };

    CollectingRun(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                  bool discardStandardError, QObject *parent = nullptr);

    void start();
    void cancel();
    // Stops the child when it has not ended this long after its start; the run then ends
    // as timedOut. No limit unless set before start().
    void setTimeLimit(std::chrono::milliseconds limit) { m_timeLimit = limit; }

    Outcome outcome() const { return m_outcome; }
    QString startError() const { return m_startError; }
    RunResult result() const;
    QByteArray rawStandardOutput() const { return m_process.collectedStandardOutput(); }
    EngineProcess *process() { return &m_process; }

Q_SIGNALS:
    // The child runs; its session files (if any) record it as their owner.
    void started(qint64 pid);
    // Emitted once, after the child and its output are done (or it never started).
    void finished();

private:
    void finish(Outcome outcome);

    QTimer m_timer; // before the process: a process that ends in its destructor still stops it
    EngineProcess m_process;
    std::chrono::milliseconds m_timeLimit{0};
    bool m_timedOut = false;
    Outcome m_outcome = Outcome::canceled;
    QString m_startError;
    bool m_canceled = false;
    bool m_finished = false;
};
