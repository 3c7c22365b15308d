// Renders the windows to PNG files for the documentation (scripts/screenshots runs it from a
// scratch bundle, so that the translations are found). Not a benchmark, but a driver like them.
#include "BenchBundle.h"

#include "app/AddDownloadDialog.h"
#include "app/DownloadListModel.h"
#include "app/FailureDetailsDialog.h"
#include "app/HistoryWindow.h"
#include "app/MainWindow.h"
#include "app/ThumbnailCache.h"
#include "queue/DownloadManager.h"
#include "store/AppSettings.h"
#include "store/HistoryStore.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDragEnterEvent>
#include <QMimeData>
#include <QPainter>
#include <QTimeZone>

#include <cstdio>

using namespace Qt::StringLiterals;

namespace {

// Every probe fails and every download fails at once: the pictures set the states themselves.
const QByteArray silentEngine = R"(#!/bin/sh
for a in "$@"; do
  case $a in
    --version) echo 2025.12.01; exit 0 ;;
  esac
done
exit 1
)";

QImage picture(int seed)
{
    QImage image(640, 360, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 360);
    sky.setColorAt(0, QColor::fromHsv((seed * 47) % 360, 120, 240));
    sky.setColorAt(1, QColor::fromHsv((seed * 47 + 40) % 360, 200, 120));
    painter.fillRect(image.rect(), sky);
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(255, 240, 200));
    painter.drawEllipse(QPoint(140 + seed * 61 % 360, 110), 48, 48);
    painter.setBrush(QColor::fromHsv((seed * 47 + 120) % 360, 160, 70));
    QPolygon hills;
    hills << QPoint(0, 360) << QPoint(0, 250) << QPoint(160, 180) << QPoint(320, 260) << QPoint(480, 170)
          << QPoint(640, 240) << QPoint(640, 360);
    painter.drawPolygon(hills);
    return image;
}

QUrl thumbnailUrl(int seed)
{
    return QUrl(u"https://img.example/thumb-"_s + QString::number(seed) + u".jpg"_s);
}

bool save(QWidget &widget, const QString &directory, const QString &name)
{
    QCoreApplication::processEvents();
    const QString path = directory + u'/' + name + u".png"_s;
    const bool ok = widget.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

void settle(DownloadManager &manager)
{
    while (manager.runningJobs() > 0)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    QCoreApplication::processEvents();
}

DownloadItem *add(DownloadManager &manager, const QString &url)
{
    manager.add({url});
    DownloadItem *item = manager.items().first();
    settle(manager);
    return item;
}

void fillQueue(DownloadManager &manager)
{
    struct Entry
    {
        DownloadStatus status;
        const char16_t *title;
        const char16_t *site;
        const char16_t *ext;
        const char16_t *resolution;
        qint64 size;
        double progress;
    };
    const Entry entries[] = {
        {DownloadStatus::canceled, u"Street Food Tour: Night Market Edition", u"Vidsite", u"mp4", u"1920x1080", 0, 0.18},
        {DownloadStatus::failed, u"Members-only Livestream Replay", u"Streamly", u"mp4", u"", 0, 0.05},
        {DownloadStatus::finished, u"Lecture 4 – Linear Algebra Refresher", u"OpenCourses", u"mp4", u"1280x720",
         412000000, 1.0},
        {DownloadStatus::processing, u"Concert in the Park (Full Set)", u"Vidsite", u"mkv", u"3840x2160", 2300000000, 1.0},
        {DownloadStatus::paused, u"How to Build a Bird Feeder", u"DIY Channel", u"webm", u"1920x1080", 96000000, 0.62},
        {DownloadStatus::downloading, u"Mountain Timelapse in 4K", u"Vidsite", u"mp4", u"3840x2160", 880000000, 0.37},
        {DownloadStatus::analyzing, u"", u"", u"", u"", 0, 0},
        {DownloadStatus::pending, u"Morning News Summary", u"Newsroom", u"mp4", u"1280x720", 0, 0},
    };
    int seed = 0;
    for (const Entry &entry : entries) {
        const QString url = entry.title[0] ? u"https://www.vidsite.example/watch?v=clip"_s + QString::number(seed)
                                           : u"https://media.example.org/share/8f3kq2"_s;
        DownloadItem *item = add(manager, url);
        item->setTitle(QString::fromUtf16(entry.title));
        item->setSite(QString::fromUtf16(entry.site));
        item->setExt(QString::fromUtf16(entry.ext));
        item->setResolution(QString::fromUtf16(entry.resolution));
        item->setFileSize(entry.size ? std::optional<qint64>(entry.size) : std::nullopt);
        item->setErrorMessage(std::nullopt);
        item->setStatus(entry.status);
        if (entry.title[0] && entry.status != DownloadStatus::pending) {
            ThumbnailCache::shared().store(picture(seed), thumbnailUrl(seed));
            item->setThumbnailURL(thumbnailUrl(seed));
        }
        item->setProgressKnown(entry.progress > 0);
        item->setProgress(entry.progress);
        if (entry.status == DownloadStatus::downloading) {
            item->setDownloadedBytes(qint64(entry.size * entry.progress));
            item->setTotalBytes(entry.size);
            item->setSpeed(6400000);
            item->setEta(84);
        }
        if (entry.status == DownloadStatus::failed) {
            item->setErrorMessage(u"HTTP Error 403: Forbidden"_s);
            item->setErrorDetails(u"[vidsite] clip1: Downloading webpage\n[vidsite] clip1: Downloading m3u8 information\n"
                                  "ERROR: [vidsite] clip1: Unable to download video data: HTTP Error 403: Forbidden\n"
                                  "This video is available to members only. Send the page from your browser "
                                  "with the extension to use your session."_s);
        }
        if (entry.status == DownloadStatus::finished)
            item->setOutputFile(QDir::homePath() + u"/Downloads/Kestro/Lecture 4.mp4"_s);
        if (entry.status == DownloadStatus::paused) {
            item->setPlaylistTitle(u"Weekend Projects"_s);
            item->setPlaylistIndex(3);
        }
        ++seed;
    }
}

void fillHistory(HistoryStore &history)
{
    const struct
    {
        const char16_t *title;
        const char16_t *site;
        const char16_t *resolution;
        const char16_t *ext;
        bool file;
        int daysAgo;
    } entries[] = {
        {u"Lecture 3 – Vector Spaces", u"OpenCourses", u"1280x720", u"MP4", true, 6},
        {u"Podcast Episode 112: Slow Travel", u"Audiocast", u"", u"M4A", true, 4},
        {u"Sunset Over the Harbour", u"Vidsite", u"3840x2160", u"MP4", false, 2},
        {u"Knitting Basics, Part 2", u"DIY Channel", u"1920x1080", u"WEBM", true, 1},
        {u"Lecture 4 – Linear Algebra Refresher", u"OpenCourses", u"1280x720", u"MP4", true, 0},
    };
    int seed = 10;
    for (const auto &e : entries) {
        HistoryEntry entry;
        entry.id = QUuid::createUuid();
        entry.url = u"https://www.vidsite.example/watch?v=h"_s + QString::number(seed);
        entry.title = QString::fromUtf16(e.title);
        entry.site = QString::fromUtf16(e.site);
        entry.resolution = QString::fromUtf16(e.resolution);
        entry.ext = QString::fromUtf16(e.ext);
        if (e.file)
            entry.filePath = QDir::homePath() + u"/Downloads/Kestro/"_s + entry.title + u".mp4"_s;
        if (seed != 11) {
            ThumbnailCache::shared().store(picture(seed), thumbnailUrl(seed));
            entry.thumbnailURL = thumbnailUrl(seed).toString();
        }
        entry.finishedAt = QDateTime(QDate(2026, 12, 10).addDays(-e.daysAgo), QTime(9 + seed % 8, 5 * seed % 60), QTimeZone::utc());
        history.add(entry);
        ++seed;
    }
}

} // namespace

int main(int argc, char **argv)
{
    BenchBundle bundle(silentEngine);
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : u"docs/screenshots"_s;
    QDir().mkpath(out);
    DownloadManager &manager = bundle.manager(3);
    AppSettings &settings = bundle.settings();
    HistoryStore &history = bundle.history();
    bool ok = true;

    MainWindow window(manager, settings, history);
    window.resize(820, 560);
    window.show();
    for (const QString language : {u"zh-Hans"_s, u"en"_s}) {
        settings.setLanguage(language);
        ok &= save(window, out, u"empty-"_s + language);
    }

    fillQueue(manager);
    window.listModel()->flush();
    window.resize(820, 8 * 142 + 130);
    ok &= save(window, out, u"queue-en"_s);

    for (DownloadItem *item : manager.items()) {
        if (item->status() == DownloadStatus::failed) {
            auto *details = new FailureDetailsDialog(*item, &window);
            details->show();
            ok &= save(*details, out, u"failure-details-en"_s);
            details->close();
        }
    }

    QGuiApplication::clipboard()->setText(u"https://www.vidsite.example/watch?v=abc123\nhttps://www.vidsite.example/playlist?list=PL42"_s);
    for (const QString language : {u"en"_s, u"zh-Hans"_s}) {
        settings.setLanguage(language);
        auto *sheet = new AddDownloadDialog(manager, settings, &window);
        sheet->show();
        ok &= save(*sheet, out, u"add-sheet-"_s + language);
        sheet->close();
    }
    settings.setLanguage(u"en"_s);

    window.resize(820, 560);
    QMimeData dragged;
    dragged.setText(u"https://www.vidsite.example/watch?v=dropped"_s);
    QDragEnterEvent enter(QPoint(300, 300), Qt::CopyAction, &dragged, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&window, &enter);
    ok &= save(window, out, u"drop-outline-en"_s);
    QDragLeaveEvent leave;
    QCoreApplication::sendEvent(&window, &leave);

    fillHistory(history);
    HistoryWindow historyWindow(manager, settings, history);
    historyWindow.show();
    for (const QString language : {u"en"_s, u"zh-Hans"_s}) {
        settings.setLanguage(language);
        ok &= save(historyWindow, out, u"history-"_s + language);
    }
    settings.setLanguage(u"en"_s);
    return ok ? 0 : 1;
}
