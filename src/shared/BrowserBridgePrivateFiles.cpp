#include "BrowserBridge.h"

#include "shared/BrowserSession.h"
#include "shared/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <limits>
#include <utility>
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

// Closes on every path out of a function; a close error after a read does not matter.
class Descriptor
{
public:
    explicit Descriptor(int fd) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(const Descriptor &) = delete;
    Descriptor &operator=(const Descriptor &) = delete;

    int get() const { return m_fd; }
    // Hands the descriptor back for a close whose error counts.
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

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
    Descriptor file(fd);

    const char *cursor = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(file.get(), cursor, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            throw FileError::fromErrno(path);
        }
        cursor += written;
        left -= written;
    }
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
    const Descriptor file(fd);

    // Checks go to the opened file, not the path, so a swap after the open changes nothing.
    struct stat info;
    if (::fstat(file.get(), &info) != 0 || info.st_uid != ::getuid() || !S_ISREG(info.st_mode)
        || info.st_size > maxBytes)
        throw BrowserSession::SessionError::invalid();
    const double age = secondsSinceEpoch() - double(info.st_mtim.tv_sec);
    if (!(age < BrowserBridge::freshnessSeconds))
        throw BrowserSession::SessionError::invalid();

    // One byte past the limit shows a file that grew after fstat.
    const qint64 ceiling = maxBytes < std::numeric_limits<qint64>::max() ? maxBytes + 1 : maxBytes;
    QByteArray content;
    content.resize(qsizetype(std::min<qint64>(info.st_size + 1, ceiling)));
    qint64 total = 0;
    while (total < ceiling) {
        if (total == content.size())
            content.resize(qsizetype(std::min<qint64>(ceiling, qint64(content.size()) * 2)));
        const ssize_t got = ::read(file.get(), content.data() + total, size_t(content.size() - total));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw BrowserSession::SessionError::invalid();
        }
        if (got == 0)
            break;
        total += got;
    }
    if (total == 0 || total > maxBytes)
        throw BrowserSession::SessionError::invalid();
    content.truncate(qsizetype(total));
    return content;
}

} // namespace BrowserBridge
