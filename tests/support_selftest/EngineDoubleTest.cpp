#include "EngineDouble.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

const QString kDownloadTemplate = QStringLiteral(
    "download:[KTPROG]%(progress.status)s|%(progress.downloaded_bytes)s|%(progress.total_bytes)s|"
    "%(progress.total_bytes_estimate)s|%(progress.speed)s|%(progress.eta)s|%(progress.fragment_index)s|"
    "%(progress.fragment_count)s");
const QString kPostTemplate = QStringLiteral("postprocess:[KTPOST]%(progress.status)s");

struct Result
{
    bool finished = false;
    QProcess::ExitStatus exitStatus = QProcess::NormalExit;
    int exitCode = -1;
    QString out;
    QString err;

    QStringList lines() const { return out.split(QLatin1Char('\n'), Qt::SkipEmptyParts); }
};

// Starts the double in its own process group, as the engine service does.
std::unique_ptr<QProcess> startDouble(const QStringList &arguments, const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    auto process = std::make_unique<QProcess>();
    process->setProgram(EngineDouble::scriptPath());
    process->setArguments(arguments);
    process->setProcessEnvironment(environment);
    process->setChildProcessModifier([] { ::setpgid(0, 0); });
    process->start();
    EXPECT_TRUE(process->waitForStarted(10000)) << qPrintable(process->errorString());
    return process;
}

// Waits with the event loop turning, so that the test server on this thread can answer.
Result finish(QProcess &process, int timeoutMs = 30000)
{
    Result result;
    if (process.state() != QProcess::NotRunning) {
        QSignalSpy finished(&process, &QProcess::finished);
        result.finished = finished.wait(timeoutMs);
    } else {
        result.finished = true;
    }
    result.exitStatus = process.exitStatus();
    result.exitCode = process.exitCode();
    result.out = QString::fromUtf8(process.readAllStandardOutput());
    result.err = QString::fromUtf8(process.readAllStandardError());
    return result;
}

Result runDouble(const QStringList &arguments, const QProcessEnvironment &environment = QProcessEnvironment::systemEnvironment())
{
    auto process = startDouble(arguments, environment);
    return finish(*process);
}

const QStringList kMp4Group{QStringLiteral("--merge-output-format"), QStringLiteral("mp4"),
                            QStringLiteral("--remux-video"), QStringLiteral("mp4"), QStringLiteral("--embed-metadata")};

// The download list the app builds for a download with a private temporary folder: the runtime
// group, then network (and session) items, the fixed items, then the format and later items.
QStringList downloadArguments(const QString &url, const QString &temp, const QStringList &middle = {},
                              const QStringList &tail = kMp4Group)
{
    QString jsonl = temp + QStringLiteral("/output.jsonl");
    jsonl.replace(QLatin1Char('%'), QStringLiteral("%%"));
    QStringList list{QStringLiteral("--ignore-config"), QStringLiteral("--no-plugin-dirs"), QStringLiteral("--no-js-runtimes"),
                     QStringLiteral("--js-runtimes"), QStringLiteral("deno:/nowhere/deno"),
                     QStringLiteral("--ffmpeg-location"), QStringLiteral("/nowhere")};
    list << middle;
    list << QStringList{QStringLiteral("--newline"), QStringLiteral("--no-color"),
                        QStringLiteral("--progress-template"), kDownloadTemplate,
                        QStringLiteral("--progress-template"), kPostTemplate,
                        QStringLiteral("-f"), QStringLiteral("bv*+ba/b"),
                        QStringLiteral("-P"), QStringLiteral("home:") + temp + QStringLiteral("/complete"),
                        QStringLiteral("-o"), QStringLiteral("./sub/%(title)s [%(id)s].%(ext)s"),
                        QStringLiteral("--no-playlist"), QStringLiteral("--windows-filenames"), QStringLiteral("--continue"),
                        QStringLiteral("--retries"), QStringLiteral("10"), QStringLiteral("--fragment-retries"), QStringLiteral("10"),
                        QStringLiteral("--concurrent-fragments"), QStringLiteral("8"),
                        QStringLiteral("-P"), QStringLiteral("temp:") + temp,
                        QStringLiteral("--no-simulate"), QStringLiteral("--no-quiet"), QStringLiteral("--progress"),
                        QStringLiteral("--print-to-file"), QStringLiteral("after_move:%(filepath)j"), jsonl};
    list << tail << QStringLiteral("--") << url;
    return list;
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList progressLines(const Result &result)
{
    QStringList lines;
    for (const QString &line : result.lines()) {
        if (line.startsWith(QStringLiteral("[KTPROG]")) || line.startsWith(QStringLiteral("[KTPOST]")))
            lines.append(line);
    }
    return lines;
}

bool processGroupExists(qint64 pid)
{
    return ::kill(-static_cast<pid_t>(pid), 0) == 0;
}

class EngineDoubleTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }
    TestHttpServer server;
};

TEST_F(EngineDoubleTest, DownloadsThroughTheTemporaryFolderAndReportsTheFinalPath)
{
    const qint64 size = 1024 * 1024 + 123;
    server.addGenerated(QStringLiteral("/video/clip.webm"), size);
    server.setThrottle(QStringLiteral("/video/clip.webm"), 3 * 1024 * 1024);
    // A "%" in the folder proves that the doubled "%%" of the print-to-file name is undone.
    const QString temp = TestEnvironment::makeDirectory(QStringLiteral("out/.kestro-50%done"));
    const QString cookies = TestEnvironment::writeFile(
        TestEnvironment::root() + QStringLiteral("/session/cookies.txt"),
        "# Netscape HTTP Cookie File\n"
        "127.0.0.1\tFALSE\t/\tFALSE\t0\tsid\tabc\n"
        "#HttpOnly_127.0.0.1\tFALSE\t/video\tFALSE\t4102444800\ttoken\txyz\n"
        "127.0.0.1\tFALSE\t/other\tFALSE\t0\twrongpath\t1\n"
        "127.0.0.1\tFALSE\t/\tTRUE\t0\tsecureonly\t1\n"
        "127.0.0.1\tFALSE\t/\tFALSE\t1000\texpired\t1\n"
        ".example.com\tTRUE\t/\tFALSE\t0\tforeign\t1\n");
    const QString log = EngineDouble::enableStartLog();
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("KESTRO_SESSION_FILE"), QStringLiteral("/session/headers.json"));

    const QString url = server.url(QStringLiteral("/video/clip.webm"));
    const QStringList arguments = downloadArguments(
        url, temp,
        {QStringLiteral("--referer"), QStringLiteral("http://page.test/watch"),
         QStringLiteral("--user-agent"), QStringLiteral("KestroTest/1.0"),
         QStringLiteral("--plugin-dirs"), QStringLiteral("/nowhere/plugins"),
         QStringLiteral("--use-postprocessor"), QStringLiteral("KestroSessionGuard"),
         QStringLiteral("--cookies"), cookies,
         QStringLiteral("--impersonate"), QStringLiteral("chrome")});
    const Result result = runDouble(arguments, environment);
    ASSERT_TRUE(result.finished);
    ASSERT_EQ(result.exitCode, 0) << qPrintable(result.err);

    // The finished file was remuxed to mp4 and moved below home:, nothing is left in temp:.
    const QString final = temp + QStringLiteral("/complete/sub/clip [clip].mp4");
    EXPECT_TRUE(readFile(final) == TestHttpServer::generatedContent(0, size));
    EXPECT_TRUE(QDir(temp + QStringLiteral("/sub")).isEmpty());
    EXPECT_EQ(readFile(temp + QStringLiteral("/output.jsonl")), '"' + final.toUtf8() + "\"\n");
    EXPECT_TRUE(result.lines().contains(QStringLiteral("[download] Destination: ") + temp + QStringLiteral("/sub/clip [clip].webm")));

    // Progress: downloading reports with growing counts, one finished report, then post-processing.
    const QStringList progress = progressLines(result);
    ASSERT_GE(progress.size(), 4) << qPrintable(result.out);
    EXPECT_EQ(progress.first(), QStringLiteral("[KTPROG]downloading|0|%1|NA|NA|NA|NA|NA").arg(size));
    EXPECT_EQ(progress.mid(progress.size() - 3),
              (QStringList{QStringLiteral("[KTPROG]finished|%1|%1|NA|NA|NA|NA|NA").arg(size),
                           QStringLiteral("[KTPOST]started"), QStringLiteral("[KTPOST]finished")}));
    qint64 previous = -1;
    for (const QString &line : progress.mid(0, progress.size() - 3)) {
        const QStringList fields = line.mid(8).split(QLatin1Char('|'));
        ASSERT_EQ(fields.size(), 8) << qPrintable(line);
        EXPECT_EQ(fields[0], QStringLiteral("downloading"));
        EXPECT_GT(fields[1].toLongLong(), previous);
        EXPECT_EQ(fields[2].toLongLong(), size);
        if (previous >= 0) {
            EXPECT_GT(fields[4].toDouble(), 0.0) << "speed of " << qPrintable(line);
        }
        previous = fields[1].toLongLong();
    }
    EXPECT_GE(progress.size(), 5) << "the throttled transfer should report progress on the way";

    // The server saw the network options and only the cookies meant for this request.
    const QList<TestHttpServer::Request> requests = server.requests(QStringLiteral("/video/clip.webm"));
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests[0].header("referer"), "http://page.test/watch");
    EXPECT_EQ(requests[0].header("user-agent"), "KestroTest/1.0");
    EXPECT_EQ(requests[0].header("cookie"), "sid=abc; token=xyz");
    EXPECT_TRUE(requests[0].header("range").isEmpty());

    const QList<QJsonObject> starts = EngineDouble::starts(log);
    ASSERT_EQ(starts.size(), 1);
    EXPECT_EQ(EngineDouble::arguments(starts[0]), arguments);
    EXPECT_EQ(starts[0].value(QStringLiteral("env_session")).toString(), QStringLiteral("/session/headers.json"));
    EXPECT_GT(starts[0].value(QStringLiteral("pid")).toInteger(), 0);
}

TEST_F(EngineDoubleTest, StoppedDownloadKeepsItsPartAndResumesWithRange)
{
    const qint64 size = 2 * 1024 * 1024;
    server.addGenerated(QStringLiteral("/v/long.mp4"), size);
    server.setThrottle(QStringLiteral("/v/long.mp4"), 512 * 1024);
    const QString temp = TestEnvironment::makeDirectory(QStringLiteral("resume"));
    const QStringList arguments = downloadArguments(server.url(QStringLiteral("/v/long.mp4")), temp);
    const QString part = temp + QStringLiteral("/sub/long [long].mp4.part");

    auto process = startDouble(arguments);
    // Stop as the engine service does (SIGTERM to the group) once bytes have arrived.
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return QFileInfo(part).size() >= 200 * 1024; }, 5000));
    ::kill(-static_cast<pid_t>(process->processId()), SIGTERM);
    const Result stopped = finish(*process, 5000);
    ASSERT_TRUE(stopped.finished);
    EXPECT_EQ(stopped.exitStatus, QProcess::CrashExit);

    const QByteArray kept = readFile(part);
    ASSERT_GT(kept.size(), 0);
    ASSERT_LT(kept.size(), size);
    EXPECT_TRUE(kept == TestHttpServer::generatedContent(0, kept.size()));

    server.setThrottle(QStringLiteral("/v/long.mp4"), 0);
    const Result resumed = runDouble(arguments);
    ASSERT_EQ(resumed.exitCode, 0) << qPrintable(resumed.err);
    const QList<TestHttpServer::Request> requests = server.requests(QStringLiteral("/v/long.mp4"));
    ASSERT_EQ(requests.size(), 2);
    EXPECT_EQ(requests[1].header("range"), "bytes=" + QByteArray::number(kept.size()) + '-');
    EXPECT_EQ(progressLines(resumed).first(), QStringLiteral("[KTPROG]downloading|%1|%2|NA|NA|NA|NA|NA").arg(kept.size()).arg(size));
    EXPECT_TRUE(readFile(temp + QStringLiteral("/complete/sub/long [long].mp4")) == TestHttpServer::generatedContent(0, size));
    EXPECT_FALSE(QFileInfo::exists(part));
}

TEST_F(EngineDoubleTest, ConversionsAndReportOptionsShapeTheResult)
{
    server.addGenerated(QStringLiteral("/v/song.webm"), 300000);
    struct Case
    {
        const char *name;
        QString query;
        QStringList tail;
        QStringList files;  // below complete/sub, sorted; the first is the reported one
        QString finished;   // the last download report, after the marker
    };
    const Case cases[] = {
        {"audio", {}, {QStringLiteral("-x"), QStringLiteral("--audio-format"), QStringLiteral("mp3"),
                       QStringLiteral("--audio-quality"), QStringLiteral("0")},
         {QStringLiteral("song [song].mp3")}, QStringLiteral("finished|300000|300000|NA|NA|NA|NA|NA")},
        {"subtitles", {}, {QStringLiteral("--write-subs"), QStringLiteral("--write-auto-subs"), QStringLiteral("--sub-langs"),
                           QStringLiteral("en,de"), QStringLiteral("--convert-subs"), QStringLiteral("srt")},
         {QStringLiteral("song [song].webm"), QStringLiteral("song [song].de.srt"), QStringLiteral("song [song].en.srt")},
         QStringLiteral("finished|300000|300000|NA|NA|NA|NA|NA")},
        {"fragments", QStringLiteral("?fragments=4"), {}, {QStringLiteral("song [song].webm")},
         QStringLiteral("finished|300000|300000|NA|NA|NA|4|4")},
        {"estimate", QStringLiteral("?estimate=1"), {}, {QStringLiteral("song [song].webm")},
         QStringLiteral("finished|300000|NA|300000.0|NA|NA|NA|NA")},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QString temp = TestEnvironment::makeDirectory(QStringLiteral("convert/") + QLatin1String(c.name));
        const Result result = runDouble(downloadArguments(server.url(QStringLiteral("/v/song.webm") + c.query), temp, {}, c.tail));
        ASSERT_EQ(result.exitCode, 0) << qPrintable(result.err);
        QStringList files = QDir(temp + QStringLiteral("/complete/sub")).entryList(QDir::Files, QDir::Name);
        EXPECT_EQ(files.size(), c.files.size()) << qPrintable(files.join(QLatin1Char(',')));
        for (const QString &file : c.files)
            EXPECT_TRUE(files.contains(file)) << qPrintable(file);
        EXPECT_EQ(readFile(temp + QStringLiteral("/output.jsonl")),
                  '"' + temp.toUtf8() + "/complete/sub/" + c.files.first().toUtf8() + "\"\n");
        const QStringList progress = progressLines(result);
        ASSERT_GE(progress.size(), 3);
        EXPECT_EQ(progress[progress.size() - 3], QStringLiteral("[KTPROG]") + c.finished);
    }
}

TEST_F(EngineDoubleTest, FailsLikeTheEngine)
{
    server.addGenerated(QStringLiteral("/v/cut.mp4"), 500000);
    server.setCutAfter(QStringLiteral("/v/cut.mp4"), 100000);
    struct Case
    {
        const char *name;
        QStringList arguments;  // before "--" and the link
        QString path;
        int exitCode;
        QString stderrLine;  // the last line of standard error
        bool fetches;
    };
    const Case cases[] = {
        {"unsupported", {}, QStringLiteral("/fail/x"), 1,
         QStringLiteral("ERROR: [generic] Unsupported URL: ") + server.url(QStringLiteral("/fail/x")), false},
        {"missing", {}, QStringLiteral("/v/none.mp4"), 1,
         QStringLiteral("ERROR: Unable to download webpage: HTTP Error 404: Not Found"), true},
        {"cut short", {}, QStringLiteral("/v/cut.mp4"), 1,
         QStringLiteral("ERROR: Downloaded 100000 bytes, expected 500000 bytes"), true},
        {"unknown option", {QStringLiteral("--no-such-thing")}, QStringLiteral("/v/none.mp4"), 2,
         QStringLiteral("yt-dlp: error: no such option: --no-such-thing"), false},
        {"abbreviated option", {QStringLiteral("--ignore-conf")}, QStringLiteral("/v/none.mp4"), 2,
         QStringLiteral("yt-dlp: error: no such option: --ignore-conf"), false},
        {"missing value", {QStringLiteral("-f")}, {}, 2,
         QStringLiteral("yt-dlp: error: -f option requires 1 argument"), false},
    };
    const QString home = TestEnvironment::makeDirectory(QStringLiteral("fail"));
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const qsizetype before = server.requests().size();
        QStringList arguments{QStringLiteral("--ignore-config"), QStringLiteral("-P"), home};
        arguments << c.arguments;
        if (!c.path.isEmpty())
            arguments << QStringLiteral("--") << server.url(c.path);
        const Result result = runDouble(arguments);
        ASSERT_TRUE(result.finished);
        EXPECT_EQ(result.exitStatus, QProcess::NormalExit);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.err.trimmed().section(QLatin1Char('\n'), -1), c.stderrLine);
        EXPECT_EQ(server.requests().size() > before, c.fetches);
    }
}

TEST_F(EngineDoubleTest, EchoScenarioWritesBothStreams)
{
    const Result result = runDouble({QStringLiteral("--ignore-config"), QStringLiteral("--"),
                                     server.url(QStringLiteral("/echo-stderr/?text=cookie%3Dsecret%20value&exit=3"))});
    EXPECT_EQ(result.exitCode, 3);
    EXPECT_EQ(result.out, QStringLiteral("cookie=secret value\n"));
    EXPECT_EQ(result.err, QStringLiteral("cookie=secret value\n"));
}

TEST_F(EngineDoubleTest, IgnoreTermScenarioSurvivesSigtermUntilTheGroupIsKilled)
{
    auto process = startDouble({QStringLiteral("--ignore-config"), QStringLiteral("--"),
                                server.url(QStringLiteral("/ignore-term/x"))});
    const qint64 group = process->processId();
    QSignalSpy output(process.get(), &QProcess::readyReadStandardOutput);
    QString seen;
    for (int i = 0; i < 100 && !seen.contains(QStringLiteral("helper pid")); ++i) {
        output.wait(100);
        seen += QString::fromUtf8(process->readAllStandardOutput());
    }
    const qint64 helper = seen.section(QStringLiteral("helper pid "), 1).section(QLatin1Char('\n'), 0, 0).toLongLong();
    ASSERT_GT(helper, 0) << qPrintable(seen);
    EXPECT_EQ(::getpgid(static_cast<pid_t>(helper)), group);

    ::kill(-static_cast<pid_t>(group), SIGTERM);
    QTest::qWait(300);
    EXPECT_EQ(process->state(), QProcess::Running);
    EXPECT_EQ(::kill(static_cast<pid_t>(helper), 0), 0);

    ::kill(-static_cast<pid_t>(group), SIGKILL);
    EXPECT_TRUE(finish(*process, 5000).finished);
    // The orphaned helper is reaped by init, which can take a second or two in containers.
    EXPECT_TRUE(TestEnvironment::waitFor([&] { return !processGroupExists(group); }, 5000));
}

TEST_F(EngineDoubleTest, HangScenarioEndsOnSigterm)
{
    auto process = startDouble({QStringLiteral("--ignore-config"), QStringLiteral("--"), server.url(QStringLiteral("/hang/x"))});
    QSignalSpy output(process.get(), &QProcess::readyReadStandardOutput);
    ASSERT_TRUE(output.wait(10000));
    process->terminate();
    const Result result = finish(*process, 5000);
    ASSERT_TRUE(result.finished);
    EXPECT_EQ(result.exitStatus, QProcess::CrashExit);
}

TEST_F(EngineDoubleTest, VersionQueryFollowsTheEnvironment)
{
    struct Case
    {
        const char *name;
        QList<QPair<QString, QString>> environment;
        int exitCode;
        QString out;
    };
    const Case cases[] = {
        {"default", {}, 0, QStringLiteral("2025.12.01\n")},
        {"chosen", {{QStringLiteral("FAKE_YTDLP_VERSION"), QStringLiteral("2024.03.10")}}, 0, QStringLiteral("2024.03.10\n")},
        {"empty", {{QStringLiteral("FAKE_YTDLP_VERSION"), QString()}}, 0, QStringLiteral("\n")},
        {"failing", {{QStringLiteral("FAKE_YTDLP_VERSION_EXIT"), QStringLiteral("2")}}, 2, QString()},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("FAKE_YTDLP_VERSION"));
        environment.remove(QStringLiteral("FAKE_YTDLP_VERSION_EXIT"));
        for (const auto &[name, value] : c.environment)
            environment.insert(name, value);
        const Result result = runDouble({QStringLiteral("--ignore-config"), QStringLiteral("--version")}, environment);
        EXPECT_EQ(result.exitCode, c.exitCode);
        EXPECT_EQ(result.out, c.out);
    }
}

TEST_F(EngineDoubleTest, MetadataQueryPrintsOnlyTheDocument)
{
    server.addFile(QStringLiteral("/meta/list"), R"({"id":"PL1","title":"List","entries":[{"url":"abc"}]})",
                   "application/json");
    server.addGenerated(QStringLiteral("/meta/clip.mp4"), 1000);
    struct Case
    {
        const char *path;
        QJsonObject expected;
    };
    const Case cases[] = {
        {"/meta/list", QJsonDocument::fromJson(R"({"id":"PL1","title":"List","entries":[{"url":"abc"}]})").object()},
        {"/meta/clip.mp4", QJsonObject{{QStringLiteral("id"), QStringLiteral("clip")},
                                       {QStringLiteral("title"), QStringLiteral("clip")},
                                       {QStringLiteral("ext"), QStringLiteral("mp4")},
                                       {QStringLiteral("extractor"), QStringLiteral("generic")},
                                       {QStringLiteral("extractor_key"), QStringLiteral("Generic")},
                                       {QStringLiteral("webpage_url"), server.url(QStringLiteral("/meta/clip.mp4"))},
                                       {QStringLiteral("original_url"), server.url(QStringLiteral("/meta/clip.mp4"))}}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        const Result result = runDouble({QStringLiteral("--ignore-config"), QStringLiteral("-J"), QStringLiteral("--no-warnings"),
                                         QStringLiteral("--socket-timeout"), QStringLiteral("20"), QStringLiteral("--flat-playlist"),
                                         QStringLiteral("--"), server.url(QString::fromUtf8(c.path))});
        ASSERT_EQ(result.exitCode, 0) << qPrintable(result.err);
        EXPECT_EQ(QJsonDocument::fromJson(result.out.toUtf8()).object(), c.expected) << qPrintable(result.out);
    }
}

TEST(EngineDoubleBundle, MakesACopiedEngineAndStubTools)
{
    const QString bundle = TestEnvironment::makeDirectory(QStringLiteral("bundle"));
    const QString helpers = EngineDouble::makeBundle(bundle);
    EXPECT_EQ(helpers, bundle + QStringLiteral("/Contents/Helpers"));
    for (const char *name : {"yt-dlp", "ffmpeg", "ffprobe", "deno"}) {
        const QFileInfo tool(helpers + QLatin1Char('/') + QLatin1String(name));
        EXPECT_TRUE(tool.isFile() && tool.isExecutable() && !tool.isSymLink()) << name;
    }
    EXPECT_EQ(readFile(helpers + QStringLiteral("/yt-dlp")), readFile(EngineDouble::scriptPath()));
    EXPECT_TRUE(QFileInfo(bundle + QStringLiteral("/Contents/Resources/EnginePlugins")).isDir());
    const QJsonObject info = QJsonDocument::fromJson(readFile(bundle + QStringLiteral("/Contents/Info.json"))).object();
    EXPECT_EQ(info.value(QStringLiteral("CFBundleVersion")).toString(), QStringLiteral("7"));

    QProcess copy;
    copy.start(helpers + QStringLiteral("/yt-dlp"), {QStringLiteral("--ignore-config"), QStringLiteral("--version")});
    ASSERT_TRUE(copy.waitForFinished(10000));
    EXPECT_EQ(copy.exitCode(), 0);
}

TEST(EngineDoubleStartLog, ParallelStartsEachLeaveOneWholeRecord)
{
    const QString log = EngineDouble::enableStartLog();
    std::vector<std::unique_ptr<QProcess>> processes;
    for (int i = 0; i < 8; ++i)
        processes.push_back(startDouble({QStringLiteral("--ignore-config"), QStringLiteral("--version"),
                                         QStringLiteral("--referer"), QString(4000, QLatin1Char(char('a' + i)))}));
    for (auto &process : processes)
        ASSERT_TRUE(finish(*process).finished);
    const QList<QJsonObject> starts = EngineDouble::starts(log);
    ASSERT_EQ(starts.size(), 8);
    QSet<qint64> pids;
    for (const QJsonObject &start : starts) {
        pids.insert(start.value(QStringLiteral("pid")).toInteger());
        EXPECT_EQ(EngineDouble::arguments(start).value(3).size(), 4000);
        EXPECT_TRUE(start.value(QStringLiteral("env_session")).isNull());
        EXPECT_EQ(start.value(QStringLiteral("cwd")).toString(), QDir::currentPath());
    }
    EXPECT_EQ(pids.size(), 8);
}

} // namespace
