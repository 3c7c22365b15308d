#include "BenchBundle.h"

#include "engine/YtDlpService.h"
#include "queue/DownloadManager.h"
#include "store/AppSettings.h"
#include "store/HistoryStore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QProcess>

#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace Qt::StringLiterals;

namespace {

void writeFile(const QString &path, const QByteArray &content, bool executable)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    if (executable)
        file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace

BenchBundle::BenchBundle(const QByteArray &engineScript)
{
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME", "TMPDIR"})
        qputenv(name, QFile::encodeName(m_scratch.path()));
    const QString helpers = m_scratch.path() + u"/bundle/Contents/Helpers"_s;
    QDir().mkpath(helpers);
    writeFile(helpers + u"/yt-dlp"_s, engineScript, true);
    for (const QString &tool : {u"ffmpeg"_s, u"ffprobe"_s, u"deno"_s})
        writeFile(helpers + u'/' + tool, "#!/bin/sh\nexit 0\n", true);
    writeFile(m_scratch.path() + u"/bundle/Contents/Info.json"_s, R"({"CFBundleVersion":"1"})", false);
}

BenchBundle::~BenchBundle()
{
    // The queue stops its engines before the service goes.
    m_manager.reset();
}

DownloadManager &BenchBundle::manager(int maxConcurrent)
{
    m_service = std::make_unique<YtDlpService>(m_scratch.path() + u"/bundle"_s);
    m_settings = std::make_unique<AppSettings>();
    m_settings->setMaxConcurrent(maxConcurrent);
    m_settings->setShowNotifications(false);
    m_settings->setDownloadDirPath(outputDir());
    m_history = std::make_unique<HistoryStore>(m_scratch.path() + u"/history.json"_s);
    m_manager = std::make_unique<DownloadManager>(*m_service, *m_settings, *m_history);
    while (!m_manager->engineReady()) {
        if (m_manager->engineError())
            qFatal("engine not ready: %s", qPrintable(*m_manager->engineError()));
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return *m_manager;
}

qint64 residentKiB()
{
    QFile status(u"/proc/self/status"_s);
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    }
    return 0;
}

double threadCpuSeconds()
{
    timespec time{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &time);
    return time.tv_sec + time.tv_nsec / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::vector<QHash<QString, double>> runMeasurements(int runs, const QStringList &arguments)
{
    std::vector<QHash<QString, double>> results;
    for (int run = 0; run < runs; ++run) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), arguments);
        // The parent only waits; nothing else runs in it.
        if (!child.waitForFinished(-1) || child.exitCode() != 0)
            qFatal("measurement run failed");
        const QList<QByteArray> lines = child.readAllStandardOutput().trimmed().split('\n');
        std::fputs(lines.join('\n').constData(), stdout);
        std::fputs("\n", stdout);
        QHash<QString, double> figures;
        for (const QByteArray &pair : lines.last().split(' ')) {
            const qsizetype equals = pair.indexOf('=');
            if (equals > 0)
                figures.insert(QString::fromUtf8(pair.left(equals)), pair.mid(equals + 1).toDouble());
        }
        results.push_back(figures);
    }
    return results;
}
