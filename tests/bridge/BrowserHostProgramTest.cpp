// The KestroBridge program itself, run from a bundle of its own as the browser would.
#include "HostMessages.h"
#include "TestEnvironment.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserTransfer.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>

#include <fcntl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;
using namespace HostMessages;

namespace {

const QByteArray errorJson = u"{\"error\":\"无法发送浏览器会话，请重新连接 Brisvane Download。\",\"ok\":false}"_s.toUtf8();

// A stand-in launcher that appends its arguments and a separator line to a log per run.
QString writeLauncher(const QString &path, const QString &log, int exitCode)
{
    TestEnvironment::writeFile(path, "#!/bin/sh\nprintf '%s\\n' \"$@\" -- >> '" + log.toUtf8() + "'\nexit "
                                         + QByteArray::number(exitCode) + "\n");
    QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return path;
}

class HostProgram : public testing::Test
{
protected:
    void SetUp() override
    {
        bundle = TestEnvironment::makeDirectory(u"brisvane-download"_s);
        host = bundle + u"/Contents/Helpers/KestroBridge"_s;
        QDir().mkpath(bundle + u"/Contents/Helpers"_s);
        ASSERT_TRUE(QFile::copy(QStringLiteral(KESTRO_BRIDGE_PROGRAM), host));
        QFile::setPermissions(host, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        log = TestEnvironment::root() + u"/launcher.log"_s;
    }

    // Runs the host once; returns its standard output.
    QByteArray run(const QByteArray &input, const QString &openCommand = QString())
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(u"KESTRO_OPEN_COMMAND"_s);
        if (!openCommand.isEmpty())
            environment.insert(u"KESTRO_OPEN_COMMAND"_s, openCommand);
        process.setProcessEnvironment(environment);
        process.start(host, {u"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"_s});
        EXPECT_TRUE(process.waitForStarted());
        process.write(input);
        process.closeWriteChannel();
        EXPECT_TRUE(process.waitForFinished(60000));
        EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(process.exitCode(), 0);
        return process.readAllStandardOutput();
    }

    QStringList launcherRuns() const
    {
        QFile file(log);
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u"--\n"_s, Qt::SkipEmptyParts);
    }

    QStringList inboxEntries() const
    {
        return QDir(BrowserBridge::inbox()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden);
    }

    QString bundle;
    QString host;
    QString log;
};

} // namespace

TEST_F(HostProgram, ValidTransferReachesTheApplicationOnce)
{
    writeLauncher(bundle + u"/Contents/Linux/Kestro"_s, log, 0);
    EXPECT_EQ(run(framed(transfer)), framed(R"({"ok":true})"));

    const QStringList files = inboxEntries();
    ASSERT_EQ(files.size(), 1);
    QFile file(BrowserBridge::inbox() + u'/' + files.first());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), transfer);
    const QString url = u"kestro://import?id="_s + files.first().chopped(5);
    EXPECT_EQ(launcherRuns(), QStringList{u"--open\n"_s + url + u'\n'});

    const std::optional<QUuid> id = BrowserBridge::transferID(url);
    ASSERT_TRUE(id);
    EXPECT_EQ(BrowserBridge::consume(*id).title, u"A clip"_s);
    EXPECT_THROW(BrowserBridge::consume(*id), BrowserSession::SessionError);
}

TEST_F(HostProgram, PingNeedsNoApplication)
{
    EXPECT_EQ(run(framed(R"({"type":"ping"})")), framed(R"({"ok":true,"version":"1.4.0"})"));
    EXPECT_TRUE(launcherRuns().isEmpty());
    EXPECT_FALSE(QFileInfo::exists(BrowserBridge::inbox()));
}

TEST_F(HostProgram, FailedOpeningLeavesNoTransferBehind)
{
    // The bundle has no launcher at all.
    EXPECT_EQ(run(framed(transfer)), framed(errorJson));
    EXPECT_TRUE(inboxEntries().isEmpty());

    // The override launcher runs instead of the bundle's and reports failure.
    writeLauncher(bundle + u"/Contents/Linux/Kestro"_s, log + u".bundle"_s, 0);
    const QString failing = writeLauncher(TestEnvironment::root() + u"/open-fails"_s, log, 1);
    EXPECT_EQ(run(framed(transfer), failing), framed(errorJson));
    EXPECT_TRUE(inboxEntries().isEmpty());
    ASSERT_EQ(launcherRuns().size(), 1);
    EXPECT_TRUE(launcherRuns().first().startsWith(u"--open\nkestro://import?id="_s));
    EXPECT_FALSE(QFileInfo::exists(log + u".bundle"_s));
}

TEST_F(HostProgram, BadInputGetsTheErrorReply)
{
    writeLauncher(bundle + u"/Contents/Linux/Kestro"_s, log, 0);
    for (const QByteArray &input : {QByteArray(), prefix(0), prefix(1048577), prefix(20).first(2),
                                    QByteArray(prefix(500) + transfer.first(100)), framed("not json")}) {
        EXPECT_EQ(run(input), framed(errorJson));
    }
    EXPECT_TRUE(launcherRuns().isEmpty());
    EXPECT_TRUE(inboxEntries().isEmpty());
}

TEST_F(HostProgram, BrowserThatClosedThePipeStillSeesExitZero)
{
    // Nobody reads the reply: the browser has already gone.
    int ends[2];
    ASSERT_EQ(::pipe2(ends, O_CLOEXEC), 0);
    ::close(ends[0]);
    const int output = ends[1];
    QProcess process;
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setChildProcessModifier([output] { ::dup2(output, STDOUT_FILENO); });
    process.start(host, {});
    ASSERT_TRUE(process.waitForStarted());
    ::close(ends[1]);
    process.write(framed(R"({"type":"ping"})"));
    process.closeWriteChannel();
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 0);
}
