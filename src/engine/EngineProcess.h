#pragma once

#include "engine/ProcessLineBuffer.h"
#include "engine/SessionFiles.h"
#include "engine/YtDlpProgress.h"

#include <QObject>
#include <QPointer>
#include <QProcess>

#include <functional>

// One running engine child. It leads its own process group so that stopping it
// also reaches the programs it started (ffmpeg), and it dies with this program.
// Delete it only after it has exited.
class EngineProcess : public QObject
{
    Q_OBJECT

public:
    using ProgressHandler = std::function<void(const YtDlpProgress &)>;
    using LogHandler = std::function<void(const QString &)>;

    EngineProcess(const QString &program, const QStringList &arguments,
                  const QProcessEnvironment &environment, QObject *parent = nullptr);
    ~EngineProcess() override;

    // Keeps the whole output instead of splitting it into lines (short runs whose
    // output is needed at once).
    void setCollecting(bool discardStandardError);
    QByteArray collectedStandardOutput() const { return m_collectedOutput; }
    QByteArray collectedStandardError() const { return m_collectedError; }

    // The run's session files: recorded as owned by the child once it runs, removed
    // when it ends or cannot start.
    void setSessionFiles(std::shared_ptr<SessionFiles> files);

    // Lines that are not progress reports go through this before reaching the log.
    void setLineFilter(std::function<QString(const QString &)> filter);
    void setHandlers(ProgressHandler onProgress, LogHandler onLog);

    // Starts the child; `done` receives an empty text on success, else the start error.
    void start(QObject *context, std::function<void(const QString &error)> done);

    qint64 pid() const { return m_pid; }
    bool isRunning() const;
    bool hasExited() const { return m_exited; }
    int exitCode() const { return m_exitCode; }
    bool crashed() const { return m_crashed; }
    QStringList arguments() const { return m_process.arguments(); }

    // SIGTERM to the group (or the child alone when it leads none), SIGKILL one second
    // later if anything of it still lives. Never blocks.
    static void stop(EngineProcess *process);
    // SIGKILL to the group (or the child) at once, for a program that exits without waiting.
    static void killNow(EngineProcess *process);
    // Calls `done` once the child has exited; when `stopped`, also waits up to two
    // seconds for the rest of its group to go.
    static void waitForExit(EngineProcess *process, bool stopped, QObject *context, std::function<void()> done);

Q_SIGNALS:
    void exited();

private:
    void readStandardOutput(bool endOfFile);
    void readStandardError(bool endOfFile);
    void handleFinished(int exitCode, QProcess::ExitStatus status);
    QString filtered(const QString &line) const;

    QProcess m_process;
    ProcessLineBuffer m_standardOutput;
    ProcessLineBuffer m_standardError;
    ProgressHandler m_onProgress;
    LogHandler m_onLog;
    std::function<QString(const QString &)> m_lineFilter;
    std::shared_ptr<SessionFiles> m_sessionFiles;
    bool m_collecting = false;
    QByteArray m_collectedOutput;
    QByteArray m_collectedError;
    qint64 m_pid = 0;
    bool m_exited = false;
    bool m_crashed = false;
    int m_exitCode = -1;
};
