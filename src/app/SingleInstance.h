#pragma once

#include "app/InstanceLock.h"
#include "app/InstanceRequest.h"

#include <QLocalServer>
#include <QObject>

// The running instance's end of the per-user socket in $XDG_RUNTIME_DIR: later starts of the
// program connect, send one request and wait for "ok", which comes only after the request was
// handled. Main thread only.
class SingleInstance : public QObject
{
    Q_OBJECT

public:
    // A connection that sends nothing complete is dropped after this long.
    static constexpr int idleLimitMs = 10000;

    // `lock` is the instance lock this process took.
    explicit SingleInstance(InstanceLock lock, QObject *parent = nullptr);
    ~SingleInstance() override;

    static QString socketPath();

    // Listens, replacing a socket that a dead instance left; false when the socket cannot be made.
    bool listen();
    bool isListening() const { return m_server.isListening(); }

Q_SIGNALS:
    // Connected handlers run before the sender is told that the request was taken.
    void received(const InstanceRequest &request);

private:
    void accept();

    InstanceLock m_lock;
    QLocalServer m_server;
};
