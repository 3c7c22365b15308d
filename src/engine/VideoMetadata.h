#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

#include <optional>

// What the engine's JSON dump says about a link, reduced to what the queue shows.
struct VideoMetadata
{
    struct PlaylistEntry
    {
        QString url;
        QString title;
        std::optional<double> duration;
        bool operator==(const PlaylistEntry &) const = default;
    };

    QString id;
    QString title;
    QString site;
    QString webpageURL;
    std::optional<QString> thumbnail;
    std::optional<double> duration;
    bool isPlaylist = false;
    std::optional<QString> playlistTitle;
    QList<PlaylistEntry> entries;

    bool operator==(const VideoMetadata &) const = default;

    // Values count only with their JSON type; anything else counts as absent.
    static VideoMetadata parse(const QJsonObject &document);

    // Bare video identifiers of this site's playlists become links to its watch page.
    static constexpr QStringView watchPagePrefix = u"https://www.youtube.com/watch?v=";
    static constexpr QStringView watchPageSiteKeyword = u"youtube";
};
