#include "MetadataProbe.h"

#include "engine/CollectingRun.h"
#include "engine/YtDlpError.h"
#include "engine/YtDlpService.h"
#include "shared/L10n.h"

#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

MetadataProbe::MetadataProbe(const Query &query, QObject *parent)
    : QObject(parent)
    , m_query(query)
{
}

MetadataProbe::~MetadataProbe()
{
    if (m_run && !m_finished) {
        // Nobody waits for the answer any more; the run stops and cleans up on its own.
        m_run->setParent(nullptr);
        connect(m_run.data(), &CollectingRun::finished, m_run.data(), &QObject::deleteLater);
        m_run->cancel();
    }
}

QStringList MetadataProbe::arguments(const YtDlpService &service, const Query &query,
                                     const std::optional<QString> &sessionCookieFile)
{
    const CommandBuilder builder = service.commandBuilder();
    QStringList arguments = builder.runtimeArguments();
    arguments << builder.networkArguments(query.url, query.session ? u"none"_s : query.cookiesBrowser,
                                                  query.referer, query.userAgent);
    arguments << builder.sessionArguments(sessionCookieFile);
    arguments << u"-J"_s << u"--no-warnings"_s << u"--socket-timeout"_s << u"20"_s;
    if (!query.expandPlaylist)
        arguments << u"--flat-playlist"_s;
    arguments << u"--"_s << query.url;
    return arguments;
}

void MetadataProbe::begin(const YtDlpService &service)
{
    if (m_canceled) {
        finish();
        return;
    }
    if (!service.ytdlpPath()) {
        fail(YtDlpError::binaryNotFound().description());
        return;
    }
    QProcessEnvironment environment = service.processEnvironment();
    std::optional<QString> cookieFile;
    if (m_query.session) {
        try {
            m_sessionFiles = SessionFiles::create(*m_query.session);
        } catch (const Error &error) {
            fail(error.description());
            return;
        }
        cookieFile = m_sessionFiles->cookiesFile();
        environment.insert(u"KESTRO_SESSION_FILE"_s, m_sessionFiles->headersFile());
    }

    auto *run = new CollectingRun(*service.ytdlpPath(), arguments(service, m_query, cookieFile), environment,
                                  /*discardStandardError=*/false, this);
    m_run = run;
    if (m_sessionFiles) {
        const std::shared_ptr<SessionFiles> files = m_sessionFiles;
        connect(run, &CollectingRun::started, this, [files](qint64 pid) { files->track(pid); });
    }
    connect(run, &CollectingRun::finished, this, [this, run] { conclude(run); });
    run->start();
}

void MetadataProbe::conclude(CollectingRun *run)
{
    m_sessionFiles.reset();
    run->deleteLater();
    m_run = nullptr;

    switch (run->outcome()) {
    case CollectingRun::Outcome::canceled:
    case CollectingRun::Outcome::timedOut:
        finish();
        return;
    case CollectingRun::Outcome::failedToStart:
        fail(run->startError());
        return;
    case CollectingRun::Outcome::completed:
        break;
    }

    const RunResult result = run->result();
    if (result.exitCode != 0 || run->process()->crashed()) {
        const QString tail = m_query.session ? m_query.session->redacting(result.stderrTail) : result.stderrTail;
        fail(YtDlpError::extractionFailed(tail).description());
        return;
    }
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(result.standardOutput.toUtf8(), &parseError);
    if (parseError.error != QJsonParseError::NoError) {
        fail(parseError.errorString());
        return;
    }
    if (!document.isObject()) {
        fail(YtDlpError::extractionFailed(L10n::tr(u"无法解析 yt-dlp 输出"_s)).description());
        return;
    }
    m_metadata = VideoMetadata::parse(document.object());
    finish();
}

void MetadataProbe::cancel()
{
    if (m_canceled || m_finished)
        return;
    m_canceled = true;
    if (m_run)
        m_run->cancel();
    else
        finish(); // not begun: nothing to stop, and the engine check before it may take long
}

void MetadataProbe::fail(const QString &error)
{
    m_error = error;
    finish();
}

void MetadataProbe::finish()
{
    m_sessionFiles.reset();
    if (m_finished)
        return;
    m_finished = true;
    // Never inside fetchMetadata itself: the caller has not connected yet.
    QMetaObject::invokeMethod(this, &MetadataProbe::finished, Qt::QueuedConnection);
}
