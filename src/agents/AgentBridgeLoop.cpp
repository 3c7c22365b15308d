#include "AgentBridgeLoop.h"

#include "agents/AgentBridge.h"
#include "shared/AgentWire.h"
#include "shared/BrowserBridge.h"
#include "shared/Error.h"

AgentBridgeLoop::AgentBridgeLoop(DownloadManager &manager, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
{
    m_tick.setInterval(AgentBridge::passIntervalMs);
    m_tick.setTimerType(Qt::PreciseTimer);
    connect(&m_tick, &QTimer::timeout, this, &AgentBridgeLoop::pass);
    // Several changes in a row (a burst of requests, our own answers) make one pass.
    m_soon.setSingleShot(true);
    m_soon.setInterval(0);
    connect(&m_soon, &QTimer::timeout, this, &AgentBridgeLoop::pass);
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, &AgentBridgeLoop::passSoon);
}

void AgentBridgeLoop::start()
{
    try {
        BrowserBridge::privateDirectory(AgentWire::directory());
    } catch (const Error &) {
        // Passes simply find nothing until the directory exists.
    }
    m_tick.start();
    passSoon();
}

void AgentBridgeLoop::passSoon()
{
    if (!m_soon.isActive())
        m_soon.start();
}

void AgentBridgeLoop::pass()
{
    // The directory is read anew for every pass, as the server does.
    const QString directory = AgentWire::directory();
    watch(directory);
    ++m_passes;
    AgentBridge::processRequests(m_manager, directory);
}

void AgentBridgeLoop::watch(const QString &directory)
{
    if (!AgentWire::watchesFiles())
        return;
    // A directory that was removed drops out of the watcher, so this also re-arms it.
    if (m_watcher.directories().contains(directory))
        return;
    const QStringList old = m_watcher.directories();
    if (!old.isEmpty())
        m_watcher.removePaths(old);
    // Fails while the directory is missing; the next pass tries again.
    m_watcher.addPath(directory);
}

bool AgentBridgeLoop::isWatching() const
{
    return !m_watcher.directories().isEmpty();
}
