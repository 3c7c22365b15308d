#include "app/ThumbnailCache.h"

#include "TestEnvironment.h"
#include "TestHttpServer.h"

#include <QBuffer>
#include <QImage>
#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

QByteArray png(const QSize &size, const QColor &color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    return bytes;
}

} // namespace

TEST(ThumbnailCache, FetchesEachUrlOnce)
{
    TestHttpServer server;
    ASSERT_TRUE(server.start());
    server.addFile(u"/thumb.png"_s, png(QSize(320, 180), Qt::red), "image/png");
    ThumbnailCache cache;
    QSignalSpy ready(&cache, &ThumbnailCache::ready);
    const QUrl url(server.url(u"/thumb.png"_s));
    EXPECT_TRUE(cache.request(url).isNull());
    EXPECT_TRUE(cache.request(url).isNull()) << "a second card while the first fetch runs";
    ASSERT_TRUE(ready.wait());
    EXPECT_FALSE(cache.request(url).isNull());
    EXPECT_EQ(cache.image(url).size(), QSize(320, 180));
    EXPECT_EQ(server.requests(u"/thumb.png"_s).size(), 1);
    EXPECT_EQ(cache.fetchCount(), 1);
}

TEST(ThumbnailCache, FailuresAreSilentAndNotRetried)
{
    TestHttpServer server;
    ASSERT_TRUE(server.start());
    server.addFile(u"/broken.png"_s, "not an image", "image/png");
    server.addStatus(u"/missing.png"_s, 404);
    ThumbnailCache cache;
    for (const QString path : {u"/broken.png"_s, u"/missing.png"_s}) {
        const QUrl url(server.url(path));
        cache.request(url);
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return !cache.isFetching(url); }));
        EXPECT_TRUE(cache.request(url).isNull());
        EXPECT_EQ(server.requests(path).size(), 1) << path.toStdString();
    }
    EXPECT_TRUE(cache.request(QUrl(u"file:///etc/passwd"_s)).isNull()) << "only web thumbnails are fetched";
    EXPECT_EQ(cache.fetchCount(), 2);
}

TEST(ThumbnailCache, BackgroundIsMadeOncePerSizeAndDarkened)
{
    ThumbnailCache cache;
    const QUrl url(u"https://img.example/1.jpg"_s);
    EXPECT_TRUE(cache.background(url, QSize(700, 132)).isNull()) << "nothing before the image is there";
    cache.store([] {
        QImage image(2000, 1000, QImage::Format_RGB32);
        image.fill(Qt::white);
        return image;
    }(), url);
    EXPECT_EQ(cache.image(url).width(), ThumbnailCache::maxKeptWidth) << "large pictures are kept smaller";
    const QImage first = cache.background(url, QSize(700, 132));
    ASSERT_EQ(first.size(), QSize(700, 132));
    EXPECT_EQ(cache.background(url, QSize(700, 132)).cacheKey(), first.cacheKey());
    EXPECT_NE(cache.background(url, QSize(500, 132)).cacheKey(), first.cacheKey());
    // White under black at 45 %: about 140 in every channel.
    const QColor centre = first.pixelColor(350, 66);
    EXPECT_NEAR(centre.red(), 140, 3);
}
