#pragma once

#include <QByteArray>

#include <optional>
#include <utility>

// An open file descriptor that is closed when it goes out of scope, and the loops that plain
// read(2) and write(2) need: interrupted calls, short transfers, non-blocking ends.
class FileDescriptor
{
public:
    explicit FileDescriptor(int fd) : m_fd(fd) {}
    ~FileDescriptor();
    FileDescriptor(const FileDescriptor &) = delete;
    FileDescriptor &operator=(const FileDescriptor &) = delete;

    int get() const { return m_fd; }
    bool isValid() const { return m_fd >= 0; }
    // Hands the descriptor back for a close whose error counts.
    int release() { return std::exchange(m_fd, -1); }

    // Reads to the end, but never more than maxBytes + 1 bytes, so that a caller can tell a
    // file larger than allowed. sizeHint (the size fstat gave) sets the first buffer.
    // Nothing on a read error, with errno kept.
    std::optional<QByteArray> readUpTo(qint64 maxBytes, qint64 sizeHint) const;

    // Writes all of data, waiting while a non-blocking descriptor is full. False on an error,
    // with errno kept.
    static bool writeAll(int fd, const QByteArray &data);
    // Waits until a descriptor that its owner left non-blocking is ready for `events` (poll(2)).
    static void waitUntilReady(int fd, short events);

private:
    int m_fd;
};
