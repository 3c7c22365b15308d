#pragma once

#include <QString>
#include <QStringList>

// Hands something to the window application of a bundle, the way the helpers start it:
// BUNDLE/Contents/Linux/Kestro with "--open" and the given arguments, or $KESTRO_OPEN_COMMAND
// with the same arguments when that is set. Blocks until the launcher exits; only the small
// helper programs call it.
namespace Launcher {

enum class Outcome { opened, notStarted, failed };

struct Result
{
    Outcome outcome = Outcome::failed;
    QString error; // why the launcher could not be started
};

// The launcher gets the null device for all three standard streams and is killed after
// `timeoutMs`; only a normal exit with status 0 counts as opened.
Result open(const QString &bundlePath, const QStringList &arguments, int timeoutMs);

} // namespace Launcher
