#include "DownloadRun.h"

#include "cli/ProgressPrinter.h"
#include "engine/YtDlpService.h"
#include "queue/DownloadManager.h"

using namespace Qt::StringLiterals;

namespace {

void print(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toUtf8() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

bool hasEnded(DownloadStatus status)
{
    return status == DownloadStatus::finished || status == DownloadStatus::failed || status == DownloadStatus::canceled;
}

} // namespace

DownloadRun::DownloadRun(DownloadManager &manager, const CommandLineOptions &options, std::FILE *out, std::FILE *err,
                         bool live, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
    , m_options(options)
    , m_out(out)
    , m_err(err)
    , m_printer(new ProgressPrinter(manager, out, live, this))
{
    connect(&m_manager, &DownloadManager::changed, this, &DownloadRun::check);
    connect(&m_manager, &DownloadManager::jobEnded, this, &DownloadRun::check);
}

void DownloadRun::start()
{
    m_manager.setOverrides({m_options.quality, m_options.audioFormat, m_options.outputDir});
    m_manager.add(m_options.urls);
    if (m_manager.items().isEmpty()) {
        print(m_err, u"kestro-dl: no valid HTTP or HTTPS link given"_s);
        end(badArguments);
        return;
    }
    m_started = true;
    // The engine check may still run; its outcome arrives as a change of the manager.
    check();
}

void DownloadRun::interrupt()
{
    if (m_stopping || m_ended)
        return;
    m_stopping = interrupted;
    m_manager.pauseAll();
    check();
}

void DownloadRun::check()
{
    if (!m_started || m_ended)
        return;
    if (!m_stopping && !m_manager.engineReady() && !m_manager.service().isChecking() && m_manager.engineError()) {
        // Nothing could ever start: say why and stop the analyses.
        print(m_err, u"kestro-dl: "_s + *m_manager.engineError());
        m_stopping = someFailed;
        m_manager.pauseAll();
    }
    if (m_stopping) {
        if (m_manager.runningJobs() == 0)
            end(*m_stopping);
        return;
    }
    const QList<DownloadItem *> &items = m_manager.items();
    const bool allEnded = std::all_of(items.cbegin(), items.cend(), [](const DownloadItem *item) { return hasEnded(item->status()); });
    if (allEnded && m_manager.runningJobs() == 0) {
        const bool anyFailed = std::any_of(items.cbegin(), items.cend(),
                                           [](const DownloadItem *item) { return item->status() != DownloadStatus::finished; });
        end(anyFailed ? someFailed : allFinished);
    }
}

void DownloadRun::end(int exitStatus)
{
    if (m_ended)
        return;
    m_ended = true;
    m_printer->flush();
    for (const DownloadItem *item : m_manager.items()) {
        if (item->status() == DownloadStatus::failed)
            print(m_err, u"failed: "_s + item->displayTitle() + u": "_s + item->errorMessage().value_or(QString()));
    }
    if (exitStatus == allFinished) {
        for (auto it = m_manager.items().crbegin(); it != m_manager.items().crend(); ++it)
            print(m_out, (*it)->outputFile().value_or(QString()));
    }
    Q_EMIT done(exitStatus);
}
