#pragma once

#include "engine/CancelToken.h"
#include "engine/CollectingRun.h"
#include "engine/CommandBuilder.h"
#include "engine/DownloadOptions.h"
#include "engine/EngineProcess.h"
#include "engine/MetadataProbe.h"
#include "engine/YtDlpProgress.h"

#include <QObject>
#include <QProcessEnvironment>

#include <chrono>
#include <deque>
#include <functional>
#include <optional>

// The engine service: finds and checks yt-dlp and its tools, then starts its runs.
// Its operations are serialised: anything asked while a readiness check runs waits for it.
class YtDlpService : public QObject
{
    Q_OBJECT

public:
    struct DownloadStart
    {
        EngineProcess *process = nullptr; // owned by the caller; delete only after it exited
        QString error;
        bool canceled = false;
    };
    using StartHandler = std::function<void(const DownloadStart &)>;

    explicit YtDlpService(const QString &bundlePath, QObject *parent = nullptr);
    ~YtDlpService() override;

    // The instance for the bundle of the running program.
    static YtDlpService &shared();

    std::optional<QString> ytdlpPath() const { return m_ytdlpPath; }
    std::optional<QString> ffmpegPath() const { return m_ffmpegPath; }
    QString version() const { return m_version; }
    std::optional<QString> availabilityError() const { return m_availabilityError; }
    bool isAvailable() const { return m_ytdlpPath && !m_availabilityError; }
    bool isChecking() const { return m_checking; }

    QString toolsDirectory() const { return m_toolsDirectory; }
    QString pluginsDirectory() const { return m_pluginsDirectory; }
    QString bundleVersion() const { return m_bundleVersion; }
    // Whether the checked engine can impersonate a browser (it has curl_cffi's "chrome" target).
    bool canImpersonate() const { return m_canImpersonate; }
    CommandBuilder commandBuilder() const
    {
        return CommandBuilder(m_toolsDirectory, m_pluginsDirectory, m_canImpersonate);
    }
    // How long the check waits for each answer of the engine; a hung engine is unusable.
    void setQueryTimeLimit(std::chrono::milliseconds limit) { m_queryTimeLimit = limit; }

    // Finds and checks the engine; emits checkFinished() and calls `done` (on `context`)
    // when the outcome is known. A check whose files are unchanged since the last
    // successful one starts nothing.
    void locateBinaries(const QString &customPath, bool forceCheck, QObject *context = nullptr,
                        std::function<void()> done = {});

    // Starts a download run; `done` is called on `context`'s thread with the handle or the error.
    void startDownload(const DownloadOptions &options, EngineProcess::ProgressHandler onProgress,
                       EngineProcess::LogHandler onLog, QObject *context, StartHandler done,
                       CancelToken cancel = {});

    // Asks the engine what a link is; it starts after any running check. The caller owns the
    // probe and learns its outcome from MetadataProbe::finished.
    MetadataProbe *fetchMetadata(const MetadataProbe::Query &query);

    // A run whose whole output is needed at once; it starts after any running check.
    // The caller owns the returned run and learns its end from CollectingRun::finished.
    CollectingRun *runCollecting(const QString &program, const QStringList &arguments,
                                 const QProcessEnvironment &environment);

    static void stop(EngineProcess *process) { EngineProcess::stop(process); }
    static void waitForExit(EngineProcess *process, bool stopped, QObject *context, std::function<void()> done)
    {
        EngineProcess::waitForExit(process, stopped, context, std::move(done));
    }
    static std::optional<YtDlpProgress> parseProgressLine(QStringView line) { return YtDlpProgress::parse(line); }

    // The environment every engine child gets.
    QProcessEnvironment processEnvironment() const;

    // The oldest engine release that knows every option the runs pass.
    static bool isTooOld(const QString &version);

Q_SIGNALS:
    void checkFinished();

private:
    using Operation = std::function<void(std::function<void()> finished)>;

    void enqueue(Operation operation);
    void runNext();
    void check(const QString &customPath, bool forceCheck, const std::function<void()> &finished);
    void finishVersionQuery(CollectingRun *run, const QString &candidate, const QStringList &signature,
                            const std::function<void()> &conclude);
    void finishImpersonationQuery(CollectingRun *run, const QString &candidate, const QString &version,
                                  const QStringList &signature);
    void markUnavailable(const QString &message);
    void markAvailable(const QString &candidate, const QString &version, bool canImpersonate);
    void startNow(const DownloadOptions &options, EngineProcess::ProgressHandler onProgress,
                  EngineProcess::LogHandler onLog, QObject *context, const StartHandler &done,
                  const CancelToken &cancel);

    std::optional<QString> m_ytdlpPath;
    std::optional<QString> m_ffmpegPath;
    QString m_version;
    std::optional<QString> m_availabilityError;
    bool m_canImpersonate = false;
    std::chrono::milliseconds m_queryTimeLimit{60000};
    const QString m_toolsDirectory;
    const QString m_pluginsDirectory;
    const QString m_bundleVersion;

    std::deque<Operation> m_operations;
    bool m_busy = false;
    bool m_startingOperation = false;
    quint64 m_generation = 0;
    bool m_checking = false;
};
