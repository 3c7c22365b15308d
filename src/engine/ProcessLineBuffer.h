#pragma once

#include <QByteArray>
#include <QMutex>
#include <QStringList>

// Splits a child's output stream into lines across reads of any size.
class ProcessLineBuffer
{
public:
    // The complete, non-empty lines that this data finished, in order. At end of file
    // the unfinished rest is returned as it is.
    QStringList append(QByteArrayView data, bool endOfFile = false);

private:
    QMutex m_lock;
    QByteArray m_pending;
};
