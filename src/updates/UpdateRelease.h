#pragma once

#include <QJsonObject>
#include <QString>

#include <array>
#include <optional>

// One release entry of the update feed. The fields are taken as they are; UpdateFeed::verify
// applies the rules.
struct UpdateRelease
{
    QString version;
    QString url;
    QString sha256;
    QString notes;
    QString detailsURL;

    bool operator==(const UpdateRelease &) const = default;

    // [major, minor, patch] of a valid version ("1.2.3": no leading zeros, major at least 1,
    // at most 32 characters); nothing otherwise.
    static std::optional<std::array<qint64, 3>> parts(const QString &version);
    // True only when both are valid and a is greater than b.
    static bool newer(const QString &a, const QString &b);
    // The first part of the version; 0 when it is invalid.
    qint64 major() const;

    // The five string keys; nothing when one is missing or not a string.
    static std::optional<UpdateRelease> fromJson(const QJsonObject &object);
    QJsonObject toJson() const;
};
