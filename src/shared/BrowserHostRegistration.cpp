#include "BrowserBridge.h"

#include "platform/AtomicFile.h"
#include "platform/Bundle.h"
#include "platform/Paths.h"
#include "platform/Preferences.h"
#include "shared/BrowserSession.h"
#include "shared/Error.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>


using namespace Qt::StringLiterals;

namespace BrowserBridge {

QStringList browserDirectories()
{
    return {u"google-chrome"_s, u"Citro Labs/ego lite"_s, u"microsoft-edge"_s, u"BraveSoftware/Brave-Browser"_s,
            u"chromium"_s};
}

QByteArray manifest(const QString &bundlePath, const QStringList &extensionIDs)
{
    QJsonArray origins;
    for (const QString &id : extensionIDs.mid(qMax<qsizetype>(0, extensionIDs.size() - maxRememberedExtensions)))
        origins.append(QString(u"chrome-extension://"_s + id + u'/'));
    const QJsonObject object{
        {u"name"_s, QString::fromUtf16(hostName)},
        {u"description"_s, u"Kestro browser session bridge"_s},
        {u"type"_s, u"stdio"_s},
        {u"path"_s, QString(QDir::cleanPath(QFileInfo(bundlePath).absoluteFilePath()) + u"/Contents/Helpers/KestroBridge"_s)},
        {u"allowed_origins"_s, origins},
    };
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

void registerHost(const std::optional<QString> &extensionID, const QString &bundlePath)
{
    if (extensionID && !isExtensionID(*extensionID))
        throw BrowserSession::SessionError::invalid();
    const QString key = QString::fromUtf16(extensionIDsKey);
    Preferences preferences;
    // An entry that is not an extension ID (a hand-edited store) would make a bogus origin.
    QStringList ids;
    for (const QString &id : preferences.stringList(key).value_or(QStringList()))
        if (isExtensionID(id) && !ids.contains(id))
            ids.append(id);
    if (extensionID && !ids.contains(*extensionID))
        ids.append(*extensionID);
    if (ids.isEmpty())
        return;
    // Without a bundle the manifest would name a program that does not exist.
    if (bundlePath.isEmpty())
        throw BrowserSession::SessionError::invalid();
    ids = ids.mid(qMax<qsizetype>(0, ids.size() - maxRememberedExtensions));
    const QByteArray content = manifest(bundlePath, ids);

    bool anyBrowser = false;
    const QString config = Paths::configHome();
    for (const QString &browser : browserDirectories()) {
        const QString base = config + u'/' + browser;
        if (!QFileInfo(base).isDir())
            continue;
        anyBrowser = true;
        const QString hosts = base + u"/NativeMessagingHosts"_s;
        if (!QDir().mkpath(hosts))
            throw FileError::fromErrno(hosts);
        const QString path = hosts + u'/' + QString::fromUtf16(manifestFileName);
        // Written beside and renamed over the old manifest: a browser never reads half a file,
        // and a full disk leaves the old one in place.
        if (const int error = AtomicFile::write(path, content); error != 0)
            throw FileError(error, path);
    }
    if (!anyBrowser)
        throw BrowserSession::SessionError::invalid();
    preferences.set(key, ids);
}

void registerHost(const std::optional<QString> &extensionID)
{
    registerHost(extensionID, Bundle::main().path());
}

} // namespace BrowserBridge
