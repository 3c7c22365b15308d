#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QString>
#include <QTimer>

class DownloadManager;

// Runs AgentBridge::processRequests every 250 ms, and at once when the exchange directory
// changes, so a request does not wait for the next tick. The timer stays as the fallback for
// file systems that report nothing. Setting KESTRO_AGENT_POLL_ONLY turns the watching off.
class AgentBridgeLoop : public QObject
{
    Q_OBJECT

public:
    explicit AgentBridgeLoop(DownloadManager &manager, QObject *parent = nullptr);

    void start();
    bool isWatching() const;
    int passes() const { return m_passes; }

private:
    void pass();
    void passSoon();
    void watch(const QString &directory);

    DownloadManager &m_manager;
    QTimer m_tick;
    QTimer m_soon;
    QFileSystemWatcher m_watcher;
    int m_passes = 0;
};
