#pragma once

#include <QByteArray>
#include <QString>

// Replaces a whole file at once: the content goes to a temporary file beside it, which is
// renamed over the old one only when every write and the flush succeeded. A reader sees the old
// content or the new, never a part, and a full disk leaves the old file as it was.
class AtomicFile
{
public:
    // 0, or the error number of the step that failed (the temporary file is then removed).
    static int write(const QString &path, const QByteArray &content);
};
