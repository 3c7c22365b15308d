// Times the installer check of a 1 GB file on a worker thread against `sha256sum` of the same
// file, and measures the main thread's longest stall meanwhile with a 10 ms timer.
#include "updates/InstallerCheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFutureWatcher>
#include <QProcess>
#include <QTemporaryDir>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace Qt::StringLiterals;

namespace {

constexpr int runs = 3;
constexpr qint64 fileSize = 1000000000;

struct WorkerRun
{
    double seconds = 0;
    double worstLatenessMs = 0;
};

QString writeInstaller(const QString &folder)
{
    const QString path = folder + u"/installer.AppImage"_s;
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        qFatal("cannot write %s", qPrintable(path));
    QByteArray chunk(InstallerCheck::chunkSize, Qt::Uninitialized);
    for (qsizetype i = 0; i < chunk.size(); ++i)
        chunk[i] = char((i * 31 + 7) & 0xff);
    for (qint64 written = 0; written < fileSize;) {
        const qint64 piece = std::min<qint64>(chunk.size(), fileSize - written);
        file.write(chunk.constData(), piece);
        written += piece;
    }
    return path;
}

WorkerRun verifyOnWorker(const QString &path, const QString &sha256)
{
    WorkerRun result;
    QElapsedTimer clock;
    QElapsedTimer tick;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, &timer, [&] {
        result.worstLatenessMs = std::max(result.worstLatenessMs, tick.nsecsElapsed() / 1e6 - 10.0);
        tick.restart();
    });
    QFutureWatcher<bool> watcher;
    QEventLoop loop;
    QObject::connect(&watcher, &QFutureWatcher<bool>::finished, &loop, &QEventLoop::quit);
    clock.start();
    tick.start();
    timer.start();
    watcher.setFuture(QtConcurrent::run([path, sha256] {
        InstallerCheck::verifyInstaller(path, sha256);
        return true;
    }));
    loop.exec();
    result.seconds = clock.nsecsElapsed() / 1e9;
    timer.stop();
    if (!watcher.result())
        qFatal("verification failed");
    return result;
}

double sha256sum(const QString &path, QString *digest)
{
    QElapsedTimer clock;
    clock.start();
    QProcess process;
    process.start(u"sha256sum"_s, {path});
    if (!process.waitForFinished(-1) || process.exitCode() != 0)
        qFatal("sha256sum failed");
    *digest = QString::fromLatin1(process.readAllStandardOutput().left(64));
    return clock.nsecsElapsed() / 1e9;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QTemporaryDir folder(QDir::tempPath() + u"/kestro-bench-XXXXXX"_s);
    if (!folder.isValid())
        qFatal("no temporary folder");
    const QString path = writeInstaller(folder.path());
    QString digest;
    sha256sum(path, &digest); // warms the page cache

    std::vector<double> worker, tool, stall;
    for (int i = 0; i < runs; ++i) {
        const WorkerRun run = verifyOnWorker(path, digest);
        worker.push_back(run.seconds);
        stall.push_back(run.worstLatenessMs);
        QString again;
        tool.push_back(sha256sum(path, &again));
    }
    std::printf("verify on worker: median %.3f s (min %.3f, max %.3f)\n", median(worker),
                *std::min_element(worker.begin(), worker.end()), *std::max_element(worker.begin(), worker.end()));
    std::printf("sha256sum:        median %.3f s (min %.3f, max %.3f)\n", median(tool),
                *std::min_element(tool.begin(), tool.end()), *std::max_element(tool.begin(), tool.end()));
    std::printf("worst main-thread timer lateness: median %.1f ms, max %.1f ms\n", median(stall),
                *std::max_element(stall.begin(), stall.end()));
    return 0;
}
