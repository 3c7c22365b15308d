#pragma once

#include "UpdateConfiguration.h"
#include "UpdateRelease.h"
#include "platform/Workspace.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <functional>
#include <optional>

class QNetworkAccessManager;
class QNetworkReply;

// Checks the signed update feed and fetches the newest compatible installer. Lives on the main
// thread; every operation returns at once and reports through changed() and finished().
// While one check or download runs (busy), further requests are ignored.
class UpdateManager : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString status READ status NOTIFY changed)
    Q_PROPERTY(bool busy READ busy NOTIFY changed)

public:
    // Shows a file in the file manager; tests replace it.
    using Revealer = std::function<void(const QString &path, QObject *context, Workspace::Completion done)>;

    static constexpr char lastCheckKey[] = "kestro.updates.lastCheck";
    static constexpr qint64 maxFeedBytes = 100000;
    static constexpr int feedTimeoutMs = 15000;
    static constexpr double checkInterval = 86400;

    // network: the HTTP session to use (not owned); a private one with the system's trust
    // store when null.
    UpdateManager(std::optional<UpdateConfiguration> configuration, const QString &currentVersion,
                  QNetworkAccessManager *network = nullptr, QObject *parent = nullptr);
    ~UpdateManager() override;

    // The process-wide instance, made on first use with the build's configuration.
    static UpdateManager &shared();
    // "CFBundleShortVersionString" of the running bundle, or "0.0.0".
    static QString runningVersion();

    QString status() const { return m_status; }
    std::optional<UpdateRelease> compatible() const { return m_compatible; }
    bool busy() const { return m_busy; }
    QString currentVersion() const { return m_currentVersion; }
    std::optional<UpdateConfiguration> configuration() const { return m_configuration; }
    bool checkedOnLaunch() const { return m_checkedOnLaunch; }

    // One check; silent hides failures and a missing configuration from status.
    void check(bool silent);
    // Runs a silent check once per process; done gets whether a compatible release is known
    // afterwards (false at once when the launch check already ran).
    void checkOnLaunch(std::function<void(bool)> done = {});
    // A silent check when the last verified one is at least a day old.
    void checkIfDue();
    // Downloads, verifies and reveals the compatible release's installer.
    void downloadCompatible();

    void setRevealer(Revealer revealer) { m_revealer = std::move(revealer); }

Q_SIGNALS:
    void changed();
    // A started check or download has ended (busy is false again).
    void finished();

private:
    void setStatus(const QString &status);
    void setBusy(bool busy);
    void finishCheck(QNetworkReply *reply, bool silent, bool tooLarge);
    void finishDownload(QNetworkReply *reply);
    void end();

    std::optional<UpdateConfiguration> m_configuration;
    QString m_currentVersion;
    QNetworkAccessManager *m_network;
    QString m_status;
    std::optional<UpdateRelease> m_compatible;
    bool m_busy = false;
    bool m_checkedOnLaunch = false;
    QPointer<QNetworkReply> m_reply;
    Revealer m_revealer;
    struct Download;
    std::shared_ptr<Download> m_download;
};
