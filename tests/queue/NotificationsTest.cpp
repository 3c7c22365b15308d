#include "platform/Notifications.h"

#include "TestEnvironment.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>
#include <QUuid>
#include <QVariantMap>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

// Tests named OnPrivateBus* only run inside the private session bus that
// Notifications.PostsOnAPrivateSessionBus starts; anywhere else they skip.
namespace {

const char insideBusVariable[] = "KESTRO_TEST_INSIDE_PRIVATE_BUS";

bool insidePrivateBus()
{
    return qEnvironmentVariableIsSet(insideBusVariable);
}

QString newIdentifier()
{
    return QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
}

// A bus without service directories: nothing can be activated, so no daemon answers
// unless a test registers one.
QString writeBusConfig()
{
    const QString socketDir = TestEnvironment::makeDirectory(u"bus"_s);
    const QString config = QStringList{
        u"<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\""_s,
        u" \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">"_s,
        u"<busconfig>"_s,
        u"  <type>session</type>"_s,
        u"  <listen>unix:tmpdir=%1</listen>"_s,
        u"  <auth>EXTERNAL</auth>"_s,
        u"  <policy context=\"default\">"_s,
        u"    <allow send_destination=\"*\" eavesdrop=\"true\"/>"_s,
        u"    <allow eavesdrop=\"true\"/>"_s,
        u"    <allow own=\"*\"/>"_s,
        u"  </policy>"_s,
        u"</busconfig>"_s,
    }.join(u'\n').arg(socketDir);
    return TestEnvironment::writeFile(TestEnvironment::root() + u"/bus.conf"_s, config.toUtf8());
}

struct Notification
{
    QString appName;
    uint replacesId = 0;
    QString summary;
    QString body;
    QVariantMap hints;
};

} // namespace

// Stands in for the desktop's notification daemon.
class FakeNotificationDaemon : public QObject
{
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    explicit FakeNotificationDaemon(QStringList capabilities) : m_capabilities(std::move(capabilities)) {}

    QList<Notification> received;

public Q_SLOTS:
    QStringList GetCapabilities() { return m_capabilities; }

    uint Notify(const QString &appName, uint replacesId, const QString &icon, const QString &summary,
                const QString &body, const QStringList &actions, const QVariantMap &hints, int timeout)
    {
        Q_UNUSED(icon);
        Q_UNUSED(actions);
        Q_UNUSED(timeout);
        received.append({appName, replacesId, summary, body, hints});
        return replacesId != 0 ? replacesId : ++m_lastId;
    }

private:
    QStringList m_capabilities;
    uint m_lastId = 40;
};

TEST(Notifications, PostingWithoutASessionBusReturnsAtOnce)
{
    // Never reach a real desktop's bus from a test.
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + TestEnvironment::root().toUtf8() + "/no-such-bus");
    QElapsedTimer clock;
    clock.start();
    Notifications::requestPermission();
    Notifications::post(u"下载完成"_s, u"Some Clip"_s, newIdentifier());
    Notifications::post(u"下载完成"_s, u"Another Clip"_s, newIdentifier());
    EXPECT_LT(clock.elapsed(), 2000);
    QCoreApplication::processEvents();
}

TEST(Notifications, PostsOnAPrivateSessionBus)
{
    if (insidePrivateBus())
        GTEST_SKIP() << "already inside the private bus";
    const QString runner = QStandardPaths::findExecutable(u"dbus-run-session"_s);
    if (runner.isEmpty())
        GTEST_SKIP() << "dbus-run-session is not installed";

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(insideBusVariable), u"1"_s);
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::MergedChannels);
    child.start(runner, {u"--config-file="_s + writeBusConfig(), u"--"_s, QCoreApplication::applicationFilePath(),
                         u"--gtest_filter=OnPrivateBus*"_s});
    ASSERT_TRUE(child.waitForFinished(90000));
    const QString output = QString::fromLocal8Bit(child.readAll());
    EXPECT_EQ(child.exitStatus(), QProcess::NormalExit) << output.toStdString();
    EXPECT_EQ(child.exitCode(), 0) << output.toStdString();
    EXPECT_FALSE(output.contains(u"SKIPPED"_s)) << output.toStdString();
    EXPECT_TRUE(output.contains(u"[  PASSED  ]"_s)) << output.toStdString();
    EXPECT_FALSE(output.contains(u"[  PASSED  ] 0 tests"_s)) << output.toStdString();
}

TEST(OnPrivateBusNotifications, NoDaemonIsIgnored)
{
    if (!insidePrivateBus())
        GTEST_SKIP() << "runs inside the private bus of Notifications.PostsOnAPrivateSessionBus";
    ASSERT_TRUE(QDBusConnection::sessionBus().isConnected());
    QElapsedTimer clock;
    clock.start();
    Notifications::post(u"下载完成"_s, u"Some Clip"_s, newIdentifier());
    EXPECT_LT(clock.elapsed(), 2000);
    // Let the ServiceUnknown answer arrive and be dropped.
    TestEnvironment::waitFor([] { return false; }, 500);
}

TEST(OnPrivateBusNotifications, SendsTitleBodyAndSoundWithoutWaiting)
{
    if (!insidePrivateBus())
        GTEST_SKIP() << "runs inside the private bus of Notifications.PostsOnAPrivateSessionBus";
    // The daemon lives on this thread: a blocking call would stall until the D-Bus time-out.
    QDBusConnection daemonBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"fake-daemon"_s);
    FakeNotificationDaemon daemon({u"body"_s, u"body-markup"_s, u"sound"_s});
    ASSERT_TRUE(daemonBus.registerObject(u"/org/freedesktop/Notifications"_s, &daemon, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(daemonBus.registerService(u"org.freedesktop.Notifications"_s));

    const QString first = newIdentifier();
    QElapsedTimer clock;
    clock.start();
    Notifications::post(u"下载完成"_s, u"Tom & Jerry <1080p>"_s, first);
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_TRUE(daemon.received.isEmpty());
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return daemon.received.size() == 1; }, 10000));

    const Notification shown = daemon.received.at(0);
    EXPECT_EQ(shown.appName, u"Brisvane Download"_s);
    EXPECT_EQ(shown.replacesId, 0u);
    EXPECT_EQ(shown.summary, u"下载完成"_s);
    // This daemon reads the body as markup, so the title's own characters are escaped.
    EXPECT_EQ(shown.body, u"Tom &amp; Jerry &lt;1080p&gt;"_s);
    EXPECT_EQ(shown.hints.value(u"sound-name"_s).toString(), u"complete"_s);

    // The same identifier replaces its bubble; another one gets a new bubble.
    Notifications::post(u"下载完成"_s, u"again"_s, first);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return daemon.received.size() == 2; }, 10000));
    EXPECT_EQ(daemon.received.at(1).replacesId, 41u);
    Notifications::post(u"下载完成"_s, u"other"_s, newIdentifier());
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return daemon.received.size() == 3; }, 10000));
    EXPECT_EQ(daemon.received.at(2).replacesId, 0u);

    daemonBus.unregisterService(u"org.freedesktop.Notifications"_s);
    QDBusConnection::disconnectFromBus(u"fake-daemon"_s);
}

TEST(OnPrivateBusNotifications, PlainBodyForADaemonWithoutMarkup)
{
    if (!insidePrivateBus())
        GTEST_SKIP() << "runs inside the private bus of Notifications.PostsOnAPrivateSessionBus";
    QDBusConnection daemonBus = QDBusConnection::connectToBus(QDBusConnection::SessionBus, u"plain-daemon"_s);
    FakeNotificationDaemon daemon({u"body"_s});
    ASSERT_TRUE(daemonBus.registerObject(u"/org/freedesktop/Notifications"_s, &daemon, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(daemonBus.registerService(u"org.freedesktop.Notifications"_s));

    Notifications::post(u"下载完成"_s, u"Tom & Jerry"_s, newIdentifier());
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return daemon.received.size() == 1; }, 10000));
    EXPECT_EQ(daemon.received.at(0).body, u"Tom & Jerry"_s);

    daemonBus.unregisterService(u"org.freedesktop.Notifications"_s);
    QDBusConnection::disconnectFromBus(u"plain-daemon"_s);
}

#include "NotificationsTest.moc"
