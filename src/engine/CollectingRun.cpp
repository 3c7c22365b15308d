#include "CollectingRun.h"

CollectingRun::CollectingRun(const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &environment, bool discardStandardError, QObject *parent)
    : QObject(parent)
    , m_process(program, arguments, environment)
{
    m_process.setCollecting(discardStandardError);
    connect(&m_process, &EngineProcess::exited, this, [this] {
        if (!m_canceled) {
            finish(Outcome::completed);
            return;
        }
        EngineProcess::waitForExit(&m_process, true, this,
                                   [this] { finish(m_timedOut ? Outcome::timedOut : Outcome::canceled); });
    });
    m_timer.setSingleShot(true);
    connect(&m_timer, &QTimer::timeout, this, [this] {
        if (m_canceled || m_finished)
            return;
        m_timedOut = true;
        m_canceled = true;
        EngineProcess::stop(&m_process);
    });
}

void CollectingRun::start()
{
    if (m_canceled) {
        finish(Outcome::canceled);
        return;
    }
    m_process.start(this, [this](const QString &error) {
        if (!error.isEmpty()) {
            m_startError = error;
            finish(m_canceled ? Outcome::canceled : Outcome::failedToStart);
            return;
        }
        Q_EMIT started(m_process.pid());
        if (m_canceled)
            EngineProcess::stop(&m_process);
        else if (m_timeLimit.count() > 0)
            m_timer.start(m_timeLimit);
    });
}

void CollectingRun::cancel()
{
    if (m_canceled || m_finished)
        return;
    m_canceled = true;
    EngineProcess::stop(&m_process);
}

RunResult CollectingRun::result() const
{
    return RunResult::fromOutput(m_process.exitCode(), m_process.collectedStandardOutput(),
                                 m_process.collectedStandardError());
}

void CollectingRun::finish(Outcome outcome)
{
    if (m_finished)
        return;
    m_finished = true;
    m_outcome = outcome;
    m_timer.stop();
    // Never inside start() itself: the caller may not have connected yet.
    QMetaObject::invokeMethod(this, &CollectingRun::finished, Qt::QueuedConnection);
}
