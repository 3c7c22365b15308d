#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QThread>
#include <QFile>
#include <QFileInfo>

namespace {
QString g_root;
}

namespace TestEnvironment {

void setRoot(const QString &root)
{
    g_root = root;
}

QString root()
{
    return g_root;
}

QString makeDirectory(const QString &name)
{
    const QString path = g_root + QLatin1Char('/') + name;
    QDir().mkpath(path);
    return path;
}

QString writeFile(const QString &path, const QByteArray &content)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

bool waitFor(const std::function<bool()> &condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

} // namespace TestEnvironment
