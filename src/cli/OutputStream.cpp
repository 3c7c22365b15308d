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

bool OutputStream::isControl(QChar c)
{
    return c.category() == QChar::Other_Control || c.category() == QChar::Other_Format
        || c == QChar::LineSeparator || c == QChar::ParagraphSeparator;
}

QString OutputStream::escaped(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (isControl(c))
            result += QStringLiteral("\\u") + QString::number(c.unicode(), 16).rightJustified(4, u'0');
        else
            result += c;
    }
    return result;
}
