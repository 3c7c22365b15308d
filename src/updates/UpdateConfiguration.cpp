#include "UpdateConfiguration.h"

using namespace Qt::StringLiterals;

std::optional<UpdateConfiguration> UpdateConfiguration::fromBuild()
{
    return make(QStringLiteral(KESTRO_UPDATE_URL), QStringLiteral(KESTRO_UPDATE_PUBLIC_KEY));
}

std::optional<UpdateConfiguration> UpdateConfiguration::make(const QString &url, const QString &base64Key)
{
    if (url.isEmpty() || base64Key.isEmpty())
        return std::nullopt;
    const QUrl parsed(url, QUrl::StrictMode);
    if (!parsed.isValid() || parsed.scheme() != u"https"_s || parsed.host().isEmpty())
        return std::nullopt;
    auto key = QByteArray::fromBase64Encoding(base64Key.toLatin1(),
                                              QByteArray::AbortOnBase64DecodingErrors);
    if (!key || key.decoded.size() != 32)
        return std::nullopt;
    return UpdateConfiguration{parsed, key.decoded};
}

QUrl UpdateConfiguration::feedURL() const
{
    QUrl feed = url;
    QString path = feed.path();
    if (!path.endsWith(u'/'))
        path += u'/';
    feed.setPath(path + u"v1/updates"_s);
    return feed;
}
