#include "YtDlpService.h"

#include "engine/EngineSignature.h"
#include "engine/YtDlpError.h"
#include "platform/Bundle.h"
#include "shared/BrowserBridge.h"
#include "shared/L10n.h"

#include <QCoreApplication>
#include <QJsonValue>
#include <QRegularExpression>
#include <QStringDecoder>

using namespace Qt::StringLiterals;

namespace {

QString bundleVersionOf(const QString &bundlePath)
{
    const QJsonValue value = Bundle(bundlePath).infoValue(u"CFBundleVersion"_s);
    return value.isString() ? value.toString() : QString();
}

QString fileName(const QString &path)
{
    return path.section(u'/', -1);
}

} // namespace

YtDlpService::YtDlpService(const QString &bundlePath, QObject *parent)
    : QObject(parent)
    , m_toolsDirectory(Bundle(bundlePath).helpers())
    , m_pluginsDirectory(Bundle(bundlePath).resources() + u"/EnginePlugins"_s)
    , m_bundleVersion(bundleVersionOf(bundlePath))
{
}

YtDlpService::~YtDlpService() = default;

YtDlpService &YtDlpService::shared()
{
    static YtDlpService *instance = new YtDlpService(Bundle::main().path(), QCoreApplication::instance());
    return *instance;
}

QProcessEnvironment YtDlpService::processEnvironment() const
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"PATH"_s, m_toolsDirectory + u":/usr/bin:/bin:/usr/sbin:/sbin"_s);
    for (const QString &name : {u"PYTHONHOME"_s, u"PYTHONPATH"_s, u"PYTHONUSERBASE"_s, u"VIRTUAL_ENV"_s,
                                u"KESTRO_SESSION_FILE"_s})
        environment.remove(name);
    return environment;
}

bool YtDlpService::isTooOld(const QString &version)
{
    static const QRegularExpression releaseDate(u"^(\\d{4})\\.(\\d{2})\\.(\\d{2})(?:\\.?\\d+)?$"_s);
    const QRegularExpressionMatch match = releaseDate.match(version);
    if (!match.hasMatch())
        return false;
    const int date = match.captured(1).toInt() * 10000 + match.captured(2).toInt() * 100 + match.captured(3).toInt();
    return date < 20251112;
}

void YtDlpService::enqueue(Operation operation)
{
    m_operations.push_back(std::move(operation));
    if (!m_busy)
        runNext();
}

void YtDlpService::runNext()
{
    while (!m_busy && !m_operations.empty()) {
        Operation operation = std::move(m_operations.front());
        m_operations.pop_front();
        m_busy = true;
        const quint64 generation = ++m_generation;
        m_startingOperation = true;
        operation([this, generation] {
            if (!m_busy || generation != m_generation)
                return;
            m_busy = false;
            // An operation that finished later resumes the queue itself.
            if (!m_startingOperation)
                runNext();
        });
        m_startingOperation = false;
    }
}

void YtDlpService::locateBinaries(const QString &customPath, bool forceCheck, QObject *context,
                                  std::function<void()> done)
{
    QPointer<QObject> guard(context);
    enqueue([this, customPath, forceCheck, guard, done = std::move(done)](std::function<void()> finished) {
        check(customPath, forceCheck, [guard, done, finished = std::move(finished)] {
            if (guard && done)
                done();
            finished();
        });
    });
}

void YtDlpService::check(const QString &customPath, bool forceCheck, const std::function<void()> &finished)
{
    SessionFiles::cleanAbandoned();
    m_ytdlpPath.reset();
    m_ffmpegPath.reset();
    m_version.clear();
    m_availabilityError.reset();
    m_canImpersonate = false;
    m_checking = true;

    const QString custom = customPath.trimmed();
    const QString candidate = custom.isEmpty() ? m_toolsDirectory + u"/yt-dlp"_s : custom;
    const QStringList files{candidate, m_toolsDirectory + u"/ffmpeg"_s, m_toolsDirectory + u"/ffprobe"_s,
                            m_toolsDirectory + u"/deno"_s};

    auto conclude = [this, finished] {
        m_checking = false;
        Q_EMIT checkFinished();
        finished();
    };

    const EngineSignature::Result signature = EngineSignature::build(m_bundleVersion, files);
    if (signature.failingPath) {
        EngineSignature::forget();
        markUnavailable(*signature.failingPath == custom
                            ? L10n::tr(u"自定义引擎不可用，请检查路径或清空以使用内置引擎。"_s)
                            : L10n::tr(u"内置组件 %@ 缺失，请重新安装完整的 Brisvane Download。"_s,
                                       fileName(*signature.failingPath)));
        conclude();
        return;
    }

    if (!forceCheck) {
        if (const std::optional<EngineSignature::Record> stored = EngineSignature::stored(signature.items);
            stored && !isTooOld(stored->version)) {
            markAvailable(candidate, stored->version, stored->canImpersonate);
            conclude();
            return;
        }
    }

    EngineSignature::forget();
    auto *run = new CollectingRun(candidate, {u"--ignore-config"_s, u"--version"_s}, processEnvironment(),
                                  /*discardStandardError=*/true, this);
    run->setTimeLimit(m_queryTimeLimit);
    connect(run, &CollectingRun::finished, this, [this, run, candidate, items = signature.items, conclude] {
        run->deleteLater();
        finishVersionQuery(run, candidate, items, conclude);
    });
    run->start();
}

void YtDlpService::finishVersionQuery(CollectingRun *run, const QString &candidate, const QStringList &signature,
                                      const std::function<void()> &conclude)
{
    const auto startFailure = [this, &conclude](const QString &description) {
        markUnavailable(L10n::tr(u"下载引擎无法启动，请重新安装或检查自定义路径。%@"_s, description));
        conclude();
    };
    if (run->outcome() == CollectingRun::Outcome::timedOut) {
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(m_queryTimeLimit).count();
        startFailure(L10n::tr(u"引擎在 %d 秒内没有回答版本查询"_s, static_cast<int>(seconds)));
        return;
    }
    if (run->outcome() != CollectingRun::Outcome::completed) {
        startFailure(run->startError());
        return;
    }
    const EngineProcess *process = run->process();
    if (process->exitCode() != 0 || process->crashed()) {
        startFailure(YtDlpError::extractionFailed(L10n::tr(u"退出码 %d"_s, process->exitCode())).description());
        return;
    }
    // Output that is not valid UTF-8 counts as no output.
    const QByteArray output = run->rawStandardOutput();
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(output);
    if (decoder.hasError())
        text.clear();
    const QString version = text.trimmed();
    if (version.isEmpty()) {
        startFailure(YtDlpError::extractionFailed(L10n::tr(u"引擎未返回版本"_s)).description());
        return;
    }
    if (isTooOld(version)) {
        markUnavailable(L10n::tr(u"下载引擎版本过旧（%@），需要 2025.11.12 或更新的 yt-dlp。"_s, version));
        conclude();
        return;
    }

    // The engine lists its impersonation targets and marks those whose HTTP client is missing.
    auto *targets = new CollectingRun(candidate, {u"--ignore-config"_s, u"--list-impersonate-targets"_s},
                                      processEnvironment(), /*discardStandardError=*/true, this);
    targets->setTimeLimit(m_queryTimeLimit);
    connect(targets, &CollectingRun::finished, this, [this, targets, candidate, version, signature, conclude] {
        targets->deleteLater();
        finishImpersonationQuery(targets, candidate, version, signature);
        conclude();
    });
    targets->start();
}

void YtDlpService::finishImpersonationQuery(CollectingRun *run, const QString &candidate, const QString &version,
                                            const QStringList &signature)
{
    // An engine that cannot answer this still downloads, just without impersonation.
    bool canImpersonate = false;
    if (run->outcome() == CollectingRun::Outcome::completed && run->process()->exitCode() == 0
        && !run->process()->crashed())
        canImpersonate = CommandBuilder::listsChromeTarget(QString::fromUtf8(run->rawStandardOutput()));
    markAvailable(candidate, version, canImpersonate);
    EngineSignature::store(signature, {version, canImpersonate});
}

void YtDlpService::markUnavailable(const QString &message)
{
    m_ytdlpPath.reset();
    m_ffmpegPath.reset();
    m_availabilityError = message;
}

void YtDlpService::markAvailable(const QString &candidate, const QString &version, bool canImpersonate)
{
    m_version = version;
    m_canImpersonate = canImpersonate;
    m_ytdlpPath = candidate;
    m_ffmpegPath = m_toolsDirectory + u"/ffmpeg"_s;
}

void YtDlpService::startDownload(const DownloadOptions &options, EngineProcess::ProgressHandler onProgress,
                                 EngineProcess::LogHandler onLog, QObject *context, StartHandler done,
                                 CancelToken cancel)
{
    QPointer<QObject> guard(context);
    enqueue([=, this](std::function<void()> finished) {
        if (guard)
            startNow(options, onProgress, onLog, guard, done, cancel);
        finished();
    });
}

void YtDlpService::startNow(const DownloadOptions &options, EngineProcess::ProgressHandler onProgress,
                            EngineProcess::LogHandler onLog, QObject *context, const StartHandler &done,
                            const CancelToken &cancel)
{
    const auto fail = [&done](const QString &error) { done({nullptr, error, false}); };
    if (!m_ytdlpPath) {
        fail(YtDlpError::binaryNotFound().description());
        return;
    }
    // Session files go away with the last reference: on every failure below at once,
    // otherwise when the child ends.
    std::shared_ptr<SessionFiles> sessionFiles;
    try {
        if (options.session)
            sessionFiles = SessionFiles::create(*options.session);
        if (options.temporaryDirectory) {
            if (!CommandBuilder::isAcceptedTemplate(options.filenameTemplate)) {
                fail(YtDlpError::extractionFailed(
                         L10n::tr(u"文件名模板请使用相对文件名；下载位置请在设置中选择。"_s))
                         .description());
                return;
            }
            BrowserBridge::privateDirectory(*options.temporaryDirectory);
        }
    } catch (const Error &error) {
        fail(error.description());
        return;
    }

    const std::optional<QString> cookieFile =
        sessionFiles ? std::optional(sessionFiles->cookiesFile()) : std::nullopt;
    QProcessEnvironment environment = processEnvironment();
    if (sessionFiles)
        environment.insert(u"KESTRO_SESSION_FILE"_s, sessionFiles->headersFile());
    auto *process = new EngineProcess(*m_ytdlpPath, commandBuilder().downloadArguments(options, cookieFile), environment);
    process->setHandlers(std::move(onProgress), std::move(onLog));
    process->setSessionFiles(std::move(sessionFiles));
    if (options.session) {
        const BrowserSession session = *options.session;
        process->setLineFilter([session](const QString &line) { return session.redacting(line); });
    }
    if (cancel.isCanceled()) {
        delete process;
        done({nullptr, QString(), true});
        return;
    }
    process->start(context, [process, done](const QString &error) {
        if (!error.isEmpty()) {
            process->deleteLater();
            done({nullptr, error, false});
            return;
        }
        done({process, QString(), false});
    });
}

MetadataProbe *YtDlpService::fetchMetadata(const MetadataProbe::Query &query)
{
    auto *probe = new MetadataProbe(query);
    QPointer<MetadataProbe> guard(probe);
    enqueue([this, guard](std::function<void()> finished) {
        if (guard)
            guard->begin(*this);
        finished();
    });
    return probe;
}

CollectingRun *YtDlpService::runCollecting(const QString &program, const QStringList &arguments,
                                           const QProcessEnvironment &environment)
{
    auto *run = new CollectingRun(program, arguments, environment, /*discardStandardError=*/false);
    QPointer<CollectingRun> guard(run);
    enqueue([guard](std::function<void()> finished) {
        if (guard)
            guard->start();
        finished();
    });
    return run;
}
