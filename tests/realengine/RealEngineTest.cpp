// The queue on the bundle's real engine (not the double), against media made with ffmpeg and
// served from local servers. Skipped only when the bundle has no usable engine.
#include "engine/YtDlpService.h"
#include "queue/DownloadManager.h"
#include "store/AppSettings.h"
#include "store/HistoryStore.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QDirIterator>
#include <QHash>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <functional>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

const QString bundleDir = QString::fromUtf8(KESTRO_BUILD_BUNDLE_DIR);

QString helper(const QString &name)
{
    return bundleDir + u"/Contents/Helpers/"_s + name;
}

// Runs a bundled tool to its end; the test fails when it does not exit 0.
QByteArray runTool(const QString &tool, const QStringList &arguments, const QString &folder = {})
{
    QProcess process;
    process.setWorkingDirectory(folder.isEmpty() ? TestEnvironment::root() : folder);
    process.start(helper(tool), arguments);
    const bool finished = process.waitForFinished(120000);
    EXPECT_TRUE(finished && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0)
        << tool.toStdString() << " " << arguments.join(u' ').toStdString() << "\n"
        << process.readAllStandardError().toStdString();
    return process.readAllStandardOutput();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// ffprobe's view of a file: its stream types and its duration in seconds.
struct Probe
{
    QStringList streams;
    double duration = 0;
};

Probe probeFile(const QString &path)
{
    const QJsonObject document = QJsonDocument::fromJson(
        runTool(u"ffprobe"_s, {u"-v"_s, u"error"_s, u"-print_format"_s, u"json"_s, u"-show_streams"_s,
                               u"-show_format"_s, path})).object();
    Probe probe;
    for (const QJsonValue stream : document.value(u"streams"_s).toArray())
        probe.streams.append(stream.toObject().value(u"codec_type"_s).toString());
    probe.streams.sort();
    probe.duration = document.value(u"format"_s).toObject().value(u"duration"_s).toString().toDouble();
    return probe;
}

// Test sources of ffmpeg: `seconds` of a moving picture and a tone.
QStringList lavfiInputs(int seconds, bool video = true, bool audio = true)
{
    QStringList arguments{u"-hide_banner"_s, u"-loglevel"_s, u"error"_s, u"-y"_s};
    if (video)
        arguments << u"-f"_s << u"lavfi"_s << u"-i"_s << u"testsrc=duration=%1:size=160x120:rate=10"_s.arg(seconds);
    if (audio)
        arguments << u"-f"_s << u"lavfi"_s << u"-i"_s << u"sine=duration=%1:frequency=440"_s.arg(seconds);
    return arguments;
}

const QStringList h264{u"-c:v"_s, u"libx264"_s, u"-preset"_s, u"ultrafast"_s, u"-pix_fmt"_s, u"yuv420p"_s};
const QStringList aac{u"-c:a"_s, u"aac"_s, u"-b:a"_s, u"64k"_s};

class RealEngine : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!QFileInfo(helper(u"yt-dlp"_s)).isExecutable())
            GTEST_SKIP() << "the bundle has no yt-dlp: scripts/bootstrap could not get an engine";
        ASSERT_TRUE(server.start());
        media = TestEnvironment::makeDirectory(u"media"_s);
        output = TestEnvironment::makeDirectory(u"home/Downloads/Kestro"_s);
        settings = std::make_unique<AppSettings>();
        settings->setDownloadDirPath(output);
        settings->setShowNotifications(false);
        history = std::make_unique<HistoryStore>(TestEnvironment::root() + u"/history.json"_s);
        service = std::make_unique<YtDlpService>(bundleDir);
        manager = std::make_unique<DownloadManager>(*service, *settings, *history);
        ASSERT_TRUE(TestEnvironment::waitFor([this] { return !service->isChecking() && manager->engineReady() == service->isAvailable(); }, 120000));
        if (!service->isAvailable())
            GTEST_SKIP() << "the bundle's engine is not usable (scripts/bootstrap could not get a current one): "
                         << service->availabilityError().value_or(QString()).toStdString();
    }

    void TearDown() override
    {
        if (!manager)
            return;
        manager->pauseAll();
        EXPECT_TRUE(TestEnvironment::waitFor([this] { return manager->runningJobs() == 0; }, 60000));
        manager.reset();
    }

    // Makes a file with ffmpeg in the media folder, serves it at /name and returns its bytes.
    QByteArray serveMade(const QString &name, const QStringList &arguments, const QByteArray &type)
    {
        runTool(u"ffmpeg"_s, arguments + QStringList{name}, media);
        const QByteArray content = readFile(media + u'/' + name);
        EXPECT_FALSE(content.isEmpty()) << name.toStdString();
        server.addFile(u"/"_s + name, content, type);
        return content;
    }

    // An HLS rendition below prefix/: index.m3u8 and its segments, served from the same paths.
    void serveHls(const QString &prefix, const QStringList &inputs, const QStringList &codecs)
    {
        const QString folder = TestEnvironment::makeDirectory(u"media/"_s + prefix);
        runTool(u"ffmpeg"_s,
                inputs + codecs
                    + QStringList{u"-f"_s, u"hls"_s, u"-hls_time"_s, u"1"_s, u"-hls_playlist_type"_s, u"vod"_s,
                                  u"-hls_segment_filename"_s, u"seg%d.ts"_s, u"index.m3u8"_s},
                folder);
        for (const QString &name : QDir(folder).entryList(QDir::Files))
            server.addFile(u"/"_s + prefix + u'/' + name, readFile(folder + u'/' + name),
                           name.endsWith(u".m3u8"_s) ? "application/vnd.apple.mpegurl" : "video/mp2t");
    }

    DownloadItem *addOne(const QString &url, const std::optional<BrowserSession> &session = std::nullopt)
    {
        manager->add({url}, std::nullopt, std::nullopt, std::nullopt, session);
        return manager->items().isEmpty() ? nullptr : manager->items().first();
    }

    bool waitForEnd()
    {
        return TestEnvironment::waitFor(
            [this] {
                keepLogs();
                if (manager->items().isEmpty() || manager->runningJobs() > 0)
                    return false;
                for (const DownloadItem *item : manager->items()) {
                    if (item->status() != DownloadStatus::finished && item->status() != DownloadStatus::failed)
                        return false;
                }
                return true;
            },
            180000);
    }

    // The queue drops a run's log when the run ends; keep the last one seen of each item.
    void keepLogs()
    {
        for (const DownloadItem *item : manager->items()) {
            const QString log = manager->logOf(item->id());
            if (!log.isEmpty())
                logs[item->id()] = log;
        }
    }

    QStringList partialEntries() const
    {
        return QDir(output + u"/.kestro-partials"_s).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    // The processes whose command line mentions text (the engine and what it started).
    static QList<qint64> processesMentioning(const QString &text)
    {
        QList<qint64> found;
        for (const QString &pid : QDir(u"/proc"_s).entryList(QDir::Dirs)) {
            bool number = false;
            const qint64 id = pid.toLongLong(&number);
            if (number && id != QCoreApplication::applicationPid()
                && readFile(u"/proc/"_s + pid + u"/cmdline"_s).contains(text.toUtf8()))
                found.append(id);
        }
        return found;
    }

    TestHttpServer server;
    QString media;
    QString output;
    std::unique_ptr<AppSettings> settings;
    std::unique_ptr<HistoryStore> history;
    std::unique_ptr<YtDlpService> service;
    std::unique_ptr<DownloadManager> manager;
    QHash<QUuid, QString> logs;
};

} // namespace

// Links that run to an end by themselves: what each serves, and what must hold afterwards.
TEST_F(RealEngine, DownloadsToTheirEnd)
{
    struct Case
    {
        const char *name;
        std::function<QString()> serve; // returns the link
        std::function<void()> prepare;  // before the link is added
        int items;
        DownloadStatus status;
        std::function<void(const QList<DownloadItem *> &)> check;
    };
    QList<qint64> bytesSeen;
    const Case cases[] = {
        {"plain mp4",
         [&] {
             serveMade(u"clip.mp4"_s, lavfiInputs(2) + h264 + aac + QStringList{u"-shortest"_s}, "video/mp4");
             return server.url(u"/clip.mp4"_s);
         },
         {}, 1, DownloadStatus::finished,
         [&](const QList<DownloadItem *> &items) {
             EXPECT_EQ(items[0]->outputFile(), output + u"/clip.mp4"_s);
             EXPECT_EQ(probeFile(output + u"/clip.mp4"_s).streams, (QStringList{u"audio"_s, u"video"_s}));
             EXPECT_EQ(history->entries().size(), 1);
         }},
        {"HLS with concurrent fragments",
         [&] {
             serveHls(u"hls"_s, lavfiInputs(6), h264 + aac + QStringList{u"-shortest"_s});
             return server.url(u"/hls/index.m3u8"_s);
         },
         [&] {
             settings->setConcurrentFragments(4);
             QObject::connect(manager.get(), &DownloadManager::changed, manager.get(), [&] {
                 if (!manager->items().isEmpty() && manager->items().first()->status() == DownloadStatus::downloading)
                     bytesSeen.append(manager->items().first()->downloadedBytes());
             });
         },
         1, DownloadStatus::finished,
         [&](const QList<DownloadItem *> &items) {
             ASSERT_TRUE(items[0]->outputFile());
             EXPECT_EQ(probeFile(*items[0]->outputFile()).streams, (QStringList{u"audio"_s, u"video"_s}));
             EXPECT_FALSE(bytesSeen.isEmpty());
             for (qsizetype i = 1; i < bytesSeen.size(); ++i)
                 EXPECT_GE(bytesSeen[i], bytesSeen[i - 1]) << "at update " << i;
         }},
        {"master playlist with separate audio, merged",
         [&] {
             serveHls(u"video"_s, lavfiInputs(3, true, false), h264);
             serveHls(u"audio"_s, lavfiInputs(3, false, true), aac);
             server.addFile(u"/master.m3u8"_s,
                            "#EXTM3U\n"
                            "#EXT-X-MEDIA:TYPE=AUDIO,GROUP-ID=\"aud\",NAME=\"en\",DEFAULT=YES,AUTOSELECT=YES,"
                            "URI=\"audio/index.m3u8\"\n"
                            "#EXT-X-STREAM-INF:BANDWIDTH=200000,CODECS=\"avc1.42c00c\",RESOLUTION=160x120,AUDIO=\"aud\"\n"
                            "video/index.m3u8\n",
                            "application/vnd.apple.mpegurl");
             return server.url(u"/master.m3u8"_s);
         },
         {}, 1, DownloadStatus::finished,
         [&](const QList<DownloadItem *> &items) {
             ASSERT_TRUE(items[0]->outputFile());
             EXPECT_EQ(probeFile(*items[0]->outputFile()).streams, (QStringList{u"audio"_s, u"video"_s}));
         }},
        {"audio extracted to mp3",
         [&] {
             serveMade(u"song.mp4"_s, lavfiInputs(2) + h264 + aac + QStringList{u"-shortest"_s}, "video/mp4");
             return server.url(u"/song.mp4"_s);
         },
         [&] { manager->setOverrides({-1, u"mp3"_s, std::nullopt}); }, 1, DownloadStatus::finished,
         [&](const QList<DownloadItem *> &items) {
             ASSERT_TRUE(items[0]->outputFile());
             EXPECT_TRUE(items[0]->outputFile()->endsWith(u".mp3"_s));
             EXPECT_EQ(probeFile(*items[0]->outputFile()).streams, QStringList{u"audio"_s});
         }},
        {"page with two videos",
         [&] {
             serveMade(u"one.mp4"_s, lavfiInputs(1) + h264 + aac + QStringList{u"-shortest"_s}, "video/mp4");
             serveMade(u"two.mp4"_s, lavfiInputs(1) + h264 + aac + QStringList{u"-shortest"_s}, "video/mp4");
             server.addFile(u"/page.html"_s,
                            "<!DOCTYPE html><html><head><title>Two clips</title></head><body>"
                            "<video src=\"/one.mp4\"></video><video src=\"/two.mp4\"></video></body></html>",
                            "text/html; charset=utf-8");
             return server.url(u"/page.html"_s);
         },
         {}, 2, DownloadStatus::finished,
         [&](const QList<DownloadItem *> &items) {
             for (const DownloadItem *item : items)
                 EXPECT_TRUE(item->outputFile() && QFileInfo::exists(*item->outputFile()));
             EXPECT_EQ(history->entries().size(), 2);
         }},
        {"missing file",
         [&] { return server.url(u"/missing.mp4"_s); }, {}, 1, DownloadStatus::failed,
         [&](const QList<DownloadItem *> &items) {
             // The engine's own words, not a generic text.
             EXPECT_TRUE(items[0]->errorMessage().value_or(QString()).contains(u"HTTP Error 404"_s))
                 << items[0]->errorMessage().value_or(QString()).toStdString();
             EXPECT_TRUE(history->entries().isEmpty());
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.prepare)
            c.prepare();
        addOne(c.serve());
        ASSERT_TRUE(waitForEnd());
        const QList<DownloadItem *> items = manager->items();
        ASSERT_EQ(items.size(), c.items);
        for (const DownloadItem *item : items)
            EXPECT_EQ(item->status(), c.status) << item->errorMessage().value_or(QString()).toStdString() << "\n"
                                                << logs.value(item->id()).toStdString();
        c.check(items);
        if (c.status == DownloadStatus::finished)
            EXPECT_EQ(partialEntries(), QStringList());

        // A clean queue, settings and history for the next case.
        manager.reset();
        QFile::remove(TestEnvironment::root() + u"/history.json"_s);
        history = std::make_unique<HistoryStore>(TestEnvironment::root() + u"/history.json"_s);
        settings->setConcurrentFragments(AppSettings().concurrentFragments());
        manager = std::make_unique<DownloadManager>(*service, *settings, *history);
        ASSERT_TRUE(TestEnvironment::waitFor([this] { return manager->engineReady(); }, 120000));
    }
}

TEST_F(RealEngine, PausedDownloadResumesFromItsPartialFile)
{
    const QByteArray content =
        serveMade(u"long.mp4"_s,
                  lavfiInputs(4) + h264 + QStringList{u"-b:v"_s, u"2M"_s, u"-maxrate"_s, u"2M"_s, u"-bufsize"_s, u"1M"_s}
                      + aac + QStringList{u"-shortest"_s},
                  "video/mp4");
    server.setThrottle(u"/long.mp4"_s, content.size() / 8);
    DownloadItem *item = addOne(server.url(u"/long.mp4"_s));
    ASSERT_TRUE(item);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return item->downloadedBytes() > content.size() / 5; }, 120000));
    keepLogs();
    manager->pause(item);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return manager->runningJobs() == 0; }, 60000));
    EXPECT_EQ(item->status(), DownloadStatus::paused);

    server.setThrottle(u"/long.mp4"_s, 0);
    manager->resume(item);
    ASSERT_TRUE(waitForEnd());
    ASSERT_EQ(item->status(), DownloadStatus::finished) << logs.value(item->id()).toStdString();
    EXPECT_TRUE(logs.value(item->id()).contains(u"Resuming download at byte"_s)) << logs.value(item->id()).toStdString();
    // The second run asked only for the rest.
    const QList<TestHttpServer::Request> requests = server.requests(u"/long.mp4"_s);
    ASSERT_FALSE(requests.isEmpty());
    EXPECT_TRUE(requests.last().header("range").startsWith("bytes=")) << requests.last().header("range").toStdString();
    EXPECT_NE(requests.last().header("range"), "bytes=0-");
    ASSERT_TRUE(item->outputFile());
    EXPECT_NEAR(probeFile(*item->outputFile()).duration, 4.0, 0.5);
}

TEST_F(RealEngine, CancelLeavesNoProcessAndNoPartialFolder)
{
    const QByteArray content = serveMade(u"slow.mp4"_s, lavfiInputs(3) + h264 + aac + QStringList{u"-shortest"_s},
                                         "video/mp4");
    server.setThrottle(u"/slow.mp4"_s, 4096);
    const QString url = server.url(u"/slow.mp4"_s);
    DownloadItem *item = addOne(url);
    ASSERT_TRUE(item);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return item->downloadedBytes() > 0; }, 120000));
    const QString partials = item->temporaryDirectory();
    ASSERT_TRUE(QFileInfo::exists(partials));
    EXPECT_FALSE(processesMentioning(url).isEmpty());

    manager->cancel(item);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return manager->runningJobs() == 0; }, 60000));
    EXPECT_TRUE(TestEnvironment::waitFor([&] { return processesMentioning(url).isEmpty(); }, 60000));
    EXPECT_TRUE(TestEnvironment::waitFor([&] { return !QFileInfo::exists(partials); }, 60000));
    EXPECT_EQ(partialEntries(), QStringList());
    EXPECT_TRUE(history->entries().isEmpty());
}

TEST_F(RealEngine, BrowserSessionGoesOnlyToItsOrigin)
{
    // The session's page redirects to a file on a second origin (another port).
    TestHttpServer other;
    ASSERT_TRUE(other.start());
    const QByteArray content = serveMade(u"held.mp4"_s, lavfiInputs(1) + h264 + aac + QStringList{u"-shortest"_s},
                                         "video/mp4");
    other.addFile(u"/held.mp4"_s, content, "video/mp4");
    server.addRedirect(u"/moved.mp4"_s, other.url(u"/held.mp4"_s).toUtf8());

    const QString direct = server.url(u"/held.mp4"_s);
    const QString moved = server.url(u"/moved.mp4"_s);
    for (const QString &url : {direct, moved}) {
        SCOPED_TRACE(url.toStdString());
        BrowserSession session;
        session.cookies = {{u"sid"_s, u"cookie-value-42"_s, u"127.0.0.1"_s, u"/"_s, false, true, std::nullopt}};
        session.requests = {{url, {{u"Authorization"_s, u"Bearer auth-token-7"_s}, {u"X-Session"_s, u"kept"_s}}}};
        DownloadItem *item = addOne(url, session);
        ASSERT_TRUE(item);
        ASSERT_TRUE(waitForEnd());
        EXPECT_EQ(item->status(), DownloadStatus::finished)
            << item->errorMessage().value_or(QString()).toStdString() << "\n" << logs.value(item->id()).toStdString();

        const QString path = QUrl(url).path();
        const QList<TestHttpServer::Request> own = server.requests(path);
        ASSERT_FALSE(own.isEmpty());
        for (const TestHttpServer::Request &request : own) {
            EXPECT_EQ(request.header("authorization"), "Bearer auth-token-7");
            EXPECT_EQ(request.header("x-session"), "kept");
            EXPECT_TRUE(request.header("cookie").contains("sid=cookie-value-42")) << request.header("cookie").toStdString();
        }
        for (const TestHttpServer::Request &request : other.requests()) {
            EXPECT_TRUE(request.header("authorization").isEmpty());
            EXPECT_TRUE(request.header("x-session").isEmpty());
        }
        if (url == moved)
            EXPECT_FALSE(other.requests(u"/held.mp4"_s).isEmpty());

        // Neither secret in anything the user or a later run can read.
        EXPECT_FALSE(logs.value(item->id()).isEmpty());
        QByteArray visible = logs.value(item->id()).toUtf8() + item->errorMessage().value_or(QString()).toUtf8()
                             + item->errorDetails().value_or(QString()).toUtf8() + item->statusLine().toUtf8();
        visible += readFile(TestEnvironment::root() + u"/history.json"_s);
        EXPECT_FALSE(visible.contains("cookie-value-42"));
        EXPECT_FALSE(visible.contains("auth-token-7"));
        manager->clearFinished();
    }
}
