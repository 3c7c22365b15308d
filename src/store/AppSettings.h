#pragma once

#include "platform/Preferences.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <utility>

// The user's preferences of the main application, one key each in the preferences store.
// A missing or mistyped stored value reads as the default, and so does a number or choice
// that the settings window does not offer. Every setter emits changed()
// before it writes the store. Main thread only.
class AppSettings : public QObject
{
    Q_OBJECT

public:
    enum class Start {
        // The application starting: the filename template, the cookies browser and the
        // custom engine path go back to their defaults.
        newRun,
        // A helper program that shares the store and must not disturb the application's run.
        keepStoredValues,
        // Like keepStoredValues, but the filename template, the cookies browser and the custom
        // engine path read as their defaults (in memory only; a stale stored value belongs to the
        // application's run, not to a command-line run).
        perRunDefaults,
    };
    explicit AppSettings(QObject *parent = nullptr, Start start = Start::newRun);

    // Created on first use, owned by the application object.
    static AppSettings &shared();

    QString language() const;
    void setLanguage(const QString &value);
    QString downloadDirPath() const;
    void setDownloadDirPath(const QString &value);
    int maxConcurrent() const;
    void setMaxConcurrent(int value);
    int concurrentFragments() const;
    void setConcurrentFragments(int value);
    bool reuseBrowserSession() const;
    void setReuseBrowserSession(bool value);
    int defaultQuality() const;
    void setDefaultQuality(int value);
    QString postprocessing() const;
    void setPostprocessing(const QString &value);
    QString audioFormat() const;
    void setAudioFormat(const QString &value);
    QString filenameTemplate() const;
    void setFilenameTemplate(const QString &value);
    bool downloadSubtitles() const;
    void setDownloadSubtitles(bool value);
    QString subtitleLangs() const;
    void setSubtitleLangs(const QString &value);
    bool embedMetadata() const;
    void setEmbedMetadata(bool value);
    QString cookiesBrowser() const;
    void setCookiesBrowser(const QString &value);
    bool watchClipboard() const;
    void setWatchClipboard(bool value);
    bool showNotifications() const;
    void setShowNotifications(bool value);
    QString customYtdlpPath() const;
    void setCustomYtdlpPath(const QString &value);
    QString preferredPlayerPath() const;
    void setPreferredPlayerPath(const QString &value);

    // The chosen download folder, or "Kestro" inside the Downloads folder when none is chosen
    // (or the stored path is not absolute). Reading never creates the folder.
    QString downloadDir() const;
    // Stores the folder's path (a local path or a "file:" URL), cleaned.
    void setDownloadDir(const QString &path);

    // The engine's format selection for a quality: 0 best, -1 audio only, otherwise a height limit.
    static QString formatSelector(int quality);
    // The quality choices, label and value, in the order they are offered.
    static QList<std::pair<QString, int>> qualityOptions();

    // Opens a finished file in the preferred player, or with the default application when none
    // is set. Returns at once; done gets nothing on success or the error text, later, and is not
    // called once the context is gone.
    void play(const QString &filePath, QObject *context,
              std::function<void(std::optional<QString> error)> done) const;

Q_SIGNALS:
    void changed();

private:
    QString stringValue(const QString &key, const QString &fallback) const;
    // A stored value outside the choices (or outside what `offered` accepts) is the fallback.
    QString choiceValue(const QString &key, const QString &fallback, const QStringList &choices) const;
    int integerValue(const QString &key, int fallback, bool (*offered)(int) = nullptr) const;
    bool booleanValue(const QString &key, bool fallback) const;
    void store(const QString &key, const QVariant &value);

    mutable Preferences m_preferences;
    bool m_perRunDefaults = false;
};
