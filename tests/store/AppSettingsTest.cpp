#include "store/AppSettings.h"

#include "platform/Paths.h"
#include "platform/Preferences.h"
#include "platform/Workspace.h"
#include "shared/Error.h"
#include "shared/L10n.h"
#include "ArgumentRecorder.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <memory>

using namespace Qt::StringLiterals;

// Readable failure messages.
void PrintTo(const QVariant &value, std::ostream *out)
{
    *out << value.typeName() << '(' << value.toString().toStdString() << ')';
}

namespace {

// One preference: its key, default, a value other than the default, and its accessors.
struct Preference
{
    QString key;
    QVariant defaultValue;
    QVariant otherValue;
    bool resetAtStart = false;
    std::function<QVariant(const AppSettings &)> get;
    std::function<void(AppSettings &, const QVariant &)> set;
};

template<typename Value>
Preference preference(const QString &key, const Value &defaultValue, const Value &otherValue,
                      Value (AppSettings::*get)() const, auto set, bool resetAtStart = false)
{
    return {key,
            QVariant::fromValue(defaultValue),
            QVariant::fromValue(otherValue),
            resetAtStart,
            [get](const AppSettings &settings) { return QVariant::fromValue((settings.*get)()); },
            [set](AppSettings &settings, const QVariant &value) { (settings.*set)(value.value<Value>()); }};
}

const QList<Preference> &preferences()
{
    static const QList<Preference> table = {
        preference(u"uiLanguage"_s, u"en"_s, u"de"_s, &AppSettings::language, &AppSettings::setLanguage),
        preference(u"downloadDir"_s, QString(), u"/data/videos"_s, &AppSettings::downloadDirPath,
                   &AppSettings::setDownloadDirPath),
        preference(u"maxConcurrent"_s, 3, 5, &AppSettings::maxConcurrent, &AppSettings::setMaxConcurrent),
        preference(u"concurrentFragments"_s, 8, 16, &AppSettings::concurrentFragments,
                   &AppSettings::setConcurrentFragments),
        preference(u"reuseBrowserSession"_s, true, false, &AppSettings::reuseBrowserSession,
                   &AppSettings::setReuseBrowserSession),
        preference(u"defaultQuality"_s, 1080, -1, &AppSettings::defaultQuality, &AppSettings::setDefaultQuality),
        preference(u"postprocessing"_s, u"none"_s, u"mp4"_s, &AppSettings::postprocessing,
                   &AppSettings::setPostprocessing),
        preference(u"audioFormat"_s, u"mp3"_s, u"flac"_s, &AppSettings::audioFormat, &AppSettings::setAudioFormat),
        preference(u"filenameTemplate"_s, u"%(title)s.%(ext)s"_s, u"%(id)s.%(ext)s"_s,
                   &AppSettings::filenameTemplate, &AppSettings::setFilenameTemplate, true),
        preference(u"downloadSubtitles"_s, false, true, &AppSettings::downloadSubtitles,
                   &AppSettings::setDownloadSubtitles),
        preference(u"subtitleLangs"_s, u"zh-Hans,zh-Hant,en"_s, u"en,de"_s, &AppSettings::subtitleLangs,
                   &AppSettings::setSubtitleLangs),
        preference(u"embedMetadata"_s, true, false, &AppSettings::embedMetadata, &AppSettings::setEmbedMetadata),
        preference(u"cookiesBrowser"_s, u"none"_s, u"firefox"_s, &AppSettings::cookiesBrowser,
                   &AppSettings::setCookiesBrowser, true),
        preference(u"watchClipboard"_s, false, true, &AppSettings::watchClipboard, &AppSettings::setWatchClipboard),
        preference(u"showNotifications"_s, true, false, &AppSettings::showNotifications,
                   &AppSettings::setShowNotifications),
        preference(u"customYtdlpPath"_s, QString(), u"/opt/yt-dlp/yt-dlp"_s, &AppSettings::customYtdlpPath,
                   &AppSettings::setCustomYtdlpPath, true),
        preference(u"preferredPlayerPath"_s, QString(), u"/usr/share/applications/mpv.desktop"_s,
                   &AppSettings::preferredPlayerPath, &AppSettings::setPreferredPlayerPath),
    };
    return table;
}

// The stored value read with the type the preference has.
QVariant stored(const Preference &preference)
{
    const Preferences store;
    switch (preference.defaultValue.typeId()) {
    case QMetaType::Int:
        if (const auto value = store.integer(preference.key))
            return static_cast<int>(*value);
        break;
    case QMetaType::Bool:
        if (const auto value = store.boolean(preference.key))
            return *value;
        break;
    default:
        if (const auto value = store.string(preference.key))
            return *value;
        break;
    }
    return {};
}

QStringList storedKeys()
{
    QSettings settings(QSettings::IniFormat, QSettings::UserScope, u"Kestro"_s, u"Kestro"_s);
    QStringList keys = settings.allKeys();
    keys.sort();
    return keys;
}

using Recorder = ArgumentRecorder;

struct OpenerOverride
{
    explicit OpenerOverride(const QString &program) { qputenv(Workspace::openCommandVariable, program.toUtf8()); }
    ~OpenerOverride() { qunsetenv(Workspace::openCommandVariable); }
};

struct PlayOutcome
{
    bool done = false;
    std::optional<QString> error;
};

std::shared_ptr<PlayOutcome> play(const AppSettings &settings, const QString &path)
{
    auto outcome = std::make_shared<PlayOutcome>();
    settings.play(path, nullptr, [outcome](std::optional<QString> error) {
        outcome->done = true;
        outcome->error = error;
    });
    EXPECT_FALSE(outcome->done) << "play must not finish inside the call";
    EXPECT_TRUE(TestEnvironment::waitFor([&] { return outcome->done; }));
    return outcome;
}

QString mediaFile()
{
    return TestEnvironment::writeFile(TestEnvironment::root() + u"/home/Downloads/Kestro/clip 1 – ü.mp4"_s, "video");
}

} // namespace

TEST(AppSettings, EmptyStoreGivesEveryDefault)
{
    const AppSettings settings;
    for (const Preference &preference : preferences())
        EXPECT_EQ(preference.get(settings), preference.defaultValue) << preference.key.toStdString();
    EXPECT_EQ(settings.downloadDir(), Paths::downloadsDir() + u"/Kestro"_s);

    // Only the three per-run preferences were written, with their defaults.
    EXPECT_EQ(storedKeys(), (QStringList{u"cookiesBrowser"_s, u"customYtdlpPath"_s, u"filenameTemplate"_s}));
    for (const Preference &preference : preferences()) {
        if (preference.resetAtStart) {
            EXPECT_EQ(stored(preference), preference.defaultValue) << preference.key.toStdString();
        }
    }
}

TEST(AppSettings, ValuesPersistAcrossARestartExceptThePerRunOnes)
{
    {
        AppSettings settings;
        for (const Preference &preference : preferences())
            preference.set(settings, preference.otherValue);
        // Within the run every value holds, the per-run ones included, and is in the store.
        for (const Preference &preference : preferences()) {
            EXPECT_EQ(preference.get(settings), preference.otherValue) << preference.key.toStdString();
            EXPECT_EQ(stored(preference), preference.otherValue) << preference.key.toStdString();
        }
    }

    const AppSettings restarted;
    for (const Preference &preference : preferences()) {
        const QVariant expected = preference.resetAtStart ? preference.defaultValue : preference.otherValue;
        EXPECT_EQ(preference.get(restarted), expected) << preference.key.toStdString();
        EXPECT_EQ(stored(preference), expected) << preference.key.toStdString();
    }
}

TEST(AppSettings, EverySetterNotifiesBeforeTheStoreIsWritten)
{
    AppSettings settings;
    for (const Preference &preference : preferences()) {
        int notifications = 0;
        QVariant seen;
        const QMetaObject::Connection connection =
            QObject::connect(&settings, &AppSettings::changed, &settings, [&] {
                ++notifications;
                seen = preference.get(settings);
            });
        preference.set(settings, preference.otherValue);
        QObject::disconnect(connection);
        EXPECT_EQ(notifications, 1) << preference.key.toStdString();
        EXPECT_EQ(seen, preference.defaultValue) << preference.key.toStdString();
        EXPECT_EQ(preference.get(settings), preference.otherValue) << preference.key.toStdString();
    }
}

TEST(AppSettings, MistypedStoredValuesReadAsDefaults)
{
    {
        Preferences store;
        store.set(u"maxConcurrent"_s, u"many"_s);
        store.set(u"defaultQuality"_s, 1LL << 40);
        store.set(u"embedMetadata"_s, u"yes"_s);
        store.set(u"showNotifications"_s, 0);
        store.set(u"uiLanguage"_s, QStringList{u"de"_s, u"fr"_s});
    }
    const AppSettings settings;
    EXPECT_EQ(settings.maxConcurrent(), 3);
    EXPECT_EQ(settings.defaultQuality(), 1080);
    EXPECT_TRUE(settings.embedMetadata());
    EXPECT_TRUE(settings.showNotifications());
    EXPECT_EQ(settings.language(), u"en"_s);
}

TEST(AppSettings, StoredValuesTheWindowDoesNotOfferReadAsDefaults)
{
    const struct
    {
        QString key;
        QVariant stored;
        QVariant read; // what the getter gives
    } cases[] = {
        {u"maxConcurrent"_s, 10000, 3},
        {u"maxConcurrent"_s, 7, 3},
        // The scheduler's own rule makes these one at a time.
        {u"maxConcurrent"_s, 0, 0},
        {u"maxConcurrent"_s, -2, -2},
        {u"maxConcurrent"_s, 6, 6},
        {u"maxConcurrent"_s, 1, 1},
        {u"concurrentFragments"_s, 17, 8},
        {u"concurrentFragments"_s, 0, 8},
        {u"concurrentFragments"_s, 16, 16},
        {u"defaultQuality"_s, -7, 1080},
        {u"defaultQuality"_s, 1000, 1080},
        {u"defaultQuality"_s, -1, -1},
        {u"defaultQuality"_s, 0, 0},
        {u"defaultQuality"_s, 2160, 2160},
        {u"postprocessing"_s, u"mkv"_s, u"none"_s},
        {u"postprocessing"_s, u"MP4"_s, u"none"_s},
        {u"audioFormat"_s, u"wav"_s, u"mp3"_s},
        {u"audioFormat"_s, u""_s, u"mp3"_s},
        {u"audioFormat"_s, u"opus"_s, u"opus"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(QString(c.key + u" = "_s + c.stored.toString()).toStdString());
        Preferences().set(c.key, c.stored);
        const Preference &preference = *std::find_if(preferences().cbegin(), preferences().cend(),
                                                     [&c](const Preference &p) { return p.key == c.key; });
        EXPECT_EQ(preference.get(AppSettings()), c.read);
    }
}

TEST(AppSettings, DownloadDirForms)
{
    const QString defaultFolder = Paths::downloadsDir() + u"/Kestro"_s;
    const struct
    {
        const char *name;
        std::function<void(AppSettings &)> change;
        QString storedPath;
        QString folder;
    } cases[] = {
        {"absolute path", [](AppSettings &s) { s.setDownloadDirPath(u"/data/videos"_s); }, u"/data/videos"_s,
         u"/data/videos"_s},
        {"back to empty", [](AppSettings &s) { s.setDownloadDirPath(QString()); }, QString(), defaultFolder},
        {"trailing slash read", [](AppSettings &s) { s.setDownloadDirPath(u"/data/videos/"_s); },
         u"/data/videos/"_s, u"/data/videos"_s},
        {"relative path is not used", [](AppSettings &s) { s.setDownloadDirPath(u"videos"_s); }, u"videos"_s,
         defaultFolder},
        {"folder set", [](AppSettings &s) { s.setDownloadDir(u"/data/my videos/"_s); }, u"/data/my videos"_s,
         u"/data/my videos"_s},
        {"folder set with dot segments", [](AppSettings &s) { s.setDownloadDir(u"/data/a/../b/./c"_s); },
         u"/data/b/c"_s, u"/data/b/c"_s},
        {"file URL", [](AppSettings &s) { s.setDownloadDir(u"file:///data/my%20videos/%C3%BC"_s); },
         u"/data/my videos/ü"_s, u"/data/my videos/ü"_s},
        {"path with URL characters", [](AppSettings &s) { s.setDownloadDir(u"/data/a#b?c"_s); }, u"/data/a#b?c"_s,
         u"/data/a#b?c"_s},
        {"folder cleared", [](AppSettings &s) { s.setDownloadDir(QString()); }, QString(), defaultFolder},
    };
    AppSettings settings;
    for (const auto &c : cases) {
        c.change(settings);
        EXPECT_EQ(settings.downloadDirPath(), c.storedPath) << c.name;
        EXPECT_EQ(settings.downloadDir(), c.folder) << c.name;
    }
    EXPECT_FALSE(QFileInfo::exists(defaultFolder)) << "reading must not create the folder";
}

TEST(AppSettings, FormatSelectorForEachQuality)
{
    const struct
    {
        int quality;
        QString selector;
    } cases[] = {
        {0, u"bv*+ba/b"_s},
        {-1, u"bestaudio/best"_s},
        {1080, u"bv*[height<=1080]+ba/b[height<=1080]/b"_s},
        {360, u"bv*[height<=360]+ba/b[height<=360]/b"_s},
        {2160, u"bv*[height<=2160]+ba/b[height<=2160]/b"_s},
        {1234, u"bv*[height<=1234]+ba/b[height<=1234]/b"_s},
        {-2, u"bv*[height<=-2]+ba/b[height<=-2]/b"_s},
    };
    for (const auto &c : cases)
        EXPECT_EQ(AppSettings::formatSelector(c.quality), c.selector) << c.quality;
}

TEST(AppSettings, QualityOptionsInOrder)
{
    const QList<std::pair<QString, int>> expected = {
        {L10n::tr(u"最佳画质"_s), 0}, {u"4K (2160p)"_s, 2160}, {u"1440p"_s, 1440}, {u"1080p"_s, 1080},
        {u"720p"_s, 720}, {u"480p"_s, 480}, {u"360p"_s, 360}, {L10n::tr(u"仅音频"_s), -1},
    };
    EXPECT_EQ(AppSettings::qualityOptions(), expected);
}

TEST(AppSettings, PlayOnAMissingFileFailsAndOpensNothing)
{
    const Recorder opener(u"opener"_s);
    const Recorder player(u"player"_s);
    const OpenerOverride override(opener.program);
    const QString gone = mediaFile();
    QFile::remove(gone);

    AppSettings settings;
    for (const QString &preferred : {QString(), player.program}) {
        settings.setPreferredPlayerPath(preferred);
        const auto outcome = play(settings, gone);
        EXPECT_EQ(outcome->error, FileError(ENOENT, gone).description()) << preferred.toStdString();
    }
    TestEnvironment::waitFor([] { return false; }, 500);
    EXPECT_FALSE(opener.called());
    EXPECT_FALSE(player.called());
}

TEST(AppSettings, PreferredPlayerReceivesTheFile)
{
    const Recorder opener(u"opener"_s);
    const OpenerOverride override(opener.program);
    const Recorder executable(u"player"_s);
    const Recorder viaEntry(u"entry-player"_s);
    const QString entry = TestEnvironment::writeFile(
        TestEnvironment::root() + u"/home/.local/share/applications/player.desktop"_s,
        "[Desktop Entry]\nType=Application\nName=Player\nExec=" + viaEntry.program.toUtf8() + " --fullscreen %U\n");
    const QString file = mediaFile();

    const struct
    {
        QString preferred;
        const Recorder &recorder;
        QStringList arguments;
    } cases[] = {
        {executable.program, executable, {file}},
        {entry, viaEntry, {u"--fullscreen"_s, file}},
    };
    AppSettings settings;
    for (const auto &c : cases) {
        settings.setPreferredPlayerPath(c.preferred);
        const auto outcome = play(settings, file);
        EXPECT_EQ(outcome->error, std::nullopt) << outcome->error.value_or(QString()).toStdString();
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return c.recorder.called(); }));
        EXPECT_EQ(c.recorder.arguments(), c.arguments);
    }
    EXPECT_FALSE(opener.called()) << "the default application must not be asked";
}

TEST(AppSettings, PreferredPlayerThatCannotStartReportsTheSystemError)
{
    const QString missing = TestEnvironment::root() + u"/apps/no-such-player"_s;
    AppSettings settings;
    settings.setPreferredPlayerPath(missing);
    const auto outcome = play(settings, mediaFile());
    ASSERT_TRUE(outcome->error);
    EXPECT_TRUE(outcome->error->contains(missing)) << outcome->error->toStdString();
}

TEST(AppSettings, WithoutPreferredPlayerTheDefaultApplicationOpensTheFile)
{
    const QString file = mediaFile();
    {
        const Recorder opener(u"opener"_s);
        const OpenerOverride override(opener.program);
        const auto outcome = play(AppSettings(), file);
        EXPECT_EQ(outcome->error, std::nullopt);
        EXPECT_EQ(opener.arguments(), QStringList{file});
    }
    {
        const Recorder failing(u"failing-opener"_s, 3);
        const OpenerOverride override(failing.program);
        const auto outcome = play(AppSettings(), file);
        EXPECT_EQ(outcome->error, L10n::tr(u"无法打开文件“%@”。"_s, QFileInfo(file).fileName()));
        EXPECT_EQ(failing.arguments(), QStringList{file});
    }
}
