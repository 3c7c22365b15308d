#pragma once

#include <QString>

#include <functional>
#include <ostream>

// Readable GoogleTest messages for Qt strings.
inline void PrintTo(const QString &text, std::ostream *out)
{
    *out << '"' << text.toStdString() << '"';
}

// Every test process runs in its own scratch home: HOME, XDG_CONFIG_HOME, XDG_DATA_HOME,
// XDG_RUNTIME_DIR and TMPDIR all point below one temporary folder made by the test main().
namespace TestEnvironment {

// The scratch root of this test process.
QString root();
// A new empty folder below the scratch root.
QString makeDirectory(const QString &name);
// Writes a file (making parent folders) and returns its path.
QString writeFile(const QString &path, const QByteArray &content);

// Turns the event loop until the condition holds or the time is up; returns the condition.
bool waitFor(const std::function<bool()> &condition, int timeoutMs = 20000);

} // namespace TestEnvironment
