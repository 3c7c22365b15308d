#include "TestEnvironment.h"
#include "TestTlsServer.h"
#include "UpdateTestSupport.h"
#include "platform/Paths.h"
#include "platform/Preferences.h"
#include "shared/L10n.h"
#include "updates/UpdateError.h"
#include "updates/UpdateManager.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QRegularExpression>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QString text(UpdateError::Kind kind)
{
    return UpdateError::errorDescription(kind);
}

QString hexDigest(const QByteArray &content)
{
    return QString::fromLatin1(QCryptographicHash::hash(content, QCryptographicHash::Sha256).toHex());
}

class UpdateManagerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(server.start());
        network = std::make_unique<TrustingNetwork>(server.certificate());
        configuration = UpdateConfiguration{QUrl(server.url(u"/service"_s)), signer.publicKey()};
    }

    std::unique_ptr<UpdateManager> makeManager(const QString &version = u"1.5.0"_s)
    {
        auto manager = std::make_unique<UpdateManager>(configuration, version, network.get());
        manager->setRevealer([this](const QString &path, QObject *, Workspace::Completion done) {
            revealed.append(path);
            done(revealFails ? std::optional<QString>(u"no file manager"_s) : std::nullopt);
        });
        return manager;
    }

    QJsonObject release(const QString &version, const QString &sha256 = QString(64, u'a'))
    {
        return UpdateRelease{version, server.url(u"/files/"_s + version + u".AppImage"_s), sha256,
                             u"Notes"_s, server.url(u"/notes"_s)}
            .toJson();
    }

    void serveFeed(const QJsonArray &releases)
    {
        const SignedEnvelope envelope = signer.envelope(QJsonObject{{u"v"_s, 1}, {u"releases"_s, releases}});
        server.setRoute(feedPath, {200, envelope.encode()});
    }

    // Runs one operation to its end.
    static void run(UpdateManager &manager, const std::function<void()> &start)
    {
        bool ended = false;
        QObject::connect(&manager, &UpdateManager::finished, &manager, [&] { ended = true; });
        start();
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return ended; }));
    }

    static std::optional<double> lastCheck()
    {
        return Preferences().real(QString::fromLatin1(UpdateManager::lastCheckKey));
    }

    // A manager that holds a compatible release whose installer is served with content.
    std::unique_ptr<UpdateManager> managerOffering(const QByteArray &content, const QString &sha256)
    {
        serveFeed({release(u"2.0.0"_s, sha256)});
        server.setRoute(u"/files/2.0.0.AppImage"_s, {200, content});
        auto manager = makeManager();
        run(*manager, [&] { manager->check(false); });
        EXPECT_TRUE(manager->compatible().has_value());
        return manager;
    }

    static QStringList downloads()
    {
        return QDir(Paths::downloadsDir()).entryList(QDir::Files | QDir::Hidden);
    }

    const QString feedPath = u"/service/v1/updates"_s;
    TestTlsServer server;
    TestSigner signer;
    std::unique_ptr<TrustingNetwork> network;
    std::optional<UpdateConfiguration> configuration;
    QStringList revealed;
    bool revealFails = false;
};

} // namespace

TEST_F(UpdateManagerTest, PublishesTheGreatestNewerRelease)
{
    serveFeed({release(u"2.9.0"_s), release(u"5.0.0"_s), release(u"3.1.0"_s), release(u"1.5.0"_s)});
    auto manager = makeManager();
    const double before = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0 - 1;
    run(*manager, [&] { manager->check(true); });

    ASSERT_TRUE(manager->compatible().has_value());
    EXPECT_EQ(manager->compatible()->version, u"5.0.0"_s);
    EXPECT_EQ(manager->status(), L10n::tr(u"可更新至 %@"_s, u"5.0.0"_s));
    EXPECT_FALSE(manager->busy());
    ASSERT_TRUE(lastCheck().has_value());
    EXPECT_GE(*lastCheck(), before);
}

TEST_F(UpdateManagerTest, EmptyFeedClearsTheCompatibleRelease)
{
    serveFeed({release(u"2.0.0"_s)});
    auto manager = makeManager();
    run(*manager, [&] { manager->check(false); });
    ASSERT_TRUE(manager->compatible().has_value());

    serveFeed({});
    run(*manager, [&] { manager->check(false); });
    EXPECT_FALSE(manager->compatible().has_value());
    EXPECT_EQ(manager->status(), L10n::tr(u"当前已是最新版本。"_s));
}

TEST_F(UpdateManagerTest, FailuresAreShownOnlyWhenHandStarted)
{
    const SignedEnvelope good = signer.envelope(QJsonObject{{u"v"_s, 1}, {u"releases"_s, QJsonArray{release(u"2.0.0"_s)}}});
    const TestSigner stranger;
    QByteArray oversized = good.encode();
    oversized.insert(1, QByteArray(int(UpdateManager::maxFeedBytes), ' '));
    const struct { const char *name; TestTlsServer::Route route; UpdateError::Kind kind; } cases[] = {
        {"status 404", {404, good.encode()}, UpdateError::Kind::unavailable},
        {"status 201", {201, good.encode()}, UpdateError::Kind::unavailable},
        {"not an envelope", {200, "{\"payload\": 1}"}, UpdateError::Kind::unavailable},
        {"body over 100,000 bytes", {200, oversized}, UpdateError::Kind::unavailable},
        {"foreign signature", {200, stranger.envelope(QJsonObject{{u"v"_s, 1}, {u"releases"_s, QJsonArray{}}}).encode()}, UpdateError::Kind::invalidFeed},
        {"bad release", {200, signer.envelope(QJsonObject{{u"v"_s, 1}, {u"releases"_s, QJsonArray{release(u"2.0"_s)}}}).encode()}, UpdateError::Kind::invalidFeed},
    };
    for (const auto &c : cases) {
        for (const bool silent : {true, false}) {
            SCOPED_TRACE(std::string(c.name) + (silent ? " (silent)" : " (by hand)"));
            Preferences().remove(QString::fromLatin1(UpdateManager::lastCheckKey));
            server.setRoute(feedPath, c.route);
            auto manager = makeManager();
            run(*manager, [&] { manager->check(silent); });
            EXPECT_EQ(manager->status(), silent ? QString() : text(c.kind));
            EXPECT_FALSE(manager->compatible().has_value());
            EXPECT_FALSE(manager->busy());
            EXPECT_FALSE(lastCheck().has_value());
        }
    }
}

TEST_F(UpdateManagerTest, FailedCheckKeepsTheEarlierResult)
{
    serveFeed({release(u"2.0.0"_s)});
    auto manager = makeManager();
    run(*manager, [&] { manager->check(false); });
    const QString earlier = manager->status();
    const std::optional<double> stored = lastCheck();

    server.setRoute(feedPath, {500, "down"});
    run(*manager, [&] { manager->check(true); });
    EXPECT_EQ(manager->status(), earlier);
    EXPECT_EQ(manager->compatible()->version, u"2.0.0"_s);
    EXPECT_EQ(lastCheck(), stored);
}

TEST_F(UpdateManagerTest, WithoutUsableConfigurationNothingIsFetched)
{
    serveFeed({});
    const struct { const char *name; std::optional<UpdateConfiguration> configuration; QString version; } cases[] = {
        {"no configuration", std::nullopt, u"1.0.0"_s},
        {"invalid running version", configuration, u"0.0.0"_s},
    };
    for (const auto &c : cases) {
        for (const bool silent : {true, false}) {
            SCOPED_TRACE(c.name);
            UpdateManager manager(c.configuration, c.version, network.get());
            manager.check(silent);
            EXPECT_FALSE(manager.busy());
            EXPECT_EQ(manager.status(), silent ? QString() : L10n::tr(u"此构建尚未配置更新服务。"_s));
        }
    }
    EXPECT_EQ(server.requestCount(feedPath), 0);
}

TEST_F(UpdateManagerTest, BuildConfigurationNeedsUrlAndWholeKey)
{
    const QString key = QString::fromLatin1(QByteArray(32, 'k').toBase64());
    EXPECT_TRUE(UpdateConfiguration::make(u"https://updates.example/base"_s, key));
    EXPECT_FALSE(UpdateConfiguration::make(u""_s, key));
    EXPECT_FALSE(UpdateConfiguration::make(u"http://updates.example/"_s, key));
    EXPECT_FALSE(UpdateConfiguration::make(u"https://updates.example/"_s, QString::fromLatin1(QByteArray(31, 'k').toBase64())));
    EXPECT_FALSE(UpdateConfiguration::make(u"https://updates.example/"_s, u""_s));
    EXPECT_EQ(UpdateConfiguration::make(u"https://u.example/base"_s, key)->feedURL(), QUrl(u"https://u.example/base/v1/updates"_s));
    EXPECT_EQ(UpdateConfiguration::make(u"https://u.example/base/"_s, key)->feedURL(), QUrl(u"https://u.example/base/v1/updates"_s));
}

TEST_F(UpdateManagerTest, OneOperationAtATime)
{
    serveFeed({release(u"2.0.0"_s)});
    TestTlsServer::Route slow{200, signer.envelope(QJsonObject{{u"v"_s, 1}, {u"releases"_s, QJsonArray{release(u"2.0.0"_s)}}}).encode(), {}, 300};
    server.setRoute(feedPath, slow);
    auto manager = makeManager();
    run(*manager, [&] {
        manager->check(false);
        EXPECT_TRUE(manager->busy());
        manager->check(false);
        manager->checkIfDue();
        manager->downloadCompatible();
    });
    EXPECT_EQ(server.requestCount(feedPath), 1);

    const QByteArray content("AppImage bytes");
    serveFeed({release(u"2.0.0"_s, hexDigest(content))});
    run(*manager, [&] { manager->check(false); });
    server.setRoute(u"/files/2.0.0.AppImage"_s, {200, content, {}, 300});
    run(*manager, [&] {
        manager->downloadCompatible();
        EXPECT_TRUE(manager->busy());
        EXPECT_EQ(manager->status(), L10n::tr(u"正在下载安装包…"_s));
        manager->downloadCompatible();
        manager->check(false);
    });
    EXPECT_EQ(server.requestCount(u"/files/2.0.0.AppImage"_s), 1);
    EXPECT_EQ(server.requestCount(feedPath), 2);
}

TEST_F(UpdateManagerTest, LaunchCheckRunsOncePerProcess)
{
    serveFeed({release(u"2.0.0"_s)});
    auto manager = makeManager();
    std::optional<bool> first;
    manager->checkOnLaunch([&](bool found) { first = found; });
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return first.has_value(); }));
    EXPECT_TRUE(*first);
    EXPECT_TRUE(manager->checkedOnLaunch());

    std::optional<bool> second;
    manager->checkOnLaunch([&](bool found) { second = found; });
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return second.has_value(); }));
    EXPECT_FALSE(*second);
    EXPECT_EQ(server.requestCount(feedPath), 1);
}

TEST_F(UpdateManagerTest, DailyCheckFollowsTheStoredTime)
{
    serveFeed({});
    const double now = double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
    const struct { std::optional<double> stored; bool fetches; } cases[] = {
        {std::nullopt, true}, {now - 86400 - 5, true}, {now - 3600, false}, {now + 3600, false},
    };
    int expected = 0;
    for (const auto &c : cases) {
        Preferences preferences;
        if (c.stored)
            preferences.set(QString::fromLatin1(UpdateManager::lastCheckKey), *c.stored);
        else
            preferences.remove(QString::fromLatin1(UpdateManager::lastCheckKey));
        preferences.sync();
        auto manager = makeManager();
        manager->checkIfDue();
        if (c.fetches) {
            ++expected;
            ASSERT_TRUE(TestEnvironment::waitFor([&] { return !manager->busy(); }));
        } else {
            EXPECT_FALSE(manager->busy());
        }
        EXPECT_EQ(server.requestCount(feedPath), expected);
    }
}

TEST_F(UpdateManagerTest, VerifiedInstallerIsMovedMadeExecutableAndRevealed)
{
    const QByteArray content = QByteArray("#!/bin/sh\n").repeated(5000);
    auto manager = managerOffering(content, hexDigest(content));
    run(*manager, [&] { manager->downloadCompatible(); });

    const QString expected = Paths::downloadsDir() + u"/Brisvane Download-2.0.0.AppImage"_s;
    EXPECT_EQ(manager->status(), L10n::tr(u"安装包已下载并在文件管理器中显示，请运行它完成更新。"_s));
    EXPECT_EQ(revealed, QStringList{expected});
    QFile file(expected);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), content);
    EXPECT_EQ(file.permissions() & 0x7777, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner
              | QFile::ReadUser | QFile::WriteUser | QFile::ExeUser | QFile::ReadGroup | QFile::ExeGroup
              | QFile::ReadOther | QFile::ExeOther);
    EXPECT_TRUE(manager->compatible().has_value());
    EXPECT_TRUE(QDir(Paths::tempDir()).entryList({u"kestro-installer-*"_s}, QDir::Files).isEmpty());
}

TEST_F(UpdateManagerTest, NameCollisionGetsASuffixAndLeavesTheOldFile)
{
    const QByteArray content("new installer");
    const QString taken = Paths::downloadsDir() + u"/Brisvane Download-2.0.0.AppImage"_s;
    TestEnvironment::writeFile(taken, "old installer");
    auto manager = managerOffering(content, hexDigest(content));
    run(*manager, [&] { manager->downloadCompatible(); });

    ASSERT_EQ(revealed.size(), 1);
    static const QRegularExpression pattern(u"/Brisvane Download-2\\.0\\.0-[0-9A-F]{8}\\.AppImage\\z"_s);
    EXPECT_TRUE(pattern.match(revealed.first()).hasMatch()) << revealed.first().toStdString();
    QFile old(taken);
    ASSERT_TRUE(old.open(QIODevice::ReadOnly));
    EXPECT_EQ(old.readAll(), QByteArray("old installer"));
    EXPECT_EQ(downloads().size(), 2);
}

TEST_F(UpdateManagerTest, RejectedInstallersAreNeverMovedOrRevealed)
{
    const QByteArray content("installer");
    const struct { const char *name; TestTlsServer::Route route; QString sha256; UpdateError::Kind kind; } cases[] = {
        {"zero bytes", {200, {}}, hexDigest({}), UpdateError::Kind::invalidDownload},
        {"digest mismatch", {200, content + "x"}, hexDigest(content), UpdateError::Kind::invalidDownload},
        {"status 404", {404, content}, hexDigest(content), UpdateError::Kind::invalidDownload},
        {"status 203", {203, content}, hexDigest(content), UpdateError::Kind::invalidDownload},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        auto manager = managerOffering(content, c.sha256);
        server.setRoute(u"/files/2.0.0.AppImage"_s, c.route);
        run(*manager, [&] { manager->downloadCompatible(); });
        EXPECT_EQ(manager->status(), text(c.kind));
        EXPECT_TRUE(revealed.isEmpty());
        EXPECT_TRUE(downloads().isEmpty());
        EXPECT_TRUE(QDir(Paths::tempDir()).entryList({u"kestro-installer-*"_s}, QDir::Files).isEmpty());
        EXPECT_FALSE(manager->busy());
    }
}

TEST_F(UpdateManagerTest, FailedRevealIsReported)
{
    const QByteArray content("installer");
    revealFails = true;
    auto manager = managerOffering(content, hexDigest(content));
    run(*manager, [&] { manager->downloadCompatible(); });
    EXPECT_EQ(manager->status(), text(UpdateError::Kind::invalidDownload));
}
