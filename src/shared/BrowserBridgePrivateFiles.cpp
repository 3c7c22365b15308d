#include "BrowserBridge.h"

#include "platform/FileDescriptor.h"
#include "shared/BrowserSession.h"
#include "shared/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr mode_t directoryMode = 0700;
constexpr mode_t fileMode = 0600;

bool isDirectory(const QByteArray &path)
{
    struct stat info;
    return ::stat(path.constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

double secondsSinceEpoch()
{
    struct timespec now;
    ::clock_gettime(CLOCK_REALTIME, &now);
    return double(now.tv_sec) + double(now.tv_nsec) / 1e9;
}

} // namespace

namespace BrowserBridge {

void privateDirectory(const QString &path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    // Every folder made here gets 0700 from the start, parents included, so none is ever wider.
    qsizetype slash = 0;
    while (slash >= 0) {
        slash = absolute.indexOf(u'/', slash + 1);
        const QString prefix = slash < 0 ? absolute : absolute.left(slash);
        const QByteArray encoded = QFile::encodeName(prefix);
        if (isDirectory(encoded))
            continue;
        if (::mkdir(encoded.constData(), directoryMode) != 0 && !(errno == EEXIST && isDirectory(encoded)))
            throw FileError::fromErrno(prefix);
    }
    // An existing folder keeps its old rights unless narrowed explicitly.
    if (::chmod(QFile::encodeName(absolute).constData(), directoryMode) != 0)
        throw FileError::fromErrno(absolute);
}

void writePrivate(const QByteArray &data, const QString &path)
{
    int fd;
    do {
        fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    fileMode);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw BrowserSession::SessionError::invalid();
    FileDescriptor file(fd);
    if (!FileDescriptor::writeAll(file.get(), data))
        throw FileError::fromErrno(path);
    // Linux frees the descriptor even when close reports EINTR; retrying could close another file.
    if (::close(file.release()) != 0 && errno != EINTR)
        throw FileError::fromErrno(path);
}

QByteArray readPrivate(const QString &path, qint64 maxBytes)
{
    if (maxBytes < 0)
        throw BrowserSession::SessionError::invalid();
    int fd;
    do {
        // O_NONBLOCK: a FIFO planted under the name must not hang the reader before fstat refuses it.
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw BrowserSession::SessionError::invalid();
    const FileDescriptor file(fd);

    // Checks go to the opened file, not the path, so a swap after the open changes nothing.
    struct stat info;
    if (::fstat(file.get(), &info) != 0 || info.st_uid != ::getuid() || !S_ISREG(info.st_mode)
        || info.st_size > maxBytes)
        throw BrowserSession::SessionError::invalid();
    const double age = secondsSinceEpoch() - double(info.st_mtim.tv_sec);
    if (!(age < BrowserBridge::freshnessSeconds))
        throw BrowserSession::SessionError::invalid();

    // A file that grew after fstat shows as one byte past the limit.
    const std::optional<QByteArray> content = file.readUpTo(maxBytes, info.st_size);
    if (!content || content->isEmpty() || content->size() > maxBytes)
        throw BrowserSession::SessionError::invalid();
    return *content;
}

} // namespace BrowserBridge
