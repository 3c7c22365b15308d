#pragma once

#include <QByteArray>
#include <QString>

// A standard stream of kestro-dl. When a write fails (the reader has gone, so EPIPE with
// SIGPIPE ignored), the stream stays silent from then on and the downloads go on.
class OutputStream
{
public:
    explicit OutputStream(int fd) : m_fd(fd) {}

    int fd() const { return m_fd; }
    bool isClosed() const { return m_closed; }

    // Writes all of the bytes, or nothing more ever.
    void write(const QByteArray &bytes);
    void writeLine(const QString &text);

    // The text as it may be shown on a terminal: control and format characters (a page title
    // or a link may carry terminal commands) written as "\uXXXX".
    static QString escaped(const QString &text);
    static bool isControl(QChar c);

private:
    int m_fd;
    bool m_closed = false;
};
