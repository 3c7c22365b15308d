// 10,000 links added through the main window: the time until the list shows them and the
// memory per item, each against the queue alone in a fresh process of the same run; then the
// paint time per frame while the list scrolls over cards with thumbnails.
#include "BenchBundle.h"

#include "app/DownloadCardDelegate.h"
#include "app/DownloadFilterModel.h"
#include "app/DownloadListModel.h"
#include "app/DownloadListView.h"
#include "app/MainWindow.h"
#include "app/ThumbnailCache.h"
#include "queue/DownloadManager.h"

#include <QApplication>
#include <QClipboard>
#include <QElapsedTimer>
#include <QPainter>
#include <QScrollBar>

#include <algorithm>
#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Answers at once; the engine is not what is measured.
const QByteArray instantEngine = R"(#!/bin/sh
for a in "$@"; do
  case $a in
    --version) echo 2025.12.01; exit 0 ;;
    -J) echo '{"title":"t"}'; exit 0 ;;
  esac
done
exit 1
)";

constexpr int thumbnails = 24;

QImage picture(int seed)
{
    QImage image(480, 270, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, 480, 270);
    gradient.setColorAt(0, QColor::fromHsv(seed * 15 % 360, 180, 220));
    gradient.setColorAt(1, QColor::fromHsv((seed * 15 + 120) % 360, 200, 90));
    painter.fillRect(image.rect(), gradient);
    painter.setBrush(Qt::white);
    painter.drawEllipse(QPoint(120 + seed * 7 % 240, 135), 60, 60);
    return image;
}

int measure(BenchBundle &bundle, int links, bool window)
{
    DownloadManager &manager = bundle.manager(6);
    QStringList urls;
    for (int i = 0; i < links; ++i)
        urls.append(u"http://127.0.0.1:9/v/"_s + QString::number(i));

    std::unique_ptr<MainWindow> main;
    if (window) {
        main = std::make_unique<MainWindow>(manager, bundle.settings(), bundle.history());
        main->resize(760, 560);
        main->show();
        QCoreApplication::processEvents();
        QGuiApplication::clipboard()->setText(urls.join(u'\n'));
    }
    QCoreApplication::processEvents();
    const qint64 residentBefore = residentKiB();
    QElapsedTimer wall;
    wall.start();
    if (main) {
        main->pasteFromClipboard();
        // Shown means: the list has the rows and a frame of them has been painted.
        while (main->filterModel()->rowCount() < links)
            QCoreApplication::processEvents();
        main->listView()->viewport()->repaint();
    } else {
        manager.add(urls);
    }
    const qint64 showNanoseconds = wall.nsecsElapsed();
    const qint64 residentAfter = residentKiB();
    manager.pauseAll();
    while (manager.runningJobs() > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);

    double medianFrame = 0, worstFrame = 0;
    if (main) {
        for (int i = 0; i < thumbnails; ++i)
            ThumbnailCache::shared().store(picture(i), QUrl(u"https://img.example/"_s + QString::number(i) + u".jpg"_s));
        const DownloadStatus statuses[] = {DownloadStatus::downloading, DownloadStatus::paused, DownloadStatus::finished,
                                           DownloadStatus::failed, DownloadStatus::pending, DownloadStatus::canceled};
        int n = 0;
        for (DownloadItem *item : manager.items()) {
            item->setThumbnailURL(QUrl(u"https://img.example/"_s + QString::number(n % thumbnails) + u".jpg"_s));
            item->setTitle(u"A video with a reasonably long title number "_s + QString::number(n));
            item->setSite(u"video.example"_s);
            item->setExt(u"mp4"_s);
            item->setProgressKnown(true);
            item->setProgress((n % 100) / 100.0);
            item->setStatus(statuses[n % 6]);
            ++n;
        }
        main->listModel()->flush();
        QCoreApplication::processEvents();
        DownloadListView *list = main->listView();
        QScrollBar *bar = list->verticalScrollBar();
        std::vector<double> frames;
        for (int frame = 0; frame < 600 && bar->value() < bar->maximum(); ++frame) {
            bar->setValue(bar->value() + 37);
            QElapsedTimer timer;
            timer.start();
            list->viewport()->repaint();
            frames.push_back(timer.nsecsElapsed() / 1e6);
        }
        worstFrame = *std::max_element(frames.begin(), frames.end());
        medianFrame = median(frames);
    }
    std::printf("show_ms=%.2f kib_per_item=%.3f frame_ms=%.3f worst_frame_ms=%.3f\n", showNanoseconds / 1e6,
                double(residentAfter - residentBefore) / links, medianFrame, worstFrame);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // "--once N window|queue": one measurement in this process; otherwise three of each,
    // alternating, each in a fresh process.
    if (argc == 4 && qstrcmp(argv[1], "--once") == 0) {
        BenchBundle bundle(instantEngine);
        qputenv("QT_QPA_PLATFORM", "offscreen");
        QApplication app(argc, argv);
        return measure(bundle, QByteArray(argv[2]).toInt(), qstrcmp(argv[3], "window") == 0);
    }
    QCoreApplication app(argc, argv);
    const QString links = argc == 2 ? QString::fromLocal8Bit(argv[1]) : u"10000"_s;
    std::vector<double> showWindow, showQueue, kibWindow, kibQueue, frame, worst;
    for (int run = 0; run < 3; ++run) {
        const auto window = runMeasurements(1, {u"--once"_s, links, u"window"_s}).front();
        const auto queue = runMeasurements(1, {u"--once"_s, links, u"queue"_s}).front();
        showWindow.push_back(window.value(u"show_ms"_s));
        kibWindow.push_back(window.value(u"kib_per_item"_s));
        frame.push_back(window.value(u"frame_ms"_s));
        worst.push_back(window.value(u"worst_frame_ms"_s));
        showQueue.push_back(queue.value(u"show_ms"_s));
        kibQueue.push_back(queue.value(u"kib_per_item"_s));
    }
    std::printf("window list, %s links, median of 3 alternating runs\n", qPrintable(links));
    std::printf("added and shown:   %.1f ms (queue alone: %.1f ms, %.2fx)\n", median(showWindow), median(showQueue),
                median(showWindow) / median(showQueue));
    std::printf("memory per item:   %.3f KiB (queue alone: %.3f KiB, window's own %.3f KiB)\n", median(kibWindow),
                median(kibQueue), median(kibWindow) - median(kibQueue));
    std::printf("paint per frame:   %.3f ms median, %.3f ms worst (scrolling, thumbnails)\n", median(frame), median(worst));
    return 0;
}
