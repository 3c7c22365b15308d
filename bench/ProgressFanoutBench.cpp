// Eight downloads at once, each engine printing 200 progress lines a second for ten seconds:
// the share of one core the main thread spends on them.
#include "BenchBundle.h"

#include "queue/DownloadManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

constexpr int downloads = 8;

// Paced against the start time, so a late line does not shift the rest.
const QByteArray chattyEngine = R"(#!/usr/bin/python3
import os, sys, time
args = sys.argv[1:]
if "--version" in args:
    print("2025.12.01"); sys.exit(0)
if "-J" in args:
    print('{"title":"t"}'); sys.exit(0)
home = next(a[5:] for i, a in enumerate(args) if args[i - 1] == "-P" and a.startswith("home:"))
listing = args[args.index("--print-to-file") + 2]
url = args[-1]
rate, seconds = 200, 10
start = time.monotonic()
for n in range(1, rate * seconds + 1):
    delay = start + n / rate - time.monotonic()
    if delay > 0:
        time.sleep(delay)
    sys.stdout.write("[KTPROG]downloading|%d|1000000|NA|50000|3|NA|NA\n" % (n * 400))
    sys.stdout.flush()
os.makedirs(home, exist_ok=True)
path = os.path.join(home, url.rsplit("/", 1)[-1] + ".mp4")
with open(path, "w") as f:
    f.write("x")
with open(listing, "a") as f:
    f.write('"%s"\n' % path)
)";

int measure(BenchBundle &bundle)
{
    DownloadManager &manager = bundle.manager(downloads);
    QStringList urls;
    for (int i = 0; i < downloads; ++i)
        urls.append(u"http://127.0.0.1:9/v/"_s + QString::number(i));
    manager.add(urls);

    // A progress line handled shows as a new byte count; the phase starts with the first one.
    int handled = 0;
    int finished = 0;
    double cpuStart = 0;
    QElapsedTimer phase;
    for (DownloadItem *item : manager.items()) {
        QObject::connect(item, &DownloadItem::changed, item, [&, item, last = qint64(0)]() mutable {
            if (item->downloadedBytes() != last && item->status() == DownloadStatus::downloading) {
                last = item->downloadedBytes();
                if (handled++ == 0) {
                    cpuStart = threadCpuSeconds();
                    phase.start();
                }
            }
        });
    }
    QObject::connect(&manager, &DownloadManager::itemConcluded, &manager,
                     [&](DownloadItem *item) { finished += item->status() == DownloadStatus::finished; });
    while (finished < downloads || manager.runningJobs() > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double cpu = threadCpuSeconds() - cpuStart;
    const double wall = phase.nsecsElapsed() / 1e9;
    std::printf("lines=%d cpu_s=%.3f wall_s=%.3f share_pct=%.2f\n", handled, cpu, wall, 100 * cpu / wall);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 2 && qstrcmp(argv[1], "--once") == 0) {
        BenchBundle bundle(chattyEngine);
        QCoreApplication app(argc, argv);
        return measure(bundle);
    }
    QCoreApplication app(argc, argv);
    const auto runs = runMeasurements(3, {u"--once"_s});
    std::vector<double> share, lines;
    for (const auto &figures : runs) {
        share.push_back(figures.value(u"share_pct"_s));
        lines.push_back(figures.value(u"lines"_s));
    }
    std::printf("progress fan-out, %d downloads x 200 lines/s x 10 s, median of %zu runs\n", downloads, runs.size());
    std::printf("main thread CPU: %.2f %% of one core\n", median(share));
    std::printf("lines handled:   %.0f of %d\n", median(lines), downloads * 2000);
    return 0;
}
