#include "platform/Preferences.h"
#include "store/HistoryStore.h"
#include "EngineDouble.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QThread>

#include <gtest/gtest.h>

#include <csignal>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// kestro-dl finds its bundle from its own path, so it runs from a copy inside a test bundle.
class KestroDlTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        bundle = TestEnvironment::root() + u"/Brisvane Download"_s;
        EngineDouble::makeBundle(bundle);
        EngineDouble::enableStartLog();
        program = bundle + u"/Contents/Helpers/kestro-dl"_s;
        if (::link(KESTRO_DL_PROGRAM, QFile::encodeName(program).constData()) != 0) {
            ASSERT_TRUE(QFile::copy(QStringLiteral(KESTRO_DL_PROGRAM), program));
        }
        ASSERT_TRUE(server.start());
        output = TestEnvironment::root() + u"/out dir"_s;
    }

    // Runs kestro-dl to its end while the test server answers.
    int run(const QStringList &arguments, const std::function<void(QProcess &)> &whileRunning = {})
    {
        QProcess process;
        process.start(program, arguments);
        EXPECT_TRUE(process.waitForStarted());
        if (whileRunning)
            whileRunning(process);
        EXPECT_TRUE(TestEnvironment::waitFor([&] { return process.state() == QProcess::NotRunning; }, 60000));
        out = QString::fromUtf8(process.readAllStandardOutput());
        err = QString::fromUtf8(process.readAllStandardError());
        return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    }

    QString bundle;
    QString program;
    QString output;
    TestHttpServer server;
    QString out;
    QString err;
};

} // namespace

TEST_F(KestroDlTest, DownloadsEveryLinkAndRecordsHistory)
{
    server.addGenerated(u"/media/first.mp4"_s, 120000);
    server.addGenerated(u"/media/second.mp4"_s, 5000);
    const QString settingsBefore = Preferences().fileName();
    const int status = run({u"--dir"_s, output, u"--quality"_s, u"720"_s, server.url(u"/media/first.mp4"_s),
                            u"not a link"_s, server.url(u"/media/second.mp4"_s)});
    ASSERT_EQ(status, 0) << out.toStdString() << err.toStdString();
    EXPECT_TRUE(QFileInfo::exists(output + u"/first.mp4"_s));
    EXPECT_TRUE(QFileInfo::exists(output + u"/second.mp4"_s));
    EXPECT_TRUE(out.contains(output + u"/first.mp4\n"_s)) << out.toStdString();
    EXPECT_TRUE(out.contains(u"first — 已完成"_s)) << out.toStdString();

    HistoryStore history;
    ASSERT_EQ(history.entries().size(), 2);
    QStringList titles{history.entries()[0].title, history.entries()[1].title};
    titles.sort();
    EXPECT_EQ(titles, (QStringList{u"first"_s, u"second"_s}));

    // The run's options changed no stored setting.
    Preferences preferences;
    EXPECT_FALSE(preferences.contains(u"defaultQuality"_s));
    EXPECT_FALSE(preferences.contains(u"downloadDir"_s));
    const QStringList arguments = EngineDouble::arguments(EngineDouble::starts(qEnvironmentVariable("FAKE_YTDLP_START_LOG")).last());
    EXPECT_EQ(arguments[arguments.indexOf(u"-f"_s) + 1], u"bv*[height<=720]+ba/b[height<=720]/b"_s);
}

TEST_F(KestroDlTest, FailuresAndBadArguments)
{
    // First, while no engine check is remembered yet.
    qputenv("FAKE_YTDLP_VERSION", "2023.03.04");
    EXPECT_EQ(run({u"--dir"_s, output, server.url(u"/media/x.mp4"_s)}), 1);
    qunsetenv("FAKE_YTDLP_VERSION");
    EXPECT_TRUE(err.contains(u"下载引擎版本过旧（2023.03.04）"_s)) << err.toStdString();

    EXPECT_EQ(run({u"--dir"_s, output, server.url(u"/fail/x"_s)}), 1);
    EXPECT_TRUE(err.contains(u"failed: "_s + server.url(u"/fail/x"_s) + u": [generic] Unsupported URL"_s))
        << err.toStdString();

    EXPECT_EQ(run({u"--quality"_s, u"tall"_s, u"https://example.com/"_s}), 2);
    EXPECT_TRUE(err.contains(u"usage: kestro-dl"_s));
    EXPECT_EQ(run({u"ftp://example.com/x"_s}), 2);

}

TEST_F(KestroDlTest, InterruptPausesAndKeepsThePartialFile)
{
    server.addGenerated(u"/media/long.mp4"_s, 20'000'000);
    server.setThrottle(u"/media/long.mp4"_s, 200'000);
    const int status = run({u"--dir"_s, output, server.url(u"/media/long.mp4"_s)}, [&](QProcess &process) {
        // Interrupt once the engine has written part of the file.
        ASSERT_TRUE(TestEnvironment::waitFor([&] {
            return server.requests(u"/media/long.mp4"_s).size() >= 2
                && !QDir(output + u"/.kestro-partials"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot).isEmpty();
        }));
        QThread::msleep(300);
        ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    });
    EXPECT_EQ(status, 130) << out.toStdString() << err.toStdString();
    const QStringList items = QDir(output + u"/.kestro-partials"_s).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    ASSERT_EQ(items.size(), 1);
    const QStringList parts = QDir(output + u"/.kestro-partials/"_s + items.first()).entryList({u"*.part"_s});
    EXPECT_EQ(parts.size(), 1);
    EXPECT_TRUE(HistoryStore().entries().isEmpty());
}
