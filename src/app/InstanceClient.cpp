#include "InstanceClient.h"

#include "app/InstanceLock.h"
#include "app/SingleInstance.h"

#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>

using namespace Qt::StringLiterals;

namespace InstanceClient {

Handover handOver(const InstanceRequest &request, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    QLocalSocket socket;
    socket.connectToServer(SingleInstance::socketPath());
    if (!socket.waitForConnected(int(deadline.remainingTime())))
        return Handover::noInstance;
    socket.write(request.encode());
    QByteArray reply;
    while (!reply.contains('\n') && reply.size() < 16) {
        if (!socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime()))))
            break;
        reply += socket.readAll();
    }
    return reply == "ok\n" ? Handover::taken : Handover::refused;
}

bool open(const InstanceRequest &request, const QString &program, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    bool started = false;
    for (;;) {
        switch (handOver(request, int(qMax<qint64>(1, deadline.remainingTime())))) {
        case Handover::taken:
            return true;
        case Handover::refused:
            // An instance that closes without confirming may be one that is just quitting;
            // only a live holder of the lock means a refusal.
            if (InstanceLock::takenByAnother())
                return false;
            break;
        case Handover::noInstance:
            break;
        }
        // Another start that is still coming up holds the lock already; wait for it instead.
        if (!started && !InstanceLock::takenByAnother()) {
            QProcess process;
            process.setProgram(program);
            process.setArguments(request.background ? QStringList{u"--background"_s} : QStringList());
            process.setStandardInputFile(QProcess::nullDevice());
            process.setStandardOutputFile(QProcess::nullDevice());
            process.setStandardErrorFile(QProcess::nullDevice());
            if (!process.startDetached())
                return false;
            started = true;
        }
        if (deadline.hasExpired())
            return false;
        QThread::msleep(50);
    }
}

} // namespace InstanceClient
