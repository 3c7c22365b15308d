#pragma once

#include <QByteArray>
#include <QUrl>

#include <optional>

// Where the update feed comes from and the key that signs it; fixed when the program is built.
struct UpdateConfiguration
{
    QUrl url;             // the service's base URL
    QByteArray publicKey; // raw 32-byte Ed25519 key

    // The build's values (KESTRO_UPDATE_URL, KESTRO_UPDATE_PUBLIC_KEY); nothing when either is
    // empty or malformed.
    static std::optional<UpdateConfiguration> fromBuild();
    // Nothing unless the URL is absolute https and the key is base64 of exactly 32 bytes.
    static std::optional<UpdateConfiguration> make(const QString &url, const QString &base64Key);

    // url with the path component "v1/updates" appended.
    QUrl feedURL() const;
};
