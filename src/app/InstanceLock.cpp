#include "InstanceLock.h"

#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// The runtime folder may be the private fallback below the temporary directory, which
// nobody made yet.
void makeRuntimeDir()
{
    const QString dir = Paths::runtimeDir();
    if (!QFileInfo::exists(dir) && QDir().mkpath(dir))
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

int openLockFile()
{
    makeRuntimeDir();
    return ::open(QFile::encodeName(InstanceLock::path()).constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
}

} // namespace

QString InstanceLock::path()
{
    return Paths::runtimeDir() + u"/brisvane-download.lock"_s;
}

bool InstanceLock::acquire()
{
    if (m_file)
        return true;
    auto file = std::make_unique<FileDescriptor>(openLockFile());
    if (!file->isValid())
        return false;
    int result;
    do {
        result = ::flock(file->get(), LOCK_EX | LOCK_NB);
    } while (result != 0 && errno == EINTR);
    if (result != 0)
        return false;
    // Only a note for whoever looks (tests stop the instance by it); the lock itself is the flock.
    const QByteArray pid = QByteArray::number(qint64(::getpid())) + '\n';
    if (::ftruncate(file->get(), 0) == 0)
        FileDescriptor::writeAll(file->get(), pid);
    m_file = std::move(file);
    return true;
}

bool InstanceLock::takenByAnother()
{
    const FileDescriptor file(openLockFile());
    if (!file.isValid())
        return false;
    if (::flock(file.get(), LOCK_EX | LOCK_NB) == 0) {
        ::flock(file.get(), LOCK_UN);
        return false;
    }
    return errno == EWOULDBLOCK;
}

qint64 InstanceLock::holderPid()
{
    QFile file(path());
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    return file.read(32).trimmed().toLongLong();
}
