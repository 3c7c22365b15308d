#include "UpdateFeed.h"

#include "UpdateError.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSet>
#include <QTextBoundaryFinder>

#include <openssl/evp.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

[[noreturn]] void reject()
{
    throw UpdateError(UpdateError::Kind::invalidFeed);
}

// Characters as the user sees them (grapheme clusters).
qsizetype characterCount(const QString &text)
{
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

} // namespace

bool UpdateFeed::verifySignature(const QByteArray &message, const QByteArray &signature,
                                 const QByteArray &publicKey)
{
    if (publicKey.size() != 32 || signature.size() != 64)
        return false;
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
        EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr,
                                    reinterpret_cast<const unsigned char *>(publicKey.constData()),
                                    size_t(publicKey.size())),
        &EVP_PKEY_free);
    if (!key)
        return false;
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!context || EVP_DigestVerifyInit(context.get(), nullptr, nullptr, nullptr, key.get()) != 1)
        return false;
    return EVP_DigestVerify(context.get(),
                            reinterpret_cast<const unsigned char *>(signature.constData()),
                            size_t(signature.size()),
                            reinterpret_cast<const unsigned char *>(message.constData()),
                            size_t(message.size()))
        == 1;
}

std::optional<QUrl> UpdateFeed::safeURL(const QString &text, const QString &host)
{
    // QUrl lower-cases the scheme; the rule wants exactly "https".
    if (!text.startsWith(u"https:"_s))
        return std::nullopt;
    const QUrl url(text, QUrl::StrictMode);
    if (!url.isValid() || url.isRelative() || url.scheme() != u"https"_s)
        return std::nullopt;
    if (url.host().isEmpty() || host.isEmpty() || url.host().compare(host, Qt::CaseInsensitive) != 0)
        return std::nullopt;
    if (!url.userName().isEmpty() || !url.password().isEmpty() || url.hasFragment()
        || !url.userInfo().isEmpty())
        return std::nullopt;
    return url;
}

bool UpdateFeed::hasInstallerExtension(const QUrl &url)
{
    const QString name = url.path().section(u'/', -1);
    const qsizetype dot = name.lastIndexOf(u'.');
    // "/.AppImage" is a hidden name without extension.
    if (dot <= 0)
        return false;
    return name.mid(dot + 1).toLower() == u"appimage"_s;
}

UpdateFeed UpdateFeed::verify(const SignedEnvelope &envelope, const QByteArray &publicKey,
                              const QString &host)
{
    const QByteArray payloadText = envelope.payload.toUtf8();
    if (payloadText.size() > maxPayloadBytes)
        reject();
    const std::optional<QByteArray> payload = SignedEnvelope::base64UrlDecode(envelope.payload);
    const std::optional<QByteArray> signature = SignedEnvelope::base64UrlDecode(envelope.signature);
    if (!payload || !signature || signature->size() != 64)
        reject();
    if (!verifySignature(QByteArray(signaturePrefix) + payloadText, *signature, publicKey))
        reject();

    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(*payload, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject())
        reject();
    const QJsonObject object = document.object();
    const QJsonValue version = object.value(u"v"_s);
    const QJsonValue list = object.value(u"releases"_s);
    if (!version.isDouble() || version.toDouble() != 1.0 || !list.isArray())
        reject();
    const QJsonArray entries = list.toArray();
    if (entries.size() > maxReleases)
        reject();

    static const QRegularExpression digest(u"^[a-f0-9]{64}\\z"_s);
    UpdateFeed feed;
    QSet<qint64> majors;
    for (const QJsonValue &entry : entries) {
        if (!entry.isObject())
            reject();
        const std::optional<UpdateRelease> release = UpdateRelease::fromJson(entry.toObject());
        if (!release || !UpdateRelease::parts(release->version))
            reject();
        const qint64 major = release->major();
        if (majors.contains(major))
            reject();
        majors.insert(major);
        if (!digest.match(release->sha256).hasMatch())
            reject();
        if (characterCount(release->notes) > maxNotesCharacters)
            reject();
        const std::optional<QUrl> url = safeURL(release->url, host);
        if (!url || !hasInstallerExtension(*url))
            reject();
        if (!safeURL(release->detailsURL, host))
            reject();
        feed.releases.append(*release);
    }
    return feed;
}

QJsonObject UpdateFeed::toJson() const
{
    QJsonArray list;
    for (const UpdateRelease &release : releases)
        list.append(release.toJson());
    return QJsonObject{{u"v"_s, v}, {u"releases"_s, list}};
}
