#include "FileDescriptor.h"

#include <algorithm>
#include <cerrno>
#include <limits>
#include <poll.h>
#include <unistd.h>

FileDescriptor::~FileDescriptor()
{
    // A close error after the work is done is of no interest here; release() is for that.
    if (m_fd >= 0)
        ::close(m_fd);
}

std::optional<QByteArray> FileDescriptor::readUpTo(qint64 maxBytes, qint64 sizeHint) const
{
    const qint64 ceiling = maxBytes < std::numeric_limits<qint64>::max() ? maxBytes + 1 : maxBytes;
    QByteArray content;
    content.resize(qsizetype(std::clamp<qint64>(sizeHint + 1, 1, ceiling)));
    qint64 total = 0;
    while (total < ceiling) {
        if (total == content.size())
            content.resize(qsizetype(std::min<qint64>(ceiling, qint64(content.size()) * 2)));
        const ssize_t got = ::read(m_fd, content.data() + total, size_t(content.size() - total));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (got == 0)
            break;
        total += got;
    }
    content.truncate(qsizetype(total));
    return content;
}

void FileDescriptor::waitUntilReady(int fd, short events)
{
    struct pollfd watched{fd, events, 0};
    while (::poll(&watched, 1, -1) < 0 && errno == EINTR) {
    }
}

bool FileDescriptor::writeAll(int fd, const QByteArray &data)
{
    const char *cursor = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, cursor, size_t(left));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                waitUntilReady(fd, POLLOUT);
                continue;
            }
            return false;
        }
        cursor += written;
        left -= written;
    }
    return true;
}
