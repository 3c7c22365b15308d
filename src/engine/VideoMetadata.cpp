#include "VideoMetadata.h"

#include <QJsonArray>

using namespace Qt::StringLiterals;

namespace {

std::optional<QString> string(const QJsonObject &object, QLatin1StringView key)
{
    const QJsonValue value = object.value(key);
    return value.isString() ? std::optional(value.toString()) : std::nullopt;
}

std::optional<double> number(const QJsonObject &object, QLatin1StringView key)
{
    const QJsonValue value = object.value(key);
    return value.isDouble() ? std::optional(value.toDouble()) : std::nullopt;
}

std::optional<VideoMetadata::PlaylistEntry> entry(const QJsonObject &element)
{
    std::optional<QString> raw = string(element, "url"_L1);
    if (!raw)
        raw = string(element, "webpage_url"_L1);
    if (!raw)
        raw = string(element, "id"_L1);
    if (!raw)
        return std::nullopt;

    QString url = *raw;
    if (!raw->startsWith(u"http"_s)
        && string(element, "ie_key"_L1).value_or(QString()).toLower().contains(VideoMetadata::watchPageSiteKeyword))
        url = VideoMetadata::watchPagePrefix + *raw;
    return VideoMetadata::PlaylistEntry{url, string(element, "title"_L1).value_or(*raw), number(element, "duration"_L1)};
}

} // namespace

VideoMetadata VideoMetadata::parse(const QJsonObject &document)
{
    VideoMetadata metadata;
    metadata.id = string(document, "id"_L1).value_or(QString());
    metadata.title = string(document, "title"_L1).value_or(QString());
    metadata.site = string(document, "extractor_key"_L1).value_or(string(document, "extractor"_L1).value_or(QString()));
    metadata.webpageURL =
        string(document, "webpage_url"_L1).value_or(string(document, "original_url"_L1).value_or(QString()));
    metadata.thumbnail = string(document, "thumbnail"_L1);
    metadata.duration = number(document, "duration"_L1);

    const QJsonValue entries = document.value("entries"_L1);
    if (!entries.isArray())
        return metadata;
    const QJsonArray elements = entries.toArray();
    if (elements.isEmpty())
        return metadata;
    for (const QJsonValue &element : elements) {
        if (!element.isObject())
            return metadata;
    }
    metadata.isPlaylist = true;
    metadata.playlistTitle = string(document, "title"_L1);
    for (const QJsonValue &element : elements) {
        if (std::optional<PlaylistEntry> parsed = entry(element.toObject()))
            metadata.entries.append(std::move(*parsed));
    }
    return metadata;
}
