#include "AppSettings.h"

#include "platform/Paths.h"
#include "platform/Workspace.h"
#include "shared/Error.h"
#include "shared/L10n.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

namespace Key {
const QString language = u"uiLanguage"_s;
const QString downloadDirPath = u"downloadDir"_s;
const QString maxConcurrent = u"maxConcurrent"_s;
const QString concurrentFragments = u"concurrentFragments"_s;
const QString reuseBrowserSession = u"reuseBrowserSession"_s;
const QString defaultQuality = u"defaultQuality"_s;
const QString postprocessing = u"postprocessing"_s;
const QString audioFormat = u"audioFormat"_s;
const QString filenameTemplate = u"filenameTemplate"_s;
const QString downloadSubtitles = u"downloadSubtitles"_s;
const QString subtitleLangs = u"subtitleLangs"_s;
const QString embedMetadata = u"embedMetadata"_s;
const QString cookiesBrowser = u"cookiesBrowser"_s;
const QString watchClipboard = u"watchClipboard"_s;
const QString showNotifications = u"showNotifications"_s;
const QString customYtdlpPath = u"customYtdlpPath"_s;
const QString preferredPlayerPath = u"preferredPlayerPath"_s;
} // namespace Key

namespace Default {
const QString language = u"en"_s;
const QString downloadDirPath;
constexpr int maxConcurrent = 3;
constexpr int concurrentFragments = 8;
constexpr bool reuseBrowserSession = true;
constexpr int defaultQuality = 1080;
const QString postprocessing = u"none"_s;
const QString audioFormat = u"mp3"_s;
const QString filenameTemplate = u"%(title)s.%(ext)s"_s;
constexpr bool downloadSubtitles = false;
const QString subtitleLangs = u"zh-Hans,zh-Hant,en"_s;
constexpr bool embedMetadata = true;
const QString cookiesBrowser = u"none"_s;
constexpr bool watchClipboard = false;
constexpr bool showNotifications = true;
const QString customYtdlpPath;
const QString preferredPlayerPath;
} // namespace Default

// What the settings window offers. Anything else in the store (a hand edit, another version)
// reads as the default: 10000 parallel engines or a quality of -7 would hurt. A limit below 1
// stays: the scheduler runs one job at a time for it.
bool offersConcurrent(int value) { return value <= 6; }
bool offersFragments(int value) { return value >= 1 && value <= 16; }
bool offersQuality(int value)
{
    for (const auto &[label, quality] : AppSettings::qualityOptions())
        if (quality == value)
            return true;
    return false;
}
const QStringList postprocessingChoices{u"none"_s, u"mp4"_s};
const QStringList audioFormatChoices{u"mp3"_s, u"m4a"_s, u"flac"_s, u"opus"_s};

} // namespace

AppSettings::AppSettings(QObject *parent, Start start)
    : QObject(parent)
{
    m_perRunDefaults = start == Start::perRunDefaults;
    if (start != Start::newRun)
        return;
    // These three only last for one run.
    for (const QString &key : {Key::filenameTemplate, Key::cookiesBrowser, Key::customYtdlpPath})
        m_preferences.remove(key);
    m_preferences.set(Key::filenameTemplate, Default::filenameTemplate);
    m_preferences.set(Key::cookiesBrowser, Default::cookiesBrowser);
    m_preferences.set(Key::customYtdlpPath, Default::customYtdlpPath);
}

AppSettings &AppSettings::shared()
{
    static AppSettings *instance = new AppSettings(QCoreApplication::instance());
    return *instance;
}

QString AppSettings::stringValue(const QString &key, const QString &fallback) const
{
    return m_preferences.string(key).value_or(fallback);
}

QString AppSettings::choiceValue(const QString &key, const QString &fallback, const QStringList &choices) const
{
    const QString value = stringValue(key, fallback);
    return choices.contains(value) ? value : fallback;
}

int AppSettings::integerValue(const QString &key, int fallback, bool (*offered)(int)) const
{
    const std::optional<qint64> value = m_preferences.integer(key);
    if (!value || *value < std::numeric_limits<int>::min() || *value > std::numeric_limits<int>::max())
        return fallback;
    const int result = static_cast<int>(*value);
    return offered && !offered(result) ? fallback : result;
}

bool AppSettings::booleanValue(const QString &key, bool fallback) const
{
    return m_preferences.boolean(key).value_or(fallback);
}

void AppSettings::store(const QString &key, const QVariant &value)
{
    // Observers hear of the change before the new value is in the store.
    Q_EMIT changed();
    m_preferences.set(key, value);
}

QString AppSettings::language() const { return stringValue(Key::language, Default::language); }
void AppSettings::setLanguage(const QString &value) { store(Key::language, value); }

QString AppSettings::downloadDirPath() const { return stringValue(Key::downloadDirPath, Default::downloadDirPath); }
void AppSettings::setDownloadDirPath(const QString &value) { store(Key::downloadDirPath, value); }

int AppSettings::maxConcurrent() const { return integerValue(Key::maxConcurrent, Default::maxConcurrent, offersConcurrent); }
void AppSettings::setMaxConcurrent(int value) { store(Key::maxConcurrent, value); }

int AppSettings::concurrentFragments() const
{
    return integerValue(Key::concurrentFragments, Default::concurrentFragments, offersFragments);
}
void AppSettings::setConcurrentFragments(int value) { store(Key::concurrentFragments, value); }

bool AppSettings::reuseBrowserSession() const
{
    return booleanValue(Key::reuseBrowserSession, Default::reuseBrowserSession);
}
void AppSettings::setReuseBrowserSession(bool value) { store(Key::reuseBrowserSession, value); }

int AppSettings::defaultQuality() const { return integerValue(Key::defaultQuality, Default::defaultQuality, offersQuality); }
void AppSettings::setDefaultQuality(int value) { store(Key::defaultQuality, value); }

QString AppSettings::postprocessing() const { return choiceValue(Key::postprocessing, Default::postprocessing, postprocessingChoices); }
void AppSettings::setPostprocessing(const QString &value) { store(Key::postprocessing, value); }

QString AppSettings::audioFormat() const { return choiceValue(Key::audioFormat, Default::audioFormat, audioFormatChoices); }
void AppSettings::setAudioFormat(const QString &value) { store(Key::audioFormat, value); }

QString AppSettings::filenameTemplate() const
{
    return m_perRunDefaults ? Default::filenameTemplate : stringValue(Key::filenameTemplate, Default::filenameTemplate);
}
void AppSettings::setFilenameTemplate(const QString &value) { store(Key::filenameTemplate, value); }

bool AppSettings::downloadSubtitles() const
{
    return booleanValue(Key::downloadSubtitles, Default::downloadSubtitles);
}
void AppSettings::setDownloadSubtitles(bool value) { store(Key::downloadSubtitles, value); }

QString AppSettings::subtitleLangs() const { return stringValue(Key::subtitleLangs, Default::subtitleLangs); }
void AppSettings::setSubtitleLangs(const QString &value) { store(Key::subtitleLangs, value); }

bool AppSettings::embedMetadata() const { return booleanValue(Key::embedMetadata, Default::embedMetadata); }
void AppSettings::setEmbedMetadata(bool value) { store(Key::embedMetadata, value); }

QString AppSettings::cookiesBrowser() const
{
    return m_perRunDefaults ? Default::cookiesBrowser : stringValue(Key::cookiesBrowser, Default::cookiesBrowser);
}
void AppSettings::setCookiesBrowser(const QString &value) { store(Key::cookiesBrowser, value); }

bool AppSettings::watchClipboard() const { return booleanValue(Key::watchClipboard, Default::watchClipboard); }
void AppSettings::setWatchClipboard(bool value) { store(Key::watchClipboard, value); }

bool AppSettings::showNotifications() const
{
    return booleanValue(Key::showNotifications, Default::showNotifications);
}
void AppSettings::setShowNotifications(bool value) { store(Key::showNotifications, value); }

QString AppSettings::customYtdlpPath() const
{
    return m_perRunDefaults ? Default::customYtdlpPath : stringValue(Key::customYtdlpPath, Default::customYtdlpPath);
}
void AppSettings::setCustomYtdlpPath(const QString &value) { store(Key::customYtdlpPath, value); }

QString AppSettings::preferredPlayerPath() const
{
    return stringValue(Key::preferredPlayerPath, Default::preferredPlayerPath);
}
void AppSettings::setPreferredPlayerPath(const QString &value) { store(Key::preferredPlayerPath, value); }

QString AppSettings::downloadDir() const
{
    const QString path = downloadDirPath();
    // A relative path would depend on where the program happened to be started.
    if (path.isEmpty() || !QDir::isAbsolutePath(path))
        return Paths::downloadsDir() + u"/Kestro"_s;
    return QDir::cleanPath(path);
}

void AppSettings::setDownloadDir(const QString &path)
{
    const QUrl url(path);
    const QString local = url.isLocalFile() ? url.toLocalFile() : path;
    setDownloadDirPath(local.isEmpty() ? QString() : QDir::cleanPath(local));
}

QString AppSettings::formatSelector(int quality)
{
    if (quality == 0)
        return u"bv*+ba/b"_s;
    if (quality == -1)
        return u"bestaudio/best"_s;
    const QString height = QString::number(quality);
    return u"bv*[height<="_s + height + u"]+ba/b[height<="_s + height + u"]/b"_s;
}

QList<std::pair<QString, int>> AppSettings::qualityOptions()
{
    return {
        {L10n::tr(u"最佳画质"_s), 0},
        {u"4K (2160p)"_s, 2160},
        {u"1440p"_s, 1440},
        {u"1080p"_s, 1080},
        {u"720p"_s, 720},
        {u"480p"_s, 480},
        {u"360p"_s, 360},
        {L10n::tr(u"仅音频"_s), -1},
    };
}

void AppSettings::play(const QString &filePath, QObject *context,
                       std::function<void(std::optional<QString> error)> done) const
{
    if (!QFileInfo::exists(filePath)) {
        const QString error = FileError(ENOENT, filePath).description();
        QTimer::singleShot(0, context ? context : QCoreApplication::instance(),
                           [done = std::move(done), error] { done(error); });
        return;
    }
    const QString player = preferredPlayerPath();
    if (!player.isEmpty()) {
        Workspace::openWithApplication(filePath, player, context, std::move(done));
        return;
    }
    const QString name = QFileInfo(filePath).fileName();
    Workspace::openWithDefault(filePath, context, [done = std::move(done), name](std::optional<QString> error) {
        // The opener's own reasons are not worth showing; the user learns the file did not open.
        done(error ? std::optional(L10n::tr(u"无法打开文件“%@”。"_s, name)) : std::nullopt);
    });
}
