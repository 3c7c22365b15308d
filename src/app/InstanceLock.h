#pragma once

#include "platform/FileDescriptor.h"

#include <QString>

#include <memory>

// The per-user lock that makes one process the running instance. It is an flock on a file in
// $XDG_RUNTIME_DIR, so the kernel releases it when the holder dies, however it dies.
class InstanceLock
{
public:
    static QString path();

    // Takes the lock and records this process's id in the file; false when another process
    // holds it or the file cannot be opened.
    bool acquire();
    bool isHeld() const { return m_file != nullptr; }
    // Whether some process holds the lock now (a snapshot, for clients deciding to start one).
    static bool takenByAnother();
    // The process id the holder recorded, 0 when none can be read.
    static qint64 holderPid();

private:
    std::unique_ptr<FileDescriptor> m_file;
};
