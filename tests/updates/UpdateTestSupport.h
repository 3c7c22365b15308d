#pragma once

#include "updates/SignedEnvelope.h"

#include <QByteArray>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QSslCertificate>

#include <memory>

// An Ed25519 key pair made for the test run.
class TestSigner
{
public:
    TestSigner();
    ~TestSigner();

    QByteArray publicKey() const;
    QByteArray sign(const QByteArray &message) const;
    // The feed as signed by the service: prefix + base64url payload text.
    SignedEnvelope envelope(const QByteArray &feedJson) const;
    SignedEnvelope envelope(const QJsonObject &feed) const;

private:
    struct Key;
    std::unique_ptr<Key> m_key;
};

// An HTTP session that trusts only the given certificate.
class TrustingNetwork : public QNetworkAccessManager
{
public:
    explicit TrustingNetwork(const QSslCertificate &certificate) : m_certificate(certificate) {}

protected:
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request, QIODevice *data) override;

private:
    QSslCertificate m_certificate;
};
