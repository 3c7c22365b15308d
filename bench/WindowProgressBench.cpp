// Eight downloads, each engine printing 200 progress lines a second for ten seconds, shown in
// the main window: the main thread's share of one core and the repaints per visible card,
// against the same queue without a window, in fresh processes of one run.
#include "BenchBundle.h"

#include "app/DownloadCardDelegate.h"
#include "app/DownloadListView.h"
#include "app/MainWindow.h"
#include "queue/DownloadManager.h"

#include <QApplication>
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

int visibleCards(DownloadListView *list)
{
    int count = 0;
    for (int row = 0; row < list->model()->rowCount(); ++row)
        count += list->visualRect(list->model()->index(row, 0)).intersects(list->viewport()->rect());
    return count;
}

int measure(BenchBundle &bundle, bool window)
{
    DownloadManager &manager = bundle.manager(downloads);
    std::unique_ptr<MainWindow> main;
    DownloadCardDelegate *delegate = nullptr;
    if (window) {
        main = std::make_unique<MainWindow>(manager, bundle.settings(), bundle.history());
        main->resize(760, 900);
        main->show();
        delegate = qobject_cast<DownloadCardDelegate *>(main->listView()->itemDelegate());
    }
    QStringList urls;
    for (int i = 0; i < downloads; ++i)
        urls.append(u"http://127.0.0.1:9/v/"_s + QString::number(i));
    manager.add(urls);

    int handled = 0;
    int finished = 0;
    double cpuStart = 0;
    qint64 paintsStart = 0;
    int cards = 0;
    QElapsedTimer phase;
    for (DownloadItem *item : manager.items()) {
        QObject::connect(item, &DownloadItem::changed, item, [&, item, last = qint64(0)]() mutable {
            if (item->downloadedBytes() != last && item->status() == DownloadStatus::downloading) {
                last = item->downloadedBytes();
                if (handled++ == 0) {
                    cpuStart = threadCpuSeconds();
                    paintsStart = delegate ? delegate->paintCount() : 0;
                    cards = main ? visibleCards(main->listView()) : 0;
                    phase.start();
                }
            }
        });
    }
    QObject::connect(&manager, &DownloadManager::itemConcluded, &manager,
                     [&](DownloadItem *item) { finished += item->status() == DownloadStatus::finished; });
    qint64 paintsEnd = 0;
    double cpu = 0, wall = 0;
    while (finished < downloads || manager.runningJobs() > 0) {
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        // The phase ends with the first finished download; later lines come from fewer engines.
        if (finished > 0 && wall == 0) {
            cpu = threadCpuSeconds() - cpuStart;
            wall = phase.nsecsElapsed() / 1e9;
            paintsEnd = delegate ? delegate->paintCount() : 0;
        }
    }
    const double perCard = cards > 0 ? (paintsEnd - paintsStart) / double(cards) / wall : 0;
    std::printf("lines=%d cpu_s=%.3f wall_s=%.3f share_pct=%.2f cards=%d repaints_per_card_s=%.1f\n", handled, cpu, wall,
                100 * cpu / wall, cards, perCard);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && qstrcmp(argv[1], "--once") == 0) {
        BenchBundle bundle(chattyEngine);
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return measure(bundle, qstrcmp(argv[2], "window") == 0);
    }
    QCoreApplication app(argc, argv);
    std::vector<double> windowShare, queueShare, repaints, cards;
    for (int run = 0; run < 3; ++run) {
        const auto window = runMeasurements(1, {u"--once"_s, u"window"_s}).front();
        const auto queue = runMeasurements(1, {u"--once"_s, u"queue"_s}).front();
        windowShare.push_back(window.value(u"share_pct"_s));
        repaints.push_back(window.value(u"repaints_per_card_s"_s));
        cards.push_back(window.value(u"cards"_s));
        queueShare.push_back(queue.value(u"share_pct"_s));
    }
    std::printf("progress in the window, %d downloads x 200 lines/s, median of 3 alternating runs\n", downloads);
    std::printf("main thread CPU, window shown: %.2f %% of one core\n", median(windowShare));
    std::printf("main thread CPU, queue alone:  %.2f %% of one core (window's own %.2f %%)\n", median(queueShare),
                median(windowShare) - median(queueShare));
    std::printf("repaints per visible card:     %.1f per second (%.0f cards visible)\n", median(repaints), median(cards));
    return 0;
}
