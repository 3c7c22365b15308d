#include "OutputStream.h"

#include "platform/FileDescriptor.h"

void OutputStream::write(const QByteArray &bytes)
{
    if (m_closed || bytes.isEmpty())
        return;
    if (!FileDescriptor::writeAll(m_fd, bytes))
        m_closed = true;
}

void OutputStream::writeLine(const QString &text)
{
    write(text.toUtf8() + '\n');
}
