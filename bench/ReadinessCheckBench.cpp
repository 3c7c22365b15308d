// Times the engine readiness check with the engine double: remembered (no child started)
// against forced (version query run). Prints the medians and their ratio.
#include "engine/YtDlpService.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int runs = 15;

void writeExecutable(const QString &path, const QByteArray &content)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(content) != content.size())
        qFatal("cannot write %s", qPrintable(path));
    file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

double timeCheck(YtDlpService &service, bool force)
{
    QElapsedTimer timer;
    timer.start();
    bool done = false;
    auto connection = QObject::connect(&service, &YtDlpService::checkFinished, &service, [&] { done = true; });
    service.locateBinaries(QString(), force);
    while (!done)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    QObject::disconnect(connection);
    if (!service.isAvailable())
        qFatal("engine not available: %s", qPrintable(service.availabilityError().value_or(QString())));
    return timer.nsecsElapsed() / 1e6;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir scratch;
    for (const char *name : {"HOME", "XDG_CONFIG_HOME", "TMPDIR"})
        qputenv(name, QFile::encodeName(scratch.path()));
    QCoreApplication app(argc, argv);

    const QString helpers = scratch.path() + u"/bundle/Contents/Helpers"_s;
    QDir().mkpath(helpers);
    QFile engine(QStringLiteral(KESTRO_ENGINE_DOUBLE));
    if (!engine.open(QIODevice::ReadOnly))
        qFatal("cannot read the engine double");
    writeExecutable(helpers + u"/yt-dlp"_s, engine.readAll());
    for (const QString &tool : {u"ffmpeg"_s, u"ffprobe"_s, u"deno"_s})
        writeExecutable(helpers + u'/' + tool, "#!/bin/sh\nexit 0\n");

    YtDlpService service(scratch.path() + u"/bundle"_s);
    timeCheck(service, true); // leaves a record for the remembered checks
    std::vector<double> cached;
    std::vector<double> forced;
    for (int run = 0; run < runs; ++run) {
        forced.push_back(timeCheck(service, true));
        cached.push_back(timeCheck(service, false));
    }
    const double cachedMedian = median(cached);
    const double forcedMedian = median(forced);
    std::printf("readiness check, %d runs each, interleaved\n", runs);
    std::printf("remembered: median %.3f ms\n", cachedMedian);
    std::printf("forced:     median %.3f ms\n", forcedMedian);
    std::printf("forced / remembered: %.1fx\n", forcedMedian / cachedMedian);
    return 0;
}
