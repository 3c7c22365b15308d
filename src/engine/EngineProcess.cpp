#include "EngineProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <csignal>
#include <memory>
#include <sys/prctl.h>
#include <sys/types.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int forcedKillDelayMs = 1000;
constexpr int groupWaitMs = 2000;
constexpr int groupProbeIntervalMs = 20;

bool groupExists(qint64 pid)
{
    return ::kill(-static_cast<pid_t>(pid), 0) == 0;
}

} // namespace

EngineProcess::EngineProcess(const QString &program, const QStringList &arguments,
                             const QProcessEnvironment &environment, QObject *parent)
    : QObject(parent)
{
    m_process.setProgram(program);
    m_process.setArguments(arguments);
    m_process.setProcessEnvironment(environment);
    const pid_t frontEnd = ::getpid();
    m_process.setChildProcessModifier([frontEnd] {
        ::setpgid(0, 0);
        // A front end killed outright must not leave its engine running; a parent that died
        // before the request took effect has already been replaced.
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (::getppid() != frontEnd)
            ::raise(SIGKILL);
    });
    connect(&m_process, &QProcess::readyReadStandardOutput, this, [this] { readStandardOutput(false); });
    connect(&m_process, &QProcess::readyReadStandardError, this, [this] { readStandardError(false); });
    connect(&m_process, &QProcess::finished, this, &EngineProcess::handleFinished);
}

EngineProcess::~EngineProcess()
{
    // QProcess would kill and wait for a child still running; make sure nothing blocks.
    if (m_process.state() != QProcess::NotRunning) {
        if (m_pid > 0)
            ::kill(-static_cast<pid_t>(m_pid), SIGKILL);
        m_process.kill();
        m_process.waitForFinished(1000);
    }
}

void EngineProcess::setCollecting(bool discardStandardError)
{
    m_collecting = true;
    if (discardStandardError)
        m_process.setStandardErrorFile(QProcess::nullDevice());
}

void EngineProcess::setSessionFiles(std::shared_ptr<SessionFiles> files)
{
    m_sessionFiles = std::move(files);
}

void EngineProcess::setLineFilter(std::function<QString(const QString &)> filter)
{
    m_lineFilter = std::move(filter);
}

void EngineProcess::setHandlers(ProgressHandler onProgress, LogHandler onLog)
{
    m_onProgress = std::move(onProgress);
    m_onLog = std::move(onLog);
}

void EngineProcess::start(QObject *context, std::function<void(const QString &error)> done)
{
    connect(&m_process, &QProcess::started, this, [this] {
        m_pid = m_process.processId();
        if (m_sessionFiles)
            m_sessionFiles->track(m_pid);
    });
    connect(&m_process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            m_sessionFiles.reset();
    });

    // Exactly one of started or a start error reaches the caller.
    auto reported = std::make_shared<bool>(false);
    auto report = [reported, done = std::move(done)](const QString &error) {
        if (*reported)
            return;
        *reported = true;
        done(error);
    };
    connect(&m_process, &QProcess::started, context, [report] { report(QString()); });
    connect(&m_process, &QProcess::errorOccurred, context, [this, report](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            report(m_process.errorString());
    });
    m_process.start(QIODevice::ReadOnly);
}

bool EngineProcess::isRunning() const
{
    return m_process.state() == QProcess::Running;
}

QString EngineProcess::filtered(const QString &line) const
{
    return m_lineFilter ? m_lineFilter(line) : line;
}

void EngineProcess::readStandardOutput(bool endOfFile)
{
    if (m_collecting) {
        m_collectedOutput += m_process.readAllStandardOutput();
        return;
    }
    const QStringList lines = m_standardOutput.append(m_process.readAllStandardOutput(), endOfFile);
    for (const QString &line : lines) {
        if (const std::optional<YtDlpProgress> progress = YtDlpProgress::parse(line)) {
            if (m_onProgress)
                m_onProgress(*progress);
        } else if (m_onLog) {
            m_onLog(filtered(line));
        }
    }
}

void EngineProcess::readStandardError(bool endOfFile)
{
    if (m_collecting) {
        m_collectedError += m_process.readAllStandardError();
        return;
    }
    const QStringList lines = m_standardError.append(m_process.readAllStandardError(), endOfFile);
    for (const QString &line : lines) {
        if (m_onLog)
            m_onLog(u"ERR: "_s + filtered(line));
    }
}

void EngineProcess::handleFinished(int exitCode, QProcess::ExitStatus status)
{
    readStandardOutput(true);
    readStandardError(true);
    m_sessionFiles.reset();
    m_exitCode = exitCode;
    m_crashed = status == QProcess::CrashExit;
    m_exited = true;
    Q_EMIT exited();
}

void EngineProcess::stop(EngineProcess *process)
{
    if (!process || !process->isRunning() || process->m_pid <= 0)
        return;
    const pid_t pid = static_cast<pid_t>(process->m_pid);
    const bool leadsGroup = ::getpgid(pid) == pid;
    if (leadsGroup)
        ::kill(-pid, SIGTERM);
    else
        process->m_process.terminate();

    QPointer<EngineProcess> guard(process);
    QTimer::singleShot(forcedKillDelayMs, QCoreApplication::instance(), [guard, pid, leadsGroup] {
        if (leadsGroup) {
            if (groupExists(pid))
                ::kill(-pid, SIGKILL);
        } else if (guard && guard->isRunning()) {
            ::kill(pid, SIGKILL);
        }
    });
}

void EngineProcess::killNow(EngineProcess *process)
{
    if (!process || !process->isRunning() || process->m_pid <= 0)
        return;
    const pid_t pid = static_cast<pid_t>(process->m_pid);
    if (::getpgid(pid) == pid)
        ::kill(-pid, SIGKILL);
    else
        ::kill(pid, SIGKILL);
}

void EngineProcess::waitForExit(EngineProcess *process, bool stopped, QObject *context, std::function<void()> done)
{
    const qint64 pid = process->m_pid;
    auto afterExit = [pid, stopped, context, done = std::move(done)] {
        if (!stopped || pid <= 0 || !groupExists(pid)) {
            done();
            return;
        }
        // Poll the group until it is gone or two seconds have passed.
        const QDeadlineTimer deadline(groupWaitMs);
        auto timer = new QTimer(context);
        timer->setInterval(groupProbeIntervalMs);
        connect(timer, &QTimer::timeout, context, [timer, pid, deadline, done] {
            if (groupExists(pid) && !deadline.hasExpired())
                return;
            timer->stop();
            timer->deleteLater();
            done();
        });
        timer->start();
    };
    if (process->hasExited() || (process->m_process.state() == QProcess::NotRunning && pid <= 0)) {
        afterExit();
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(process, &EngineProcess::exited, context, [connection, afterExit] {
        disconnect(*connection);
        afterExit();
    });
}
