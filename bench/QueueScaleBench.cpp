// Adds many links at once to a queue whose engine answers at once, and times the add, the
// memory per item and the scheduling (pump) cost while every item is analysed and downloaded.
#include "BenchBundle.h"

#include "queue/DownloadManager.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// POSIX sh, builtins only apart from mkdir: the engine must not be what is measured.
const QByteArray instantEngine = R"(#!/bin/sh
home= list= url= probe=
while [ $# -gt 0 ]; do
  case $1 in
    --version) echo 2025.12.01; exit 0 ;;
    -J) probe=1 ;;
    -P) case $2 in home:*) home=${2#home:} ;; esac; shift ;;
    -o) shift ;;
    --print-to-file) list=$3; shift 2 ;;
    --) url=$2; break ;;
  esac
  shift
done
if [ -n "$probe" ]; then echo '{"title":"t"}'; exit 0; fi
mkdir -p "$home" || exit 1
file="$home/${url##*/}.mp4"
printf x > "$file"
printf '"%s"\n' "$file" >> "$list"
)";

int measure(BenchBundle &bundle, int links)
{
    DownloadManager &manager = bundle.manager(6);

    QStringList urls;
    for (int i = 0; i < links; ++i)
        urls.append(u"http://127.0.0.1:9/v/"_s + QString::number(i));

    int concluded = 0;
    int failed = 0;
    qint64 lastPump = 0;
    double firstFinishSeconds = 0;
    int analysingAtFirstFinish = 0;
    QElapsedTimer wall;
    QObject::connect(&manager, &DownloadManager::itemConcluded, &manager, [&](DownloadItem *item) {
        if (++concluded == 1) {
            firstFinishSeconds = wall.nsecsElapsed() / 1e9;
            analysingAtFirstFinish = int(std::count_if(manager.items().cbegin(), manager.items().cend(), [](auto *each) {
                return each->status() == DownloadStatus::analyzing;
            }));
        }
        failed += item->status() != DownloadStatus::finished;
        // Scheduling cost per tenth, to show whether it changes as the list drains.
        if (concluded % (links / 10) == 0) {
            std::printf("concluded %d: pump %.1f ms in the last %d\n", concluded,
                        (manager.pumpNanoseconds() - lastPump) / 1e6, links / 10);
            lastPump = manager.pumpNanoseconds();
        }
    });

    const qint64 residentBefore = residentKiB();
    wall.start();
    manager.add(urls);
    const qint64 addNanoseconds = wall.nsecsElapsed();
    const qint64 residentAfter = residentKiB();
    while (concluded < links || manager.runningJobs() > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    const double wallSeconds = wall.nsecsElapsed() / 1e9;

    std::printf("first download finished after %.2f s, %d items still analysing then\n", firstFinishSeconds,
                analysingAtFirstFinish);
    std::printf("links=%d failed=%d add_ms=%.2f kib_per_item=%.3f pump_ms=%.1f wall_s=%.2f\n", links, failed,
                addNanoseconds / 1e6, double(residentAfter - residentBefore) / links, manager.pumpNanoseconds() / 1e6,
                wallSeconds);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // "--once N": one measurement in this process; otherwise three, each in a fresh process.
    if (argc == 3 && qstrcmp(argv[1], "--once") == 0) {
        BenchBundle bundle(instantEngine);
        QCoreApplication app(argc, argv);
        return measure(bundle, QByteArray(argv[2]).toInt());
    }
    QCoreApplication app(argc, argv);
    const QString links = argc == 2 ? QString::fromLocal8Bit(argv[1]) : u"10000"_s;
    const auto runs = runMeasurements(3, {u"--once"_s, links});
    std::vector<double> add, perItem, pump, wallTime;
    for (const auto &figures : runs) {
        add.push_back(figures.value(u"add_ms"_s));
        perItem.push_back(figures.value(u"kib_per_item"_s));
        pump.push_back(figures.value(u"pump_ms"_s));
        wallTime.push_back(figures.value(u"wall_s"_s));
    }
    std::printf("queue scale, %s links, median of %zu runs\n", qPrintable(links), runs.size());
    std::printf("add:          %.2f ms\n", median(add));
    std::printf("memory:       %.3f KiB per item\n", median(perItem));
    std::printf("pump total:   %.1f ms\n", median(pump));
    std::printf("wall:         %.2f s\n", median(wallTime));
    return 0;
}
