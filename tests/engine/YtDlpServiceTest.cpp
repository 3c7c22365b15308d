#include "engine/YtDlpService.h"
#include "platform/Preferences.h"
#include "EngineDouble.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <utime.h>

using namespace Qt::StringLiterals;

namespace {

class YtDlpServiceTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bundle = TestEnvironment::root() + u"/Brisvane Download"_s;
        helpers = EngineDouble::makeBundle(bundle);
        startLog = EngineDouble::enableStartLog();
        qunsetenv("FAKE_YTDLP_VERSION");
        qunsetenv("FAKE_YTDLP_VERSION_EXIT");
        qunsetenv("FAKE_YTDLP_IMPERSONATE");
    }

    // Runs one check to its end and returns the number of engine starts it caused.
    qsizetype check(YtDlpService &service, const QString &customPath = {}, bool force = false)
    {
        const qsizetype before = EngineDouble::starts(startLog).size();
        QSignalSpy finished(&service, &YtDlpService::checkFinished);
        service.locateBinaries(customPath, force);
        EXPECT_TRUE(finished.count() == 1 || finished.wait(20000));
        return EngineDouble::starts(startLog).size() - before;
    }

    QString bundle;
    QString helpers;
    QString startLog;
};

const QString startFailure = u"下载引擎无法启动，请重新安装或检查自定义路径。"_s;

} // namespace

TEST_F(YtDlpServiceTest, FixedDirectoriesComeFromTheBundle)
{
    YtDlpService service(bundle);
    EXPECT_EQ(service.toolsDirectory(), bundle + u"/Contents/Helpers"_s);
    EXPECT_EQ(service.pluginsDirectory(), bundle + u"/Contents/Resources/EnginePlugins"_s);
    EXPECT_EQ(service.bundleVersion(), u"7"_s);
    EXPECT_FALSE(service.isAvailable());
    EXPECT_FALSE(service.availabilityError());
}

// A full check starts the engine twice: its version, then its impersonation targets.
TEST_F(YtDlpServiceTest, RemembersACheckUntilAFileChanges)
{
    YtDlpService service(bundle);
    EXPECT_EQ(check(service), 2);
    ASSERT_TRUE(service.isAvailable());
    EXPECT_EQ(service.version(), u"2025.12.01"_s);
    EXPECT_EQ(service.ytdlpPath(), helpers + u"/yt-dlp"_s);
    EXPECT_EQ(service.ffmpegPath(), helpers + u"/ffmpeg"_s);
    const QList<QJsonObject> starts = EngineDouble::starts(startLog);
    EXPECT_EQ(EngineDouble::arguments(starts[0]), (QStringList{u"--ignore-config"_s, u"--version"_s}));
    EXPECT_EQ(EngineDouble::arguments(starts[1]),
              (QStringList{u"--ignore-config"_s, u"--list-impersonate-targets"_s}));

    // A later launch with unchanged files trusts the record and starts nothing.
    YtDlpService relaunched(bundle);
    EXPECT_EQ(check(relaunched), 0);
    EXPECT_TRUE(relaunched.isAvailable());
    EXPECT_EQ(relaunched.version(), u"2025.12.01"_s);

    EXPECT_EQ(check(relaunched, {}, true), 2);
    EXPECT_TRUE(relaunched.isAvailable());

    // A new modification time invalidates the record.
    const QByteArray engine = QFile::encodeName(helpers + u"/yt-dlp"_s);
    struct utimbuf times { 1000000000, 1000000000 };
    ASSERT_EQ(::utime(engine.constData(), &times), 0);
    EXPECT_EQ(check(relaunched), 2);
    EXPECT_EQ(check(relaunched), 0);

    // So does a tool link that now points elsewhere.
    const QString deno = helpers + u"/deno"_s;
    const QString otherDeno = TestEnvironment::root() + u"/other-deno"_s;
    ASSERT_TRUE(QFile::copy(deno, otherDeno));
    ASSERT_TRUE(QFile::remove(deno));
    ASSERT_TRUE(QFile::link(otherDeno, deno));
    EXPECT_EQ(check(relaunched), 2);
    EXPECT_TRUE(relaunched.isAvailable());

    // And a new build number.
    EngineDouble::makeBundle(bundle);
    TestEnvironment::writeFile(bundle + u"/Contents/Info.json"_s, R"({"CFBundleVersion":"8"})");
    YtDlpService updated(bundle);
    check(updated);
    EXPECT_EQ(check(updated), 0);
    EXPECT_EQ(Preferences().dictionary(u"verifiedEngine"_s)->value(u"signature"_s).toStringList().first(), u"8"_s);
}

TEST_F(YtDlpServiceTest, RemembersWhetherTheEngineCanImpersonate)
{
    for (const bool can : {true, false}) {
        SCOPED_TRACE(can);
        SetUp();
        qputenv("FAKE_YTDLP_IMPERSONATE", can ? "1" : "0");
        YtDlpService service(bundle);
        EXPECT_EQ(check(service), 2);
        ASSERT_TRUE(service.isAvailable());
        EXPECT_EQ(service.canImpersonate(), can);
        const QStringList session = service.commandBuilder().sessionArguments(u"/s/cookies.txt"_s);
        EXPECT_EQ(session.contains(u"--impersonate"_s), can);

        // The answer is part of the record: a later launch knows it without a start.
        qunsetenv("FAKE_YTDLP_IMPERSONATE");
        YtDlpService relaunched(bundle);
        EXPECT_EQ(check(relaunched), 0);
        EXPECT_EQ(relaunched.canImpersonate(), can);
    }

    // A record from before the capability was remembered leads to one new check.
    QVariantMap record = *Preferences().dictionary(u"verifiedEngine"_s);
    record.remove(u"impersonate"_s);
    Preferences().set(u"verifiedEngine"_s, record);
    qputenv("FAKE_YTDLP_IMPERSONATE", "1");
    YtDlpService upgraded(bundle);
    EXPECT_EQ(check(upgraded), 2);
    EXPECT_TRUE(upgraded.canImpersonate());
    EXPECT_EQ(check(upgraded), 0);
}

// An engine that never answers must not hold the service (and every probe behind it) for good.
TEST_F(YtDlpServiceTest, AHungEngineIsUnusableAndProbesBehindItCanBeCancelled)
{
    const QString pidFile = TestEnvironment::root() + u"/engine.pid"_s;
    const QString hung = TestEnvironment::root() + u"/hung-yt-dlp"_s;
    TestEnvironment::writeFile(hung, "#!/bin/sh\ntrap '' TERM\necho $$ > '" + QFile::encodeName(pidFile)
                                         + "'\nwhile :; do sleep 1; done\n");
    ASSERT_EQ(::chmod(QFile::encodeName(hung).constData(), 0755), 0);

    YtDlpService service(bundle);
    service.setQueryTimeLimit(std::chrono::hours(1));
    QSignalSpy checked(&service, &YtDlpService::checkFinished);
    service.locateBinaries(hung, true);
    std::unique_ptr<MetadataProbe> probe(service.fetchMetadata({u"http://127.0.0.1:1/x"_s}));
    QSignalSpy probeFinished(probe.get(), &MetadataProbe::finished);
    ASSERT_TRUE(QTest::qWaitFor([&] { return QFile::exists(pidFile); }, 20000));
    probe->cancel();
    ASSERT_TRUE(probeFinished.wait(20000));
    EXPECT_TRUE(probe->isCanceled());
    EXPECT_TRUE(service.isChecking());
    EXPECT_EQ(checked.count(), 0);

    // With a short limit the check ends with a clear reason and leaves no engine behind.
    YtDlpService limited(bundle);
    limited.setQueryTimeLimit(std::chrono::seconds(1));
    QFile::remove(pidFile);
    QSignalSpy limitedChecked(&limited, &YtDlpService::checkFinished);
    limited.locateBinaries(hung, true);
    ASSERT_TRUE(limitedChecked.wait(60000));
    EXPECT_FALSE(limited.isAvailable());
    EXPECT_EQ(limited.availabilityError(), startFailure + u"引擎在 1 秒内没有回答版本查询"_s);
    QFile pidText(pidFile);
    ASSERT_TRUE(pidText.open(QIODevice::ReadOnly));
    const pid_t pid = QString::fromLatin1(pidText.readAll()).trimmed().toInt();
    ASSERT_GT(pid, 0);
    EXPECT_TRUE(QTest::qWaitFor([pid] { return ::kill(pid, 0) != 0; }, 20000));
}

TEST_F(YtDlpServiceTest, UnusableEngines)
{
    struct Case
    {
        const char *name;
        std::function<void(const QString &helpers)> prepare;
        QString customPath;
        QString error;
    };
    const QString customEngine = TestEnvironment::root() + u"/custom-yt-dlp"_s;
    const Case cases[] = {
        {"custom path is a folder", {}, TestEnvironment::root(),
         u"自定义引擎不可用，请检查路径或清空以使用内置引擎。"_s},
        {"custom path is missing", {}, u"  /no/such/engine \n"_s,
         u"自定义引擎不可用，请检查路径或清空以使用内置引擎。"_s},
        {"built-in deno missing, even with a custom engine",
         [&](const QString &h) {
             QFile::copy(h + u"/yt-dlp"_s, customEngine);
             QFile::remove(h + u"/deno"_s);
         },
         customEngine, u"内置组件 deno 缺失，请重新安装完整的 Brisvane Download。"_s},
        {"built-in engine not executable", [](const QString &h) { ::chmod(QFile::encodeName(h + u"/yt-dlp"_s), 0644); },
         u"   "_s, u"内置组件 yt-dlp 缺失，请重新安装完整的 Brisvane Download。"_s},
        {"version is only a newline", [](const QString &) { qputenv("FAKE_YTDLP_VERSION", ""); }, {},
         startFailure + u"引擎未返回版本"_s},
        {"engine exits with status 2", [](const QString &) { qputenv("FAKE_YTDLP_VERSION_EXIT", "2"); }, {},
         startFailure + u"退出码 2"_s},
        {"release older than the runtime options", [](const QString &) { qputenv("FAKE_YTDLP_VERSION", "2023.03.04"); },
         {}, u"下载引擎版本过旧（2023.03.04），需要 2025.11.12 或更新的 yt-dlp。"_s},
        {"nightly build older than the runtime options",
         [](const QString &) { qputenv("FAKE_YTDLP_VERSION", "2025.11.11.235959"); }, {},
         u"下载引擎版本过旧（2025.11.11.235959），需要 2025.11.12 或更新的 yt-dlp。"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SetUp();
        YtDlpService service(bundle);
        check(service);
        ASSERT_TRUE(service.isAvailable());
        if (c.prepare)
            c.prepare(helpers);
        check(service, c.customPath, true);
        EXPECT_FALSE(service.isAvailable());
        EXPECT_FALSE(service.ytdlpPath());
        EXPECT_EQ(service.availabilityError(), c.error);
        EXPECT_FALSE(Preferences().contains(u"verifiedEngine"_s));
    }
}

TEST_F(YtDlpServiceTest, AcceptsVersionsThatAreNotOldReleaseDates)
{
    const std::pair<const char *, bool> cases[] = {
        {"2025.11.12", false}, {"2025.11.11", true}, {"2023.03.04", true}, {"2026.01.02.123456", false},
        {"2025.11.1", false}, {"custom-build", false}, {"2024.12.31-dev", false}, {"2025.10.22123", true},
    };
    for (const auto &[version, tooOld] : cases)
        EXPECT_EQ(YtDlpService::isTooOld(QString::fromLatin1(version)), tooOld) << version;

    qputenv("FAKE_YTDLP_VERSION", "  my build 1.0 \n");
    YtDlpService service(bundle);
    check(service, u"  "_s);
    EXPECT_TRUE(service.isAvailable());
    EXPECT_EQ(service.version(), u"my build 1.0"_s);
}

TEST_F(YtDlpServiceTest, ChildEnvironmentIsPinned)
{
    qputenv("PYTHONPATH", "/evil");
    qputenv("VIRTUAL_ENV", "/venv");
    qputenv("KESTRO_SESSION_FILE", "/old");
    qputenv("KESTRO_TEST_MARKER", "kept");
    const QProcessEnvironment environment = YtDlpService(bundle).processEnvironment();
    EXPECT_EQ(environment.value(u"PATH"_s), helpers + u":/usr/bin:/bin:/usr/sbin:/sbin"_s);
    for (const QString &name : {u"PYTHONHOME"_s, u"PYTHONPATH"_s, u"PYTHONUSERBASE"_s, u"VIRTUAL_ENV"_s,
                                u"KESTRO_SESSION_FILE"_s})
        EXPECT_FALSE(environment.contains(name)) << name.toStdString();
    EXPECT_EQ(environment.value(u"KESTRO_TEST_MARKER"_s), u"kept"_s);
}
