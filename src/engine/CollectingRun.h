#pragma once

#include "engine/EngineProcess.h"
#include "engine/RunResult.h"

#include <QObject>

// Runs an engine child to its end and hands over its whole output. Cancelling
// stops the child; a cancelled run never reports a result.
class CollectingRun : public QObject
{
    Q_OBJECT

public:
    enum class Outcome { completed, failedToStart, canceled };

    CollectingRun(const QString &program, const QStringList &arguments, const QProcessEnvironment &environment,
                  bool discardStandardError, QObject *parent = nullptr);

    void start();
    void cancel();

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

    EngineProcess m_process;
    Outcome m_outcome = Outcome::canceled;
    QString m_startError;
    bool m_canceled = false;
    bool m_finished = false;
};
