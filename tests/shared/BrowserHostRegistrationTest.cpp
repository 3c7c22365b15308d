// Registering the native-messaging host with the browsers found in the configuration folder.
#include "FileSizeLimit.h"
#include "TestEnvironment.h"
#include "platform/Preferences.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserSession.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

using namespace Qt::StringLiterals;

namespace {

const QString key = u"browserExtensionIDs"_s;

QString config()
{
    return qEnvironmentVariable("XDG_CONFIG_HOME");
}

QString manifestPath(const QString &browser)
{
    return config() + u'/' + browser + u"/NativeMessagingHosts/dev.kestro.bridge.json"_s;
}

// Distinct IDs of 32 letters a-p.
QString idNumber(int n)
{
    return QString(31, u'a') + QChar(u'a' + n);
}

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList remembered()
{
    return Preferences().stringList(key).value_or(QStringList());
}

} // namespace

TEST(BrowserHostRegistration, NothingKnownDoesNothing)
{
    QDir().mkpath(config() + u"/chromium"_s);
    EXPECT_NO_THROW(BrowserBridge::registerHost(std::nullopt, u"/opt/brisvane-download"_s));
    EXPECT_FALSE(QFileInfo::exists(config() + u"/chromium/NativeMessagingHosts"_s));
    EXPECT_FALSE(Preferences().contains(key));
}

TEST(BrowserHostRegistration, NoBrowserFolderFailsAndRemembersNothing)
{
    EXPECT_THROW(BrowserBridge::registerHost(idNumber(0), u"/opt/brisvane-download"_s), BrowserSession::SessionError);
    EXPECT_FALSE(Preferences().contains(key));
}

TEST(BrowserHostRegistration, WritesTheManifestIntoEachBrowserThatExists)
{
    QDir().mkpath(config() + u"/chromium"_s);
    QDir().mkpath(config() + u"/Citro Labs/ego lite"_s);
    BrowserBridge::registerHost(idNumber(1), u"/opt/brisvane-download/"_s);

    const QByteArray expected =
        R"({"allowed_origins":["chrome-extension://aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaab/"],)"
        R"("description":"Kestro browser session bridge","name":"dev.kestro.bridge",)"
        R"("path":"/opt/brisvane-download/Contents/Helpers/KestroBridge","type":"stdio"})";
    EXPECT_EQ(read(manifestPath(u"chromium"_s)), expected);
    EXPECT_EQ(read(manifestPath(u"Citro Labs/ego lite"_s)), expected);
    for (const QString &absent : {u"google-chrome"_s, u"microsoft-edge"_s, u"BraveSoftware/Brave-Browser"_s})
        EXPECT_FALSE(QFileInfo::exists(config() + u'/' + absent)) << absent.toStdString();
    EXPECT_EQ(remembered(), QStringList{idNumber(1)});

    // A later start-up registration without an ID rewrites the manifest for a moved bundle.
    BrowserBridge::registerHost(std::nullopt, u"/home/me/.local/opt/brisvane-download"_s);
    EXPECT_EQ(QJsonDocument::fromJson(read(manifestPath(u"chromium"_s))).object().value(u"path"_s).toString(),
              u"/home/me/.local/opt/brisvane-download/Contents/Helpers/KestroBridge"_s);
}

TEST(BrowserHostRegistration, KeepsTheNewestEightIDs)
{
    QDir().mkpath(config() + u"/google-chrome"_s);
    for (int n = 0; n < 8; ++n)
        BrowserBridge::registerHost(idNumber(n), u"/opt/b"_s);
    // A known ID is not appended again.
    BrowserBridge::registerHost(idNumber(3), u"/opt/b"_s);
    EXPECT_EQ(remembered().size(), 8);

    BrowserBridge::registerHost(idNumber(8), u"/opt/b"_s);
    QStringList ids;
    QJsonArray origins;
    for (int n = 1; n <= 8; ++n) {
        ids.append(idNumber(n));
        origins.append(QString(u"chrome-extension://"_s + idNumber(n) + u'/'));
    }
    EXPECT_EQ(remembered(), ids);
    EXPECT_EQ(QJsonDocument::fromJson(read(manifestPath(u"google-chrome"_s))).object().value(u"allowed_origins"_s),
              origins);
}

TEST(BrowserHostRegistration, FailedWriteRemembersNothing)
{
    QDir().mkpath(config() + u"/chromium"_s);
    TestEnvironment::writeFile(config() + u"/chromium/NativeMessagingHosts"_s, "a file, not a folder");
    EXPECT_THROW(BrowserBridge::registerHost(idNumber(2), u"/opt/b"_s), FileError);
    EXPECT_FALSE(Preferences().contains(key));
}

TEST(BrowserHostRegistration, FullDiskKeepsTheOldManifest)
{
    QDir().mkpath(config() + u"/chromium"_s);
    BrowserBridge::registerHost(idNumber(1), u"/opt/b"_s);
    const QByteArray before = read(manifestPath(u"chromium"_s));
    ASSERT_FALSE(before.isEmpty());
    {
        const FileSizeLimit limit(16);
        EXPECT_THROW(BrowserBridge::registerHost(idNumber(2), u"/opt/b"_s), FileError);
    }
    EXPECT_EQ(read(manifestPath(u"chromium"_s)), before);
    EXPECT_EQ(QDir(config() + u"/chromium/NativeMessagingHosts"_s).entryList(QDir::Files | QDir::Hidden),
              QStringList{u"dev.kestro.bridge.json"_s});
    EXPECT_EQ(remembered(), QStringList{idNumber(1)});
}

TEST(BrowserHostRegistration, MalformedIDsAreRefused)
{
    QDir().mkpath(config() + u"/chromium"_s);
    EXPECT_THROW(BrowserBridge::registerHost(QString(32, u'z'), u"/opt/b"_s), BrowserSession::SessionError);
    // A hand-edited store cannot smuggle an origin into the manifest.
    Preferences().set(key, QStringList{u"x/\",\"chrome-extension://evil"_s, idNumber(4)});
    BrowserBridge::registerHost(std::nullopt, u"/opt/b"_s);
    EXPECT_EQ(QJsonDocument::fromJson(read(manifestPath(u"chromium"_s))).object().value(u"allowed_origins"_s),
              QJsonArray{QString(u"chrome-extension://"_s + idNumber(4) + u'/')});
}
