// Engine JSON dumps of any shape: the reduction must hold together for every document.
#include "engine/VideoMetadata.h"

#include <QJsonDocument>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QJsonDocument document =
        QJsonDocument::fromJson(QByteArray::fromRawData(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size)));
    if (!document.isObject())
        return 0;
    const VideoMetadata metadata = VideoMetadata::parse(document.object());
    if (!metadata.isPlaylist && (!metadata.entries.isEmpty() || metadata.playlistTitle))
        std::abort();
    if (metadata.playlistTitle && *metadata.playlistTitle != metadata.title)
        std::abort();
    return 0;
}
