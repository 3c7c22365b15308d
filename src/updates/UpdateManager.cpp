#include "UpdateManager.h"

#include "InstallerCheck.h"
#include "SignedEnvelope.h"
#include "UpdateError.h"
#include "UpdateFeed.h"
#include "platform/Bundle.h"
#include "platform/Paths.h"
#include "platform/Preferences.h"
#include "shared/L10n.h"

#include <QDateTime>
#include <QFutureWatcher>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace {

// A download stalls out after this long without any data.
constexpr int installerIdleTimeoutMs = 60000;

double now()
{
    return double(QDateTime::currentMSecsSinceEpoch()) / 1000.0;
}

struct InstallOutcome
{
    QString destination;
    std::optional<UpdateError::Kind> error;
};

} // namespace

struct UpdateManager::Download
{
    UpdateRelease release;
    QTemporaryFile file;
    qint64 received = 0;
    std::optional<UpdateError::Kind> failure; // decided while receiving
};

UpdateManager::UpdateManager(std::optional<UpdateConfiguration> configuration,
                             const QString &currentVersion, QNetworkAccessManager *network,
                             QObject *parent)
    : QObject(parent)
    , m_configuration(std::move(configuration))
    , m_currentVersion(currentVersion)
    , m_network(network ? network : new QNetworkAccessManager(this))
    , m_revealer(&Workspace::reveal)
{
}

UpdateManager::~UpdateManager()
{
    if (m_reply) {
        m_reply->disconnect(this);
        m_reply->abort();
        m_reply->deleteLater();
    }
}

UpdateManager &UpdateManager::shared()
{
    // Lives for the whole process.
    static UpdateManager *instance = new UpdateManager(UpdateConfiguration::fromBuild(), runningVersion());
    return *instance;
}

QString UpdateManager::runningVersion()
{
    const QJsonValue value = Bundle::main().infoValue(u"CFBundleShortVersionString"_s);
    return value.isString() ? value.toString() : u"0.0.0"_s;
}

void UpdateManager::setStatus(const QString &status)
{
    if (m_status == status)
        return;
    m_status = status;
    Q_EMIT changed();
}

void UpdateManager::setBusy(bool busy)
{
    if (m_busy == busy)
        return;
    m_busy = busy;
    Q_EMIT changed();
}

void UpdateManager::end()
{
    m_reply = nullptr;
    setBusy(false);
    Q_EMIT finished();
}

void UpdateManager::check(bool silent)
{
    if (m_busy)
        return;
    if (!m_configuration || !UpdateRelease::parts(m_currentVersion)) {
        if (!silent)
            setStatus(L10n::tr(u"此构建尚未配置更新服务。"_s));
        return;
    }
    setBusy(true);

    QNetworkRequest request(m_configuration->feedURL());
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(feedTimeoutMs);
    QNetworkReply *reply = m_network->get(request);
    m_reply = reply;
    auto tooLarge = std::make_shared<bool>(false);
    // Stop reading as soon as the body is known to be too large.
    auto guard = [reply, tooLarge](qint64 received, qint64 total) {
        if (!*tooLarge && (received > maxFeedBytes || total > maxFeedBytes)) {
            *tooLarge = true;
            reply->abort();
        }
    };
    connect(reply, &QNetworkReply::downloadProgress, this, guard);
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, guard] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid())
            guard(0, length.toLongLong());
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply, silent, tooLarge] {
        reply->deleteLater();
        finishCheck(reply, silent, *tooLarge);
    });
}

void UpdateManager::finishCheck(QNetworkReply *reply, bool silent, bool tooLarge)
{
    try {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (tooLarge || reply->error() != QNetworkReply::NoError || !status.isValid()
            || status.toInt() != 200)
            throw UpdateError(UpdateError::Kind::unavailable);
        const QByteArray body = reply->read(maxFeedBytes + 1);
        if (body.size() > maxFeedBytes)
            throw UpdateError(UpdateError::Kind::unavailable);
        const std::optional<SignedEnvelope> envelope = SignedEnvelope::decode(body);
        const QString host = m_configuration->url.host();
        if (!envelope || host.isEmpty())
            throw UpdateError(UpdateError::Kind::unavailable);
        const UpdateFeed feed = UpdateFeed::verify(*envelope, m_configuration->publicKey, host);

        std::optional<UpdateRelease> best;
        for (const UpdateRelease &release : feed.releases) {
            if (!UpdateRelease::newer(release.version, m_currentVersion))
                continue;
            if (!best || UpdateRelease::newer(release.version, best->version))
                best = release;
        }
        const bool differs = best != m_compatible;
        m_compatible = best;
        Preferences preferences;
        preferences.set(QString::fromLatin1(lastCheckKey), now());
        preferences.sync();
        if (differs)
            Q_EMIT changed();
        setStatus(best ? L10n::tr(u"可更新至 %@"_s, best->version)
                       : L10n::tr(u"当前已是最新版本。"_s));
    } catch (const UpdateError &error) {
        if (!silent)
            setStatus(error.description());
    }
    end();
}

void UpdateManager::checkOnLaunch(std::function<void(bool)> done)
{
    if (m_checkedOnLaunch) {
        if (done)
            QMetaObject::invokeMethod(this, [done] { done(false); }, Qt::QueuedConnection);
        return;
    }
    m_checkedOnLaunch = true;
    const bool wasBusy = m_busy;
    check(true);
    if (!done)
        return;
    // The check did not start (busy, or no configuration): answer with what is known now.
    if (wasBusy || !m_busy) {
        QMetaObject::invokeMethod(this, [this, done] { done(m_compatible.has_value()); },
                                  Qt::QueuedConnection);
        return;
    }
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(this, &UpdateManager::finished, this, [this, done, connection] {
        disconnect(*connection);
        done(m_compatible.has_value());
    });
}

void UpdateManager::checkIfDue()
{
    const double last = Preferences().real(QString::fromLatin1(lastCheckKey)).value_or(0.0);
    if (now() - last >= checkInterval)
        check(true);
}

void UpdateManager::downloadCompatible()
{
    if (m_busy || !m_compatible)
        return;
    const QUrl url(m_compatible->url, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative())
        return;
    setBusy(true);
    setStatus(L10n::tr(u"正在下载安装包…"_s));

    auto download = std::make_shared<Download>();
    download->release = *m_compatible;
    download->file.setFileTemplate(Paths::tempDir() + u"/kestro-installer-XXXXXX"_s);
    if (!download->file.open()) {
        setStatus(UpdateError::errorDescription(UpdateError::Kind::unavailable));
        end();
        return;
    }
    m_download = download;

    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setAttribute(QNetworkRequest::CacheSaveControlAttribute, false);
    request.setTransferTimeout(installerIdleTimeoutMs);
    QNetworkReply *reply = m_network->get(request);
    m_reply = reply;
    auto fail = [reply, download](UpdateError::Kind kind) {
        if (!download->failure)
            download->failure = kind;
        reply->abort();
    };
    // A refused answer or an oversized body is not worth receiving.
    connect(reply, &QNetworkReply::metaDataChanged, this, [reply, fail] {
        const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
        if (status.isValid() && status.toInt() != 200 && !reply->attribute(QNetworkRequest::RedirectionTargetAttribute).isValid()) {
            fail(UpdateError::Kind::invalidDownload);
            return;
        }
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (status.toInt() == 200 && length.isValid() && length.toLongLong() > InstallerCheck::maximumSize)
            fail(UpdateError::Kind::invalidDownload);
    });
    connect(reply, &QNetworkReply::readyRead, this, [reply, download, fail] {
        if (download->failure)
            return;
        const QByteArray data = reply->readAll();
        download->received += data.size();
        if (download->received > InstallerCheck::maximumSize) {
            fail(UpdateError::Kind::invalidDownload);
            return;
        }
        if (download->file.write(data) != data.size())
            fail(UpdateError::Kind::unavailable);
    });
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        finishDownload(reply);
    });
}

void UpdateManager::finishDownload(QNetworkReply *reply)
{
    std::shared_ptr<Download> download = std::move(m_download);
    m_reply = nullptr;
    auto failWith = [this](UpdateError::Kind kind) {
        setStatus(UpdateError::errorDescription(kind));
        end();
    };
    if (download->failure)
        return failWith(*download->failure);
    const QVariant status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (status.isValid() && status.toInt() != 200)
        return failWith(UpdateError::Kind::invalidDownload);
    if (!status.isValid() || reply->error() != QNetworkReply::NoError)
        return failWith(UpdateError::Kind::unavailable);
    const QByteArray rest = reply->readAll();
    if (download->received + rest.size() > InstallerCheck::maximumSize)
        return failWith(UpdateError::Kind::invalidDownload);
    if (download->file.write(rest) != rest.size() || !download->file.flush())
        return failWith(UpdateError::Kind::unavailable);
    download->file.close();

    // Hashing up to a gigabyte takes seconds: it runs on a worker, the result comes back here.
    const QString path = download->file.fileName();
    const QString sha256 = download->release.sha256;
    const QString version = download->release.version;
    const QString folder = Paths::downloadsDir();
    auto *watcher = new QFutureWatcher<InstallOutcome>(this);
    connect(watcher, &QFutureWatcher<InstallOutcome>::finished, this, [this, watcher, download] {
        watcher->deleteLater();
        const InstallOutcome outcome = watcher->result();
        if (outcome.error) {
            setStatus(UpdateError::errorDescription(*outcome.error));
            end();
            return;
        }
        m_revealer(outcome.destination, this, [this](std::optional<QString> error) {
            setStatus(error ? UpdateError::errorDescription(UpdateError::Kind::invalidDownload)
                            : L10n::tr(u"安装包已下载并在文件管理器中显示，请运行它完成更新。"_s));
            end();
        });
    });
    watcher->setFuture(QtConcurrent::run([path, sha256, folder, version]() -> InstallOutcome {
        try {
            return {InstallerCheck::install(path, sha256, folder, version), std::nullopt};
        } catch (const UpdateError &error) {
            return {QString(), error.kind()};
        } catch (...) {
            // File-system errors read as "try again later".
            return {QString(), UpdateError::Kind::unavailable};
        }
    }));
}
