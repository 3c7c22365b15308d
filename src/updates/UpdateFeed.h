#pragma once

#include "SignedEnvelope.h"
#include "UpdateRelease.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>

#include <optional>

// The signed list of releases served by the update service.
struct UpdateFeed
{
    int v = 1;
    QList<UpdateRelease> releases;

    static constexpr qsizetype maxPayloadBytes = 65536;
    static constexpr qsizetype maxReleases = 8;
    static constexpr qsizetype maxNotesCharacters = 2000;
    // The signature covers this prefix followed by the payload text as received.
    static constexpr char signaturePrefix[] = "Kestro-Update-v1.";

    // Checks the signature with the raw 32-byte Ed25519 key, then every release against host.
    // Throws UpdateError (invalidFeed) on any failure; no part of a rejected feed is returned.
    static UpdateFeed verify(const SignedEnvelope &envelope, const QByteArray &publicKey,
                             const QString &host);

    // An absolute https URL on host (letter case ignored) without user, password or fragment.
    static std::optional<QUrl> safeURL(const QString &text, const QString &host);
    // Whether the URL's last path component has the installer extension (any letter case).
    static bool hasInstallerExtension(const QUrl &url);

    // True when the Ed25519 signature over message verifies with the raw 32-byte key.
    static bool verifySignature(const QByteArray &message, const QByteArray &signature,
                                const QByteArray &publicKey);

    QJsonObject toJson() const;
};
