#include "ServeRun.h"

#include "agents/AgentBridge.h"
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
}

void ServeRun::start()
{
    m_manager.setOverrides({m_options.quality, m_options.audioFormat, m_options.outputDir});
    AgentBridge::start(m_manager);
    const QByteArray line = (u"kestro-dl: answering agent requests in "_s + AgentWire::directory() + u'\n').toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), m_err);
    std::fflush(m_err);
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
