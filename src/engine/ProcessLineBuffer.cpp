#include "ProcessLineBuffer.h"

#include <QMutexLocker>

namespace {

bool isNewline(QChar c)
{
    switch (c.unicode()) {
    case 0x0A: case 0x0B: case 0x0C: case 0x0D: case 0x85: case 0x2028: case 0x2029:
        return true;
    default:
        return false;
    }
}

QString trimNewlines(QString text)
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && isNewline(text[begin]))
        ++begin;
    while (end > begin && isNewline(text[end - 1]))
        --end;
    if (begin == 0 && end == text.size())
        return text;
    return text.mid(begin, end - begin);
}

} // namespace

QStringList ProcessLineBuffer::append(QByteArrayView data, bool endOfFile)
{
    QMutexLocker locker(&m_lock);
    m_pending.append(data);

    QStringList lines;
    qsizetype start = 0;
    for (qsizetype feed = m_pending.indexOf('\n'); feed >= 0; feed = m_pending.indexOf('\n', start)) {
        // fromUtf8 replaces invalid sequences with U+FFFD.
        QString line = trimNewlines(QString::fromUtf8(m_pending.constData() + start, feed - start));
        if (!line.isEmpty())
            lines.append(std::move(line));
        start = feed + 1;
    }
    m_pending.remove(0, start);

    if (endOfFile && !m_pending.isEmpty()) {
        lines.append(QString::fromUtf8(m_pending));
        m_pending.clear();
    }
    return lines;
}
