#include "engine/VideoMetadata.h"

#include <QJsonDocument>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

VideoMetadata parse(const char *json)
{
    const QJsonDocument document = QJsonDocument::fromJson(json);
    EXPECT_TRUE(document.isObject()) << json;
    return VideoMetadata::parse(document.object());
}

} // namespace

TEST(VideoMetadata, SingleVideoFieldsHonourJsonTypes)
{
    struct Case
    {
        const char *json;
        VideoMetadata expected;
    };
    const Case cases[] = {
        {R"({"id":"a1","title":"T","extractor":"generic","extractor_key":"Generic","webpage_url":"https://x/a",
             "original_url":"https://x/o","thumbnail":"https://x/t.jpg","duration":12.5})",
         {u"a1"_s, u"T"_s, u"Generic"_s, u"https://x/a"_s, u"https://x/t.jpg"_s, 12.5, false, {}, {}}},
        {R"({"extractor":"generic","original_url":"https://x/o","duration":30})",
         {{}, {}, u"generic"_s, u"https://x/o"_s, {}, 30.0, false, {}, {}}},
        {R"({"id":7,"title":null,"extractor_key":["x"],"webpage_url":1,"thumbnail":false,"duration":"12"})",
         {}},
        {R"({"title":"Only"})", {{}, u"Only"_s, {}, {}, {}, {}, false, {}, {}}},
    };
    for (const Case &c : cases)
        EXPECT_EQ(parse(c.json), c.expected) << c.json;
}

TEST(VideoMetadata, PlaylistEntries)
{
    const VideoMetadata playlist = parse(R"({
        "id":"PL1","title":"My list","extractor_key":"YoutubeTab",
        "entries":[
          {"url":"abc123","ie_key":"Youtube","title":"First","duration":61},
          {"url":"xyz","ie_key":"Vimeo"},
          {"url":"https://example.com/v/3","ie_key":"Youtube","title":"Third"},
          {"webpage_url":"https://example.com/w/4","url":5},
          {"id":"id5","ie_key":"YOUTUBE"},
          {"title":"no link"}
        ]})");
    EXPECT_TRUE(playlist.isPlaylist);
    EXPECT_EQ(playlist.title, u"My list"_s);
    EXPECT_EQ(playlist.playlistTitle, u"My list"_s);
    const QList<VideoMetadata::PlaylistEntry> expected = {
        {u"https://www.youtube.com/watch?v=abc123"_s, u"First"_s, 61.0},
        {u"xyz"_s, u"xyz"_s, std::nullopt},
        {u"https://example.com/v/3"_s, u"Third"_s, std::nullopt},
        {u"https://example.com/w/4"_s, u"https://example.com/w/4"_s, std::nullopt},
        {u"https://www.youtube.com/watch?v=id5"_s, u"id5"_s, std::nullopt},
    };
    EXPECT_EQ(playlist.entries, expected);
}

TEST(VideoMetadata, EntriesThatDoNotMakeAPlaylist)
{
    for (const char *json : {R"({"title":"T","entries":[]})", R"({"title":"T","entries":[{"url":"a"},null]})",
                             R"({"title":"T","entries":{"url":"a"}})", R"({"title":"T","entries":["a"]})"}) {
        const VideoMetadata metadata = parse(json);
        EXPECT_FALSE(metadata.isPlaylist) << json;
        EXPECT_FALSE(metadata.playlistTitle) << json;
        EXPECT_TRUE(metadata.entries.isEmpty()) << json;
    }
    // Every entry skipped: still a playlist, with nothing in it.
    const VideoMetadata skipped = parse(R"({"entries":[{"title":"a"},{"duration":3}]})");
    EXPECT_TRUE(skipped.isPlaylist);
    EXPECT_TRUE(skipped.entries.isEmpty());
    EXPECT_FALSE(skipped.playlistTitle);
}
