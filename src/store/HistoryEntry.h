#pragma once

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUuid>

#include <optional>

// One finished download as the history keeps it.
struct HistoryEntry
{
    QUuid id;
    QString url;
    QString title;
    QString site;
    QString resolution;
    QString ext;
    std::optional<QString> filePath;
    std::optional<QString> thumbnailURL;
    QDateTime finishedAt; // UTC, whole seconds

    bool operator==(const HistoryEntry &) const = default;

    // The id in upper case and the date as "2026-03-01T08:15:00Z"; absent optionals have no key.
    QJsonObject toJson() const;
    // Strict: every required key with its JSON type, an 8-4-4-4-12 id and a whole-second UTC
    // date, or nothing. A null optional counts as absent; unknown keys are ignored.
    static std::optional<HistoryEntry> fromJson(const QJsonValue &value);

    static QString formatDate(const QDateTime &date);
    static std::optional<QDateTime> parseDate(const QString &text);
};
