#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

// The service's answer: the feed's JSON as unpadded base64url text and its Ed25519 signature.
struct SignedEnvelope
{
    QString payload;
    QString signature;

    // A JSON object with both keys as strings (other keys ignored); nothing otherwise.
    static std::optional<SignedEnvelope> decode(const QByteArray &body);
    QByteArray encode() const;

    // Unpadded base64url ("^[A-Za-z0-9_-]+$") to bytes; nothing when malformed.
    static std::optional<QByteArray> base64UrlDecode(const QString &text);
    static QString base64UrlEncode(const QByteArray &bytes);
};
