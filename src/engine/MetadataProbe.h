#pragma once

#include "engine/SessionFiles.h"
#include "engine/VideoMetadata.h"
#include "shared/BrowserSession.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>

class CollectingRun;
class YtDlpService;

// One run of the engine in JSON dump mode. Made by YtDlpService::fetchMetadata; the caller
// owns it and learns the outcome from finished(). Its session files go when the run ends.
class MetadataProbe : public QObject
{
    Q_OBJECT

public:
    struct Query
    {
        QString url;
        bool expandPlaylist = false;
        QString cookiesBrowser = QStringLiteral("none");
        std::optional<QString> referer;
        std::optional<QString> userAgent;
        std::optional<BrowserSession> session;
    };

    explicit MetadataProbe(const Query &query, QObject *parent = nullptr);
    ~MetadataProbe() override;

    // Stops the engine; a cancelled probe ends without a result.
    void cancel();

    bool isFinished() const { return m_finished; }
    bool isCanceled() const { return m_canceled; }
    std::optional<VideoMetadata> metadata() const { return m_metadata; }
    // Why there is no metadata (empty when cancelled or successful).
    QString error() const { return m_error; }

    // The engine's argument list for this query (without session files).
    static QStringList arguments(const YtDlpService &service, const Query &query,
                                 const std::optional<QString> &sessionCookieFile);

Q_SIGNALS:
    void finished();

private:
    friend class YtDlpService;
    void begin(const YtDlpService &service);
    void conclude(CollectingRun *run);
    void fail(const QString &error);
    void finish();

    Query m_query;
    std::shared_ptr<SessionFiles> m_sessionFiles;
    QPointer<CollectingRun> m_run;
    std::optional<VideoMetadata> m_metadata;
    QString m_error;
    bool m_canceled = false;
    bool m_finished = false;
};
