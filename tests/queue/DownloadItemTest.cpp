#include "queue/DownloadItem.h"

#include "TestEnvironment.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

const QString pageLink = u"https://video.example/watch?v=abc"_s;
const QString outputFolder = u"/home/user/Downloads/Kestro"_s;

} // namespace

TEST(DownloadItem, NewItemStartsEmptyAndPending)
{
    const QDateTime before = QDateTime::currentDateTimeUtc();
    DownloadItem item(pageLink, outputFolder);
    const QDateTime after = QDateTime::currentDateTimeUtc();

    EXPECT_FALSE(item.id().isNull());
    EXPECT_NE(item.id(), DownloadItem(pageLink, outputFolder).id());
    EXPECT_EQ(item.url(), pageLink);
    EXPECT_EQ(item.outputDir(), outputFolder);
    EXPECT_EQ(item.title(), u""_s);
    EXPECT_EQ(item.site(), u""_s);
    EXPECT_EQ(item.thumbnailURL(), std::nullopt);
    EXPECT_EQ(item.duration(), std::nullopt);
    EXPECT_EQ(item.resolution(), u""_s);
    EXPECT_EQ(item.fileSize(), std::nullopt);
    EXPECT_EQ(item.ext(), u"MP4"_s);
    EXPECT_EQ(item.status(), DownloadStatus::pending);
    EXPECT_EQ(item.progress(), 0);
    EXPECT_FALSE(item.progressKnown());
    EXPECT_EQ(item.downloadedBytes(), 0);
    EXPECT_EQ(item.totalBytes(), 0);
    EXPECT_FALSE(item.totalIsEstimated());
    EXPECT_EQ(item.speed(), 0);
    EXPECT_EQ(item.eta(), std::nullopt);
    EXPECT_EQ(item.errorMessage(), std::nullopt);
    EXPECT_EQ(item.errorDetails(), std::nullopt);
    EXPECT_EQ(item.formatSelector(), u"bv*+ba/b"_s);
    EXPECT_FALSE(item.audioOnly());
    EXPECT_EQ(item.audioFormat(), u"mp3"_s);
    EXPECT_TRUE(item.extraArgs().isEmpty());
    EXPECT_EQ(item.browserReferer(), std::nullopt);
    EXPECT_EQ(item.browserUserAgent(), std::nullopt);
    EXPECT_FALSE(item.browserSession().has_value());
    EXPECT_EQ(item.outputFile(), std::nullopt);
    EXPECT_EQ(item.finishedAt(), std::nullopt);
    EXPECT_EQ(item.playlistTitle(), std::nullopt);
    EXPECT_EQ(item.playlistIndex(), std::nullopt);
    EXPECT_EQ(item.addedAt().timeSpec(), Qt::UTC);
    EXPECT_GE(item.addedAt(), before);
    EXPECT_LE(item.addedAt(), after);
    EXPECT_EQ(item.displayTitle(), pageLink);
}

TEST(DownloadItem, DisplayTitleFallsBackToTheLink)
{
    DownloadItem item(pageLink, outputFolder);
    item.setTitle(u"Some Clip"_s);
    EXPECT_EQ(item.displayTitle(), u"Some Clip"_s);
    item.setTitle(u""_s);
    EXPECT_EQ(item.displayTitle(), pageLink);
}

TEST(DownloadItem, TemporaryDirectoryIsPerItemInsideTheOutputFolder)
{
    const struct {
        QString outputDir;
        QString prefix;
    } cases[] = {
        {outputFolder, outputFolder + u"/.kestro-partials/"_s},
        {u"/data/videos/"_s, u"/data/videos/.kestro-partials/"_s},
        {u"/"_s, u"/.kestro-partials/"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.outputDir.toStdString());
        DownloadItem first(pageLink, c.outputDir);
        DownloadItem second(pageLink, c.outputDir);
        const QString id = first.id().toString(QUuid::WithoutBraces).toUpper();
        EXPECT_EQ(first.temporaryDirectory(), c.prefix + id);
        EXPECT_TRUE(second.temporaryDirectory().startsWith(c.prefix));
        EXPECT_NE(first.temporaryDirectory(), second.temporaryDirectory());
        // The canonical 8-4-4-4-12 upper-case form names the outputFolder.
        EXPECT_EQ(id.size(), 36);
        EXPECT_EQ(QUuid::fromString(id), first.id());
        EXPECT_EQ(id, id.toUpper());
    }
}

TEST(DownloadItem, StatusLineForEveryState)
{
    using Setup = std::function<void(DownloadItem &)>;
    const auto status = [](DownloadStatus s, Setup more = {}) {
        return Setup([s, more](DownloadItem &item) {
            item.setStatus(s);
            if (more)
                more(item);
        });
    };
    const struct {
        const char *name;
        Setup setup;
        QString expected;
    } cases[] = {
        {"pending", status(DownloadStatus::pending), u"等待中"_s},
        {"analyzing", status(DownloadStatus::analyzing), u"正在解析…"_s},
        {"downloading, nothing known", status(DownloadStatus::downloading), u"下载中"_s},
        {"downloading, one byte so far", status(DownloadStatus::downloading, [](DownloadItem &i) {
             i.setDownloadedBytes(1);
         }), u"下载中 – 1 B"_s},
        {"downloading, estimate flag without a total", status(DownloadStatus::downloading, [](DownloadItem &i) {
             i.setTotalIsEstimated(true);
         }), u"下载中"_s},
        {"downloading, estimated total", status(DownloadStatus::downloading, [](DownloadItem &i) {
             i.setDownloadedBytes(500'000);
             i.setTotalBytes(1'000'000);
             i.setTotalIsEstimated(true);
         }), u"下载中 – 500.0 KB/约 1.0 MB"_s},
        {"downloading, everything known", status(DownloadStatus::downloading, [](DownloadItem &i) {
             i.setProgressKnown(true);
             i.setProgress(0.45);
             i.setDownloadedBytes(45'000'000);
             i.setTotalBytes(100'000'000);
             i.setEta(83);
             i.setSpeed(2'500'000);
         }), u"45% – 下载中 – 45.0 MB/100.0 MB – 剩余 1:23 – 2.5 MB/s"_s},
        {"downloading, percent truncated", status(DownloadStatus::downloading, [](DownloadItem &i) {
             i.setProgressKnown(true);
             i.setProgress(0.999);
         }), u"99% – 下载中"_s},
        {"downloading, progress not known", status(DownloadStatus::downloading, [](DownloadItem &i) {
             i.setProgress(0.5);
             i.setEta(0);
         }), u"下载中 – 剩余 0:00"_s},
        {"downloading, speed below one byte", status(DownloadStatus::downloading, [](DownloadItem &i) {
             i.setSpeed(0.5);
         }), u"下载中 – 0 B/s"_s},
        {"paused, progress not known", status(DownloadStatus::paused, [](DownloadItem &i) {
             i.setProgress(0.5);
         }), u"已暂停"_s},
        {"paused halfway", status(DownloadStatus::paused, [](DownloadItem &i) {
             i.setProgressKnown(true);
             i.setProgress(0.5);
         }), u"已暂停 – 50%"_s},
        {"paused, percent truncated", status(DownloadStatus::paused, [](DownloadItem &i) {
             i.setProgressKnown(true);
             i.setProgress(0.999);
         }), u"已暂停 – 99%"_s},
        {"processing", status(DownloadStatus::processing), u"正在后处理…"_s},
        {"finished", status(DownloadStatus::finished), u"已完成"_s},
        {"failed with a message", status(DownloadStatus::failed, [](DownloadItem &i) {
             i.setErrorMessage(u"HTTP Error 404"_s);
         }), u"失败：HTTP Error 404"_s},
        {"failed without a message", status(DownloadStatus::failed), u"失败：未知错误"_s},
        {"failed with an empty message", status(DownloadStatus::failed, [](DownloadItem &i) {
             i.setErrorMessage(u""_s);
         }), u"失败：未知错误"_s},
        {"canceled", status(DownloadStatus::canceled), u"已取消"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        DownloadItem item(pageLink, outputFolder);
        c.setup(item);
        EXPECT_EQ(item.statusLine(), c.expected);
    }
}

TEST(DownloadItem, FormatsBytesInDecimalUnits)
{
    const struct {
        qint64 bytes;
        QString text;
    } cases[] = {
        {0, u"0 B"_s},
        {999, u"999 B"_s},
        {1000, u"1.0 KB"_s},
        {1250, u"1.2 KB"_s}, // printf rounding: an exact tie goes to the even digit
        {1'536'000, u"1.5 MB"_s},
        {999'999, u"1000.0 KB"_s},
        {1'000'000'000'000, u"1.0 TB"_s},
        {1'000'000'000'000'000, u"1000.0 TB"_s},
        {std::numeric_limits<qint64>::max(), u"9223372.0 TB"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.bytes);
        EXPECT_EQ(DownloadItem::fmtBytes(c.bytes), c.text);
    }
}

TEST(DownloadItem, FormatsDurationsAsClockTime)
{
    const struct {
        double seconds;
        QString text;
    } cases[] = {
        {0, u"0:00"_s},
        {59.9, u"0:59"_s},
        {65, u"1:05"_s},
        {3599, u"59:59"_s},
        {3600, u"1:00:00"_s},
        {3725, u"1:02:05"_s},
        {360'000, u"100:00:00"_s},
        {-5, u"0:00"_s},
        {std::nan(""), u"0:00"_s},
        {std::numeric_limits<double>::infinity(), u"0:00"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.seconds);
        EXPECT_EQ(DownloadItem::fmtDuration(c.seconds), c.text);
    }
}

TEST(DownloadItem, ObservedFieldsSignalRealChangesOnly)
{
    const struct {
        const char *name;
        std::function<void(DownloadItem &)> set;
    } cases[] = {
        {"title", [](DownloadItem &i) { i.setTitle(u"Clip"_s); }},
        {"site", [](DownloadItem &i) { i.setSite(u"Example"_s); }},
        {"thumbnailURL", [](DownloadItem &i) { i.setThumbnailURL(QUrl(u"https://img.example/t.jpg"_s)); }},
        {"duration", [](DownloadItem &i) { i.setDuration(12.5); }},
        {"resolution", [](DownloadItem &i) { i.setResolution(u"1920x1080"_s); }},
        {"fileSize", [](DownloadItem &i) { i.setFileSize(1234); }},
        {"ext", [](DownloadItem &i) { i.setExt(u"WEBM"_s); }},
        {"status", [](DownloadItem &i) { i.setStatus(DownloadStatus::downloading); }},
        {"progress", [](DownloadItem &i) { i.setProgress(0.25); }},
        {"progressKnown", [](DownloadItem &i) { i.setProgressKnown(true); }},
        {"downloadedBytes", [](DownloadItem &i) { i.setDownloadedBytes(10); }},
        {"totalBytes", [](DownloadItem &i) { i.setTotalBytes(100); }},
        {"totalIsEstimated", [](DownloadItem &i) { i.setTotalIsEstimated(true); }},
        {"speed", [](DownloadItem &i) { i.setSpeed(2048); }},
        {"eta", [](DownloadItem &i) { i.setEta(30); }},
        {"errorMessage", [](DownloadItem &i) { i.setErrorMessage(u"boom"_s); }},
        {"errorDetails", [](DownloadItem &i) { i.setErrorDetails(u"log"_s); }},
        {"outputFile", [](DownloadItem &i) { i.setOutputFile(u"/tmp/a.mp4"_s); }},
        {"finishedAt", [](DownloadItem &i) { i.setFinishedAt(QDateTime::fromSecsSinceEpoch(1, Qt::UTC)); }},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        DownloadItem item(pageLink, outputFolder);
        QSignalSpy spy(&item, &DownloadItem::changed);
        c.set(item);
        EXPECT_EQ(spy.count(), 1);
        c.set(item);
        EXPECT_EQ(spy.count(), 1) << "same value again";
    }
}

TEST(DownloadItem, SettingDefaultsOrUnobservedFieldsIsSilent)
{
    DownloadItem item(pageLink, outputFolder);
    QSignalSpy spy(&item, &DownloadItem::changed);
    item.setTitle(u""_s);
    item.setExt(u"MP4"_s);
    item.setStatus(DownloadStatus::pending);
    item.setProgress(0);
    item.setEta(std::nullopt);
    item.setErrorMessage(std::nullopt);
    item.setFinishedAt(std::nullopt);
    item.setFormatSelector(u"b"_s);
    item.setAudioOnly(true);
    item.setAudioFormat(u"m4a"_s);
    item.setOutputDir(u"/elsewhere"_s);
    item.setExtraArgs({u"--no-mtime"_s});
    item.setBrowserReferer(u"https://video.example/"_s);
    item.setBrowserUserAgent(u"agent"_s);
    item.setBrowserSession(BrowserSession());
    item.setPlaylistTitle(u"List"_s);
    item.setPlaylistIndex(2);
    EXPECT_EQ(spy.count(), 0);
    EXPECT_EQ(item.audioFormat(), u"m4a"_s);
    EXPECT_EQ(item.playlistIndex(), 2);
    EXPECT_TRUE(item.browserSession().has_value());
}

TEST(DownloadItem, ObserversSeeTheNewValueAndClearingAnOptionalSignals)
{
    DownloadItem item(pageLink, outputFolder);
    QStringList seen;
    QObject::connect(&item, &DownloadItem::changed, &item, [&] { seen.append(item.statusLine()); });
    item.setStatus(DownloadStatus::failed);
    item.setErrorMessage(u"boom"_s);
    item.setErrorMessage(std::nullopt);
    EXPECT_EQ(seen, (QStringList{u"失败：未知错误"_s, u"失败：boom"_s, u"失败：未知错误"_s}));
}
