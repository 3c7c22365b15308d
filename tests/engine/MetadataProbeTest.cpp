#include "engine/YtDlpService.h"
#include "EngineDouble.h"
#include "SessionSamples.h"
#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include <QDir>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class MetadataProbeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        const QString bundle = TestEnvironment::root() + u"/Brisvane Download"_s;
        EngineDouble::makeBundle(bundle);
        startLog = EngineDouble::enableStartLog();
        ASSERT_TRUE(server.start());
        service = std::make_unique<YtDlpService>(bundle);
        service->locateBinaries(QString(), false);
    }

    std::unique_ptr<MetadataProbe> probe(const MetadataProbe::Query &query)
    {
        std::unique_ptr<MetadataProbe> probe(service->fetchMetadata(query));
        EXPECT_TRUE(TestEnvironment::waitFor([&] { return probe->isFinished(); }));
        return probe;
    }

    QStringList sessionFolders() const
    {
        return QDir(QDir::tempPath()).entryList({u"kestro-session-*"_s}, QDir::Dirs);
    }

    QString startLog;
    TestHttpServer server;
    std::unique_ptr<YtDlpService> service;
};


} // namespace

TEST_F(MetadataProbeTest, SingleVideoAndFlatPlaylist)
{
    server.addGenerated(u"/media/clip.mp4"_s, 100);
    const std::unique_ptr<MetadataProbe> single = probe({server.url(u"/media/clip.mp4"_s)});
    ASSERT_TRUE(single->metadata()) << single->error().toStdString();
    EXPECT_FALSE(single->metadata()->isPlaylist);
    EXPECT_EQ(single->metadata()->title, u"clip"_s);

    server.addFile(u"/list"_s, R"({"id":"PL","title":"List","extractor_key":"YoutubeTab","entries":[
        {"url":"v1","ie_key":"Youtube","title":"One"},{"url":"https://example.com/2","duration":3}]})",
                   "application/json");
    const std::unique_ptr<MetadataProbe> list = probe({server.url(u"/list"_s)});
    ASSERT_TRUE(list->metadata()) << list->error().toStdString();
    EXPECT_TRUE(list->metadata()->isPlaylist);
    ASSERT_EQ(list->metadata()->entries.size(), 2);
    EXPECT_EQ(list->metadata()->entries[0].url, u"https://www.youtube.com/watch?v=v1"_s);

    const QStringList arguments = EngineDouble::arguments(EngineDouble::starts(startLog).last());
    const qsizetype at = arguments.indexOf(u"-J"_s);
    ASSERT_GE(at, 7);
    EXPECT_EQ(arguments.mid(at), (QStringList{u"-J"_s, u"--no-warnings"_s, u"--socket-timeout"_s, u"20"_s,
                                              u"--flat-playlist"_s, u"--"_s, server.url(u"/list"_s)}));
}

TEST_F(MetadataProbeTest, Failures)
{
    server.addFile(u"/array"_s, "[1,2]", "application/json");
    server.addFile(u"/broken"_s, "{\"id\":", "application/json");
    struct Case
    {
        QString path;
        QString error;
    };
    const Case cases[] = {
        {u"/fail/x"_s, u"ERROR: [generic] Unsupported URL: "_s + server.url(u"/fail/x"_s)},
        {u"/echo-stderr/x?text=&exit=1"_s, u"解析失败"_s},
        {u"/array"_s, u"无法解析 yt-dlp 输出"_s},
        {u"/broken"_s, QString()},
    };
    for (const Case &c : cases) {
        const std::unique_ptr<MetadataProbe> result = probe({server.url(c.path)});
        EXPECT_FALSE(result->metadata()) << c.path.toStdString();
        EXPECT_FALSE(result->error().isEmpty()) << c.path.toStdString();
        if (!c.error.isEmpty()) {
            EXPECT_EQ(result->error(), c.error);
        }
    }

    YtDlpService unchecked(TestEnvironment::root() + u"/Brisvane Download"_s);
    std::unique_ptr<MetadataProbe> noEngine(unchecked.fetchMetadata({server.url(u"/media/a.mp4"_s)}));
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return noEngine->isFinished(); }));
    EXPECT_EQ(noEngine->error(), u"下载引擎不可用，请检查内置组件或自定义引擎路径。"_s);
}

TEST_F(MetadataProbeTest, SessionSecretsNeverReachTheCaller)
{
    const QString url = server.url(u"/echo-stderr/x?text=cookie-value-42%20Bearer%20auth-token-7%20Agent/1&exit=1"_s);
    MetadataProbe::Query query{url};
    query.cookiesBrowser = u"firefox"_s;
    query.session = secretSession(url);
    const std::unique_ptr<MetadataProbe> result = probe(query);
    EXPECT_EQ(result->error(), u"[已隐藏凭据] [已隐藏凭据] Agent/1"_s);
    EXPECT_TRUE(sessionFolders().isEmpty());

    const QJsonObject start = EngineDouble::starts(startLog).last();
    const QStringList arguments = EngineDouble::arguments(start);
    EXPECT_FALSE(arguments.contains(u"--cookies-from-browser"_s));
    EXPECT_TRUE(arguments.contains(u"--use-postprocessor"_s));
    EXPECT_TRUE(start.value(u"env_session"_s).toString().endsWith(u"/headers.json"_s));
}

TEST_F(MetadataProbeTest, CancelledProbeEndsWithoutResultAndCleansUp)
{
    const QString url = server.url(u"/hang/x"_s);
    MetadataProbe::Query query{url};
    query.session = secretSession(url);
    std::unique_ptr<MetadataProbe> hanging(service->fetchMetadata(query));
    // The engine check's two queries, then the probe.
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return EngineDouble::starts(startLog).size() == 3; }));
    EXPECT_EQ(sessionFolders().size(), 1);
    hanging->cancel();
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return hanging->isFinished(); }));
    EXPECT_TRUE(hanging->isCanceled());
    EXPECT_FALSE(hanging->metadata());
    EXPECT_TRUE(hanging->error().isEmpty());
    EXPECT_TRUE(sessionFolders().isEmpty());
}
