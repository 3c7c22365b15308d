#include "ServeRun.h"

#include "agents/AgentBridge.h"
#include "queue/DownloadItem.h"
#include "queue/DownloadManager.h"
#include "shared/AgentWire.h"

using namespace Qt::StringLiterals;

ServeRun::ServeRun(DownloadManager &manager, const CommandLineOptions &options, std::FILE *err, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
    , m_options(options)
    , m_err(err)
{
    connect(&m_manager, &DownloadManager::jobEnded, this, &ServeRun::check);
    connect(&m_manager, &DownloadManager::itemsChanged, this, &ServeRun::reportNewItems);
    connect(&m_manager, &DownloadManager::itemConcluded, this, &ServeRun::reportOutcome);
}

void ServeRun::start()
{
    m_manager.setOverrides({m_options.quality, m_options.audioFormat, m_options.outputDir});
    AgentBridge::start(m_manager);
    print(u"answering agent requests in "_s + AgentWire::directory());
}

void ServeRun::print(const QString &line)
{
    const QByteArray bytes = (u"kestro-dl: "_s + line + u'\n').toUtf8();
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), m_err);
    std::fflush(m_err);
}

void ServeRun::reportNewItems()
{
    for (const DownloadItem *item : m_manager.items()) {
        if (!m_reported.contains(item->id())) {
            m_reported.insert(item->id());
            print(u"queued "_s + item->id().toString(QUuid::WithoutBraces).toUpper() + u' ' + item->url());
        }
    }
}

void ServeRun::reportOutcome(DownloadItem *item)
{
    const QString id = item->id().toString(QUuid::WithoutBraces).toUpper();
    if (item->status() == DownloadStatus::finished)
        print(u"finished "_s + id + u' ' + item->outputFile().value_or(QString()));
    else
        print(u"failed "_s + id + u' ' + item->errorMessage().value_or(QString()));
}

void ServeRun::stop()
{
    if (m_stopping)
        return;
    m_stopping = true;
    m_manager.pauseAll();
    check();
}

void ServeRun::check()
{
    if (!m_stopping || m_ended || m_manager.runningJobs() > 0)
        return;
    m_ended = true;
    Q_EMIT done(0);
}
