#include "engine/YtDlpService.h"
#include "EngineDouble.h"
#include "SessionSamples.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSignalSpy>

#include <gtest/gtest.h>

#include <csignal>
#include <cerrno>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

class EngineRunTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bundle = TestEnvironment::root() + u"/Brisvane Download"_s;
        EngineDouble::makeBundle(bundle);
        startLog = EngineDouble::enableStartLog();
        ASSERT_TRUE(server.start());
        service = std::make_unique<YtDlpService>(bundle);
    }

    void TearDown() override
    {
        for (EngineProcess *process : std::as_const(processes)) {
            YtDlpService::stop(process);
            bool done = false;
            YtDlpService::waitForExit(process, true, &context, [&] { done = true; });
            TestEnvironment::waitFor([&] { return done; });
            delete process;
        }
    }

    DownloadOptions options(const QString &path, const QString &outputDir)
    {
        DownloadOptions options;
        options.url = server.url(path);
        options.formatSelector = u"b"_s;
        options.outputDir = outputDir;
        options.filenameTemplate = u"%(title)s.%(ext)s"_s;
        options.temporaryDirectory = outputDir + u"/.kestro-partials/ITEM"_s;
        return options;
    }

    // Starts a run and waits for the outcome of the start.
    YtDlpService::DownloadStart start(const DownloadOptions &options)
    {
        std::optional<YtDlpService::DownloadStart> outcome;
        service->startDownload(
            options, [this](const YtDlpProgress &p) { progress.append(p); },
            [this](const QString &line) { log.append(line); }, &context,
            [&](const YtDlpService::DownloadStart &start) { outcome = start; });
        EXPECT_TRUE(TestEnvironment::waitFor([&] { return outcome.has_value(); }));
        if (outcome && outcome->process)
            processes.append(outcome->process);
        return outcome.value_or(YtDlpService::DownloadStart{});
    }

    void waitForExit(EngineProcess *process, bool stopped)
    {
        bool done = false;
        YtDlpService::waitForExit(process, stopped, &context, [&] { done = true; });
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return done; }));
    }

    QString bundle;
    QString startLog;
    TestHttpServer server;
    QObject context;
    std::unique_ptr<YtDlpService> service;
    QList<EngineProcess *> processes;
    QList<YtDlpProgress> progress;
    QStringList log;
};

// Members of a process group that still run; killed orphans may linger as zombies
// until init reaps them, which can take seconds in some sandboxes.
QList<qint64> livingGroupMembers(qint64 group)
{
    QList<qint64> living;
    const QStringList entries = QDir(u"/proc"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        QFile stat(u"/proc/"_s + entry + u"/stat"_s);
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray text = stat.readAll();
        // pid (comm) state ppid pgrp ...
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 2 && fields[2].toLongLong() == group && fields[0] != "Z")
            living.append(entry.toLongLong());
    }
    return living;
}


QStringList sessionFolders()
{
    return QDir(QDir::tempPath()).entryList({u"kestro-session-*"_s}, QDir::Dirs);
}

} // namespace

TEST_F(EngineRunTest, SessionCookiesReachOnlyTheirHostAndTheFolderGoes)
{
    server.addGenerated(u"/media/s.mp4"_s, 70000);
    service->locateBinaries(QString(), false);
    DownloadOptions download = options(u"/media/s.mp4"_s, TestEnvironment::makeDirectory(u"out"_s));
    download.cookiesBrowser = u"chrome"_s;
    download.session = secretSession(download.url);
    const YtDlpService::DownloadStart started = start(download);
    ASSERT_TRUE(started.process) << started.error.toStdString();
    EXPECT_EQ(sessionFolders().size(), 1);
    waitForExit(started.process, false);
    EXPECT_EQ(started.process->exitCode(), 0) << log.join(u'\n').toStdString();

    const QList<TestHttpServer::Request> requests = server.requests(u"/media/s.mp4"_s);
    ASSERT_EQ(requests.size(), 1);
    EXPECT_EQ(requests.first().header("cookie"), "sid=cookie-value-42");
    const QJsonObject engineStart = EngineDouble::starts(startLog).last();
    EXPECT_TRUE(engineStart.value(u"env_session"_s).toString().endsWith(u"/headers.json"_s));
    EXPECT_FALSE(EngineDouble::arguments(engineStart).contains(u"--cookies-from-browser"_s));
    EXPECT_TRUE(sessionFolders().isEmpty());
}

TEST_F(EngineRunTest, SessionSecretsAreRedactedFromEveryOutputLine)
{
    service->locateBinaries(QString(), false);
    DownloadOptions download = options(u"/echo-stderr/x?text=sid%3Dcookie-value-42%20Bearer%20auth-token-7%20Agent/1"_s,
                                       TestEnvironment::makeDirectory(u"out"_s));
    download.session = secretSession(download.url);
    const YtDlpService::DownloadStart started = start(download);
    ASSERT_TRUE(started.process);
    waitForExit(started.process, false);
    EXPECT_TRUE(log.contains(u"sid=[已隐藏凭据] [已隐藏凭据] Agent/1"_s)) << log.join(u'\n').toStdString();
    EXPECT_TRUE(log.contains(u"ERR: sid=[已隐藏凭据] [已隐藏凭据] Agent/1"_s));
    EXPECT_FALSE(log.join(u'\n').contains(u"cookie-value-42"_s));
    EXPECT_FALSE(log.join(u'\n').contains(u"auth-token-7"_s));
    EXPECT_TRUE(sessionFolders().isEmpty());
}

TEST_F(EngineRunTest, SessionFolderGoesWhenTheStartFails)
{
    service->locateBinaries(QString(), false);
    DownloadOptions download = options(u"/media/x.mp4"_s, TestEnvironment::makeDirectory(u"out"_s));
    download.session = secretSession(download.url);
    download.filenameTemplate = u"/etc/%(title)s"_s;
    EXPECT_FALSE(start(download).process);
    EXPECT_TRUE(sessionFolders().isEmpty());

    // An engine that cannot be executed at all.
    ::chmod(QFile::encodeName(bundle + u"/Contents/Helpers/yt-dlp"_s).constData(), 0755);
    TestEnvironment::writeFile(bundle + u"/Contents/Helpers/yt-dlp"_s, "#!/no/such/interpreter\n");
    download.filenameTemplate = u"%(title)s"_s;
    const YtDlpService::DownloadStart failed = start(download);
    EXPECT_FALSE(failed.process);
    EXPECT_FALSE(failed.error.isEmpty());
    EXPECT_TRUE(sessionFolders().isEmpty());
}

TEST_F(EngineRunTest, DownloadsThroughTheEngineAfterTheCheck)
{
    constexpr qint64 size = 3 * 1024 * 1024 + 17;
    server.addGenerated(u"/media/clip.mp4"_s, size);
    const QString output = TestEnvironment::makeDirectory(u"out dir"_s);

    // Asked while the check runs, the start waits for it instead of failing.
    service->locateBinaries(QString(), false);
    ASSERT_TRUE(service->isChecking());
    const YtDlpService::DownloadStart started = start(options(u"/media/clip.mp4"_s, output));
    ASSERT_TRUE(started.process) << started.error.toStdString();
    EXPECT_TRUE(service->isAvailable());
    waitForExit(started.process, false);

    EXPECT_EQ(started.process->exitCode(), 0) << log.join(u'\n').toStdString();
    ASSERT_FALSE(progress.isEmpty());
    for (qsizetype i = 1; i < progress.size(); ++i) {
        if (progress[i].phase == YtDlpProgress::Phase::downloading) {
            EXPECT_GE(progress[i].downloaded, progress[i - 1].downloaded);
        }
    }
    const auto finished = std::find_if(progress.cbegin(), progress.cend(),
                                       [](const YtDlpProgress &p) { return p.phase == YtDlpProgress::Phase::finished; });
    ASSERT_NE(finished, progress.cend());
    EXPECT_EQ(finished->downloaded, size);
    EXPECT_EQ(progress.last().phase, YtDlpProgress::Phase::processing);

    const QString staging = output + u"/.kestro-partials/ITEM"_s;
    struct stat status {};
    ASSERT_EQ(::stat(QFile::encodeName(staging).constData(), &status), 0);
    EXPECT_EQ(status.st_mode & 07777, 0700u);
    QFile file(staging + u"/complete/clip.mp4"_s);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), TestHttpServer::generatedContent(0, size));
    QFile list(staging + u"/output.jsonl"_s);
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    const QByteArray line = list.readAll();
    ASSERT_TRUE(line.endsWith('\n'));
    EXPECT_EQ(QJsonDocument::fromJson("[" + line + "]").array().first().toString(), file.fileName());

    // The engine check's two queries and the download, nothing else.
    EXPECT_EQ(EngineDouble::starts(startLog).size(), 3);
}

TEST_F(EngineRunTest, StandardErrorLinesAreMarked)
{
    service->locateBinaries(QString(), false);
    const YtDlpService::DownloadStart started =
        start(options(u"/echo-stderr/x?text=hello&exit=3"_s, TestEnvironment::makeDirectory(u"out"_s)));
    ASSERT_TRUE(started.process);
    waitForExit(started.process, false);
    EXPECT_EQ(started.process->exitCode(), 3);
    EXPECT_TRUE(log.contains(u"hello"_s));
    EXPECT_TRUE(log.contains(u"ERR: hello"_s));
}

TEST_F(EngineRunTest, StopReachesTheWholeGroup)
{
    service->locateBinaries(QString(), false);
    const YtDlpService::DownloadStart started =
        start(options(u"/ignore-term/x"_s, TestEnvironment::makeDirectory(u"out"_s)));
    ASSERT_TRUE(started.process);
    // Wait until the engine's own child runs: it also ignores SIGTERM.
    ASSERT_TRUE(TestEnvironment::waitFor([&] {
        return std::any_of(log.cbegin(), log.cend(), [](const QString &l) { return l.startsWith(u"[debug] helper pid"_s); });
    }));
    const qint64 pid = started.process->pid();
    ASSERT_EQ(::getpgid(static_cast<pid_t>(pid)), pid);

    YtDlpService::stop(started.process);
    YtDlpService::stop(started.process); // a second stop changes nothing
    waitForExit(started.process, true);
    EXPECT_TRUE(started.process->crashed());
    EXPECT_EQ(livingGroupMembers(pid), QList<qint64>{});
    YtDlpService::stop(started.process); // stopping an ended run does nothing
}

TEST_F(EngineRunTest, StartFailures)
{
    // Before any check there is no engine.
    YtDlpService::DownloadStart outcome = start(options(u"/media/x.mp4"_s, TestEnvironment::makeDirectory(u"a"_s)));
    EXPECT_FALSE(outcome.process);
    EXPECT_EQ(outcome.error, u"下载引擎不可用，请检查内置组件或自定义引擎路径。"_s);

    service->locateBinaries(QString(), false);
    DownloadOptions escaping = options(u"/media/x.mp4"_s, TestEnvironment::makeDirectory(u"b"_s));
    escaping.filenameTemplate = u"../%(title)s.%(ext)s"_s;
    outcome = start(escaping);
    EXPECT_FALSE(outcome.process);
    EXPECT_EQ(outcome.error, u"文件名模板请使用相对文件名；下载位置请在设置中选择。"_s);
    EXPECT_FALSE(QFileInfo::exists(*escaping.temporaryDirectory));

    CancelToken cancel;
    cancel.cancel();
    std::optional<YtDlpService::DownloadStart> canceled;
    service->startDownload(options(u"/media/x.mp4"_s, TestEnvironment::makeDirectory(u"c"_s)), {}, {}, &context,
                           [&](const YtDlpService::DownloadStart &s) { canceled = s; }, cancel);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return canceled.has_value(); }));
    EXPECT_TRUE(canceled->canceled);
    EXPECT_FALSE(canceled->process);

    // Only the engine check's two queries ever started.
    EXPECT_EQ(EngineDouble::starts(startLog).size(), 2);
}

TEST_F(EngineRunTest, CollectingRunsReportOutputOrNothingWhenCancelled)
{
    const QString engine = bundle + u"/Contents/Helpers/yt-dlp"_s;
    std::unique_ptr<CollectingRun> run(service->runCollecting(
        engine, {u"--"_s, server.url(u"/echo-stderr/x?text=a%0Ab%0Ac%0Ad&exit=5"_s)}, service->processEnvironment()));
    QSignalSpy finished(run.get(), &CollectingRun::finished);
    ASSERT_TRUE(finished.wait(20000));
    EXPECT_EQ(run->outcome(), CollectingRun::Outcome::completed);
    EXPECT_EQ(run->result().exitCode, 5);
    EXPECT_EQ(run->result().standardOutput, u"a\nb\nc\nd\n"_s);
    EXPECT_EQ(run->result().stderrTail, u"b c d"_s);

    std::unique_ptr<CollectingRun> hanging(
        service->runCollecting(engine, {u"--"_s, server.url(u"/hang/x"_s)}, service->processEnvironment()));
    QSignalSpy hangingFinished(hanging.get(), &CollectingRun::finished);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return hanging->process()->pid() > 0; }));
    hanging->cancel();
    ASSERT_TRUE(hangingFinished.wait(20000));
    EXPECT_EQ(hanging->outcome(), CollectingRun::Outcome::canceled);
    EXPECT_EQ(livingGroupMembers(hanging->process()->pid()), QList<qint64>{});

    std::unique_ptr<CollectingRun> missing(
        service->runCollecting(u"/no/such/program"_s, {}, service->processEnvironment()));
    QSignalSpy missingFinished(missing.get(), &CollectingRun::finished);
    ASSERT_TRUE(missingFinished.wait(20000));
    EXPECT_EQ(missing->outcome(), CollectingRun::Outcome::failedToStart);
    EXPECT_FALSE(missing->startError().isEmpty());
}
