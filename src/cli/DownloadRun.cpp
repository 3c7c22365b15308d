#include "DownloadRun.h"

#include "cli/OutputStream.h"
#include "cli/ProgressPrinter.h"
#include "engine/YtDlpService.h"
#include "queue/DownloadManager.h"

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

bool hasEnded(DownloadStatus status)
{
    return status == DownloadStatus::finished || status == DownloadStatus::failed || status == DownloadStatus::canceled;
}

} // namespace

DownloadRun::DownloadRun(DownloadManager &manager, const CommandLineOptions &options, OutputStream &out,
                         OutputStream &err, bool live, QObject *parent)
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
    if (m_stopping) {
        end(*m_stopping);
        return;
    }
    for (const QString &link : std::as_const(m_options.urls)) {
        if (const std::optional<QString> why = CommandLineOptions::refusal(link)) {
            m_err.writeLine(u"kestro-dl: refused "_s + CommandLineOptions::printable(link) + u": "_s + *why);
            m_refusedAny = true;
        }
    }
    m_manager.setOverrides({m_options.quality, m_options.audioFormat, m_options.outputDir});
    m_manager.add(m_options.urls);
    if (m_manager.items().isEmpty()) {
        m_err.writeLine(u"kestro-dl: no valid HTTP or HTTPS link given"_s);
        end(badArguments);
        return;
    }
    m_started = true;
    // The engine check may still run; its outcome arrives as a change of the manager.
    check();
}

void DownloadRun::interrupt(int signalNumber)
{
    if (m_ended)
        return;
    if (m_stopping) {
        // Asked twice: stop waiting for the engines. Partial files stay where they are.
        m_manager.killEngines();
        m_abandoned = true;
        end(*m_stopping);
        return;
    }
    m_stopping = 128 + signalNumber;
    m_manager.pauseAll();
    check();
}

void DownloadRun::check()
{
    if (!m_started || m_ended)
        return;
    if (!m_stopping && !m_manager.engineReady() && !m_manager.service().isChecking() && m_manager.engineError()) {
        // Nothing could ever start: say why, on every item too, and stop the analyses.
        const QString reason = *m_manager.engineError();
        m_err.writeLine(u"kestro-dl: "_s + reason);
        m_stopping = someFailed;
        m_manager.pauseAll();
        for (DownloadItem *item : m_manager.items()) {
            if (!hasEnded(item->status())) {
                item->setErrorMessage(reason);
                item->setStatus(DownloadStatus::failed);
            }
        }
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
        end(anyFailed || m_refusedAny ? someFailed : allFinished);
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
            m_err.writeLine(OutputStream::escaped(u"failed: "_s + item->displayTitle() + u": "_s
                                                  + item->errorMessage().value_or(QString())));
    }
    // The finished files, oldest item first, whatever happened to the others.
    for (auto it = m_manager.items().crbegin(); it != m_manager.items().crend(); ++it) {
        if ((*it)->status() == DownloadStatus::finished)
            m_out.writeLine((*it)->outputFile().value_or(QString()));
    }
    Q_EMIT done(exitStatus);
}
