#include "UpdateTestSupport.h"

#include <QJsonDocument>
#include <QSslConfiguration>

#include <openssl/evp.h>

#include <stdexcept>

struct TestSigner::Key
{
    EVP_PKEY *pkey = nullptr;
};

TestSigner::TestSigner() : m_key(std::make_unique<Key>())
{
    m_key->pkey = EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519");
    if (!m_key->pkey)
        throw std::runtime_error("Ed25519 key generation failed");
}

TestSigner::~TestSigner()
{
    EVP_PKEY_free(m_key->pkey);
}

QByteArray TestSigner::publicKey() const
{
    QByteArray raw(32, '\0');
    size_t length = size_t(raw.size());
    EVP_PKEY_get_raw_public_key(m_key->pkey, reinterpret_cast<unsigned char *>(raw.data()), &length);
    return raw;
}

QByteArray TestSigner::sign(const QByteArray &message) const
{
    QByteArray signature(64, '\0');
    size_t length = size_t(signature.size());
    EVP_MD_CTX *context = EVP_MD_CTX_new();
    EVP_DigestSignInit(context, nullptr, nullptr, nullptr, m_key->pkey);
    EVP_DigestSign(context, reinterpret_cast<unsigned char *>(signature.data()), &length,
                   reinterpret_cast<const unsigned char *>(message.constData()), size_t(message.size()));
    EVP_MD_CTX_free(context);
    return signature;
}

SignedEnvelope TestSigner::envelope(const QByteArray &feedJson) const
{
    const QString payload = SignedEnvelope::base64UrlEncode(feedJson);
    return {payload, SignedEnvelope::base64UrlEncode(sign("Kestro-Update-v1." + payload.toUtf8()))};
}

SignedEnvelope TestSigner::envelope(const QJsonObject &feed) const
{
    return envelope(QJsonDocument(feed).toJson(QJsonDocument::Compact));
}

QNetworkReply *TrustingNetwork::createRequest(Operation op, const QNetworkRequest &request, QIODevice *data)
{
    QNetworkRequest trusted(request);
    QSslConfiguration configuration = trusted.sslConfiguration();
    configuration.setCaCertificates({m_certificate});
    trusted.setSslConfiguration(configuration);
    return QNetworkAccessManager::createRequest(op, trusted, data);
}
