#include "Paths.h"

#include <QDir>
#include <QStandardPaths>

#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// An XDG variable counts only when it holds an absolute path.
QString xdgDirectory(const char *variable, const QString &fallbackBelowHome)
{
    const QString value = qEnvironmentVariable(variable);
    if (QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return QDir::cleanPath(Paths::home() + u'/' + fallbackBelowHome);
}

} // namespace

namespace Paths {

QString home()
{
    return QDir::homePath();
}

QString dataHome()
{
    return xdgDirectory("XDG_DATA_HOME", u".local/share"_s);
}

QString configHome()
{
    return xdgDirectory("XDG_CONFIG_HOME", u".config"_s);
}

QString runtimeDir()
{
    const QString value = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (QDir::isAbsolutePath(value))
        return QDir::cleanPath(value);
    return tempDir() + u"/kestro-runtime-"_s + QString::number(getuid());
}

QString downloadsDir()
{
    const QString location = QStandardPaths::writableLocation(QStandardPaths::DownloadLocation);
    return location.isEmpty() ? home() + u"/Downloads"_s : location;
}

QString tempDir()
{
    return QDir::cleanPath(QDir::tempPath());
}

QString applicationData()
{
    return dataHome() + u"/Kestro"_s;
}

} // namespace Paths
