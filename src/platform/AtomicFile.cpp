#include "AtomicFile.h"

#include <QSaveFile>

#include <cerrno>

namespace {

int lastError()
{
    return errno != 0 ? errno : EIO;
}

} // namespace

int AtomicFile::write(const QString &path, const QByteArray &content)
{
    QSaveFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly))
        return lastError();
    // QSaveFile buffers small writes and, when only the final flush fails, still renames the
    // short file over the old one; so the flush is checked here and the save cancelled.
    if (file.write(content) != content.size() || !file.flush()) {
        const int error = lastError();
        file.cancelWriting();
        return error;
    }
    errno = 0;
    if (!file.commit())
        return lastError();
    return 0;
}
