// The handover between starts of the program. The running instance here is this test
// process; the later starts are the built program.
#include "app/InstanceLock.h"
#include "app/InstanceRequest.h"
#include "app/SingleInstance.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QFileInfo>
#include <QLocalSocket>
#include <QProcess>

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

// Runs the program to its end while this process keeps serving; its exit code.
int runProgram(const QStringList &arguments)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(QStringLiteral(KESTRO_APP_PROGRAM), arguments);
    if (!process.waitForStarted())
        return -1;
    if (!TestEnvironment::waitFor([&] { return process.state() == QProcess::NotRunning; }, 90000)) {
        process.kill();
        process.waitForFinished();
        return -1;
    }
    return process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
}

// What a killed instance leaves: a socket file nobody listens on.
void leaveStaleSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const QByteArray name = QFile::encodeName(path);
    ASSERT_LT(size_t(name.size()), sizeof(address.sun_path));
    memcpy(address.sun_path, name.constData(), size_t(name.size()));
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof(address)), 0);
    ::close(fd);
    ASSERT_TRUE(QFileInfo::exists(path));
}

} // namespace

TEST(SingleInstance, LaterStartsHandTheirLinksOver)
{
    leaveStaleSocket(SingleInstance::socketPath());
    InstanceLock lock;
    ASSERT_TRUE(lock.acquire());
    EXPECT_TRUE(InstanceLock::takenByAnother());
    EXPECT_EQ(InstanceLock::holderPid(), qint64(::getpid()));
    SingleInstance instance(std::move(lock));
    ASSERT_TRUE(instance.listen());
    QList<InstanceRequest> received;
    QObject::connect(&instance, &SingleInstance::received, &instance, [&](const InstanceRequest &r) { received.append(r); });

    // Nobody else may connect or read the lock.
    struct stat info{};
    ASSERT_EQ(::stat(QFile::encodeName(SingleInstance::socketPath()).constData(), &info), 0);
    EXPECT_TRUE(S_ISSOCK(info.st_mode));
    EXPECT_EQ(info.st_mode & 077, 0u);
    ASSERT_EQ(::stat(QFile::encodeName(InstanceLock::path()).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    const QString a = u"kestro://download?url=https%3A%2F%2Fa.example%2F"_s;
    const QString b = u"https://b.example/"_s;
    // Each a little over 100 KiB: together more than one request may carry.
    const QStringList oversized(12, u"https://c.example/"_s + QString(100000, u'x'));
    struct Case
    {
        const char *name;
        QStringList arguments;
        int exitCode;
        std::optional<InstanceRequest> expected;
    } cases[] = {
        {"open", {u"--open"_s, a, b}, 0, InstanceRequest{{a, b}, false}},
        {"open in the background", {u"--open"_s, u"--background"_s, a}, 0, InstanceRequest{{a}, true}},
        {"the helpers' background start", {u"--open"_s, u"--background"_s}, 0, InstanceRequest{{}, true}},
        {"a plain start with a link", {a}, 0, InstanceRequest{{a}, false}},
        {"a plain start", {}, 0, InstanceRequest{{}, false}},
        {"too much to hand over", QStringList{u"--open"_s} + oversized, 1, std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        received.clear();
        EXPECT_EQ(runProgram(c.arguments), c.exitCode);
        if (c.expected) {
            ASSERT_EQ(received.size(), 1);
            EXPECT_EQ(received.first(), *c.expected);
        } else {
            EXPECT_TRUE(received.isEmpty());
        }
    }
}

TEST(SingleInstance, MalformedRequestsAreRefusedWhole)
{
    InstanceLock lock;
    ASSERT_TRUE(lock.acquire());
    SingleInstance instance(std::move(lock));
    ASSERT_TRUE(instance.listen());
    int received = 0;
    QObject::connect(&instance, &SingleInstance::received, &instance, [&] { ++received; });

    const QByteArray lines[] = {
        "not json\n",
        "[]\n",
        R"({"urls":"https://a.example/","background":false})" "\n",
        R"({"urls":[1],"background":false})" "\n",
        R"({"urls":[],"background":"no"})" "\n",
        R"({"urls":[],"background":false,"extra":1})" "\n",
        QByteArray(InstanceRequest::maxBytes + 10, ' '),
    };
    // A silent client does not hold the others up.
    QLocalSocket silent;
    silent.connectToServer(SingleInstance::socketPath());
    for (const QByteArray &line : lines) {
        SCOPED_TRACE(line.left(60).toStdString());
        QLocalSocket socket;
        socket.connectToServer(SingleInstance::socketPath());
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return socket.state() == QLocalSocket::ConnectedState; }));
        socket.write(line);
        EXPECT_TRUE(TestEnvironment::waitFor([&] { return socket.state() == QLocalSocket::UnconnectedState; }));
        EXPECT_FALSE(socket.readAll().contains("ok"));
    }
    EXPECT_EQ(received, 0);

    QLocalSocket good;
    good.connectToServer(SingleInstance::socketPath());
    good.write(InstanceRequest{{u"https://a.example/"_s}, false}.encode());
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return good.bytesAvailable() >= 3; }));
    EXPECT_EQ(good.readAll(), "ok\n");
    EXPECT_EQ(received, 1);
}

TEST(SingleInstance, SecondLockFailsWhileTheFirstIsHeld)
{
    InstanceLock first;
    ASSERT_TRUE(first.acquire());
    InstanceLock second;
    EXPECT_FALSE(second.acquire());
    EXPECT_TRUE(InstanceLock::takenByAnother());
}
