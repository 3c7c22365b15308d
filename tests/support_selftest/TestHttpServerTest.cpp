#include "TestHttpServer.h"

#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QSignalSpy>

#include <gtest/gtest.h>

namespace {

struct Reply
{
    int status = 0;
    QByteArray body;
    QByteArray contentRange;
    qint64 contentLength = -1;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
};

Reply fetch(const QString &url, const QByteArray &verb = "GET", const QList<QPair<QByteArray, QByteArray>> &headers = {})
{
    QNetworkAccessManager manager;
    manager.setProxy(QNetworkProxy::NoProxy);
    QNetworkRequest request{QUrl(url)};
    for (const auto &[name, value] : headers)
        request.setRawHeader(name, value);
    QNetworkReply *reply = manager.sendCustomRequest(request, verb);
    QSignalSpy finished(reply, &QNetworkReply::finished);
    EXPECT_TRUE(finished.wait(20000)) << qPrintable(url);
    Reply out;
    out.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    out.body = reply->readAll();
    out.contentRange = reply->rawHeader("Content-Range");
    if (reply->hasRawHeader("Content-Length"))
        out.contentLength = reply->rawHeader("Content-Length").toLongLong();
    out.error = reply->error();
    delete reply;
    return out;
}

class TestHttpServerTest : public ::testing::Test
{
protected:
    void SetUp() override { ASSERT_TRUE(server.start()); }
    TestHttpServer server;
};

TEST_F(TestHttpServerTest, AnswersRangesAndUnknownPaths)
{
    const qint64 size = 3 * 1024 * 1024 + 17;  // several chunks, not a multiple of the pattern
    server.addGenerated(QStringLiteral("/big.mp4"), size);
    server.addFile(QStringLiteral("/small.txt"), "hello world");
    server.addStatus(QStringLiteral("/forbidden"), 403);

    struct Case
    {
        const char *path;
        QByteArray range;
        int status;
        QByteArray body;
        QByteArray contentRange;
    };
    const Case cases[] = {
        {"/big.mp4", {}, 200, TestHttpServer::generatedContent(0, size), {}},
        {"/big.mp4", "bytes=1000000-", 206, TestHttpServer::generatedContent(1000000, size - 1000000),
         "bytes 1000000-" + QByteArray::number(size - 1) + '/' + QByteArray::number(size)},
        {"/small.txt", "bytes=6-", 206, "world", "bytes 6-10/11"},
        {"/small.txt", "bytes=2-4", 206, "llo", "bytes 2-4/11"},
        {"/small.txt", "bytes=11-", 416, {}, "bytes */11"},
        {"/small.txt", "bytes=x-", 200, "hello world", {}},
        {"/small.txt?query=ignored", {}, 200, "hello world", {}},
        {"/missing", {}, 404, "not found\n", {}},
        {"/forbidden", {}, 403, "Forbidden\n", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.path) + " " + c.range.toStdString());
        QList<QPair<QByteArray, QByteArray>> headers;
        if (!c.range.isEmpty())
            headers.append({"Range", c.range});
        const Reply reply = fetch(server.url(QString::fromUtf8(c.path)), "GET", headers);
        EXPECT_EQ(reply.status, c.status);
        EXPECT_TRUE(reply.body == c.body) << "body of " << reply.body.size() << " bytes";
        EXPECT_EQ(reply.contentRange, c.contentRange);
    }
}

TEST_F(TestHttpServerTest, HeadSendsLengthWithoutBodyAndOtherMethodsAreRefused)
{
    server.addGenerated(QStringLiteral("/video.mp4"), 5000);
    const Reply head = fetch(server.url(QStringLiteral("/video.mp4")), "HEAD");
    EXPECT_EQ(head.status, 200);
    EXPECT_EQ(head.contentLength, 5000);
    EXPECT_TRUE(head.body.isEmpty());
    EXPECT_EQ(fetch(server.url(QStringLiteral("/video.mp4")), "POST").status, 405);
}

TEST_F(TestHttpServerTest, LogsRequestsWithLowerCaseHeaderNames)
{
    server.addFile(QStringLiteral("/a b/é.txt"), "x");
    QSignalSpy received(&server, &TestHttpServer::requestReceived);
    // Routes match the decoded path; the log keeps what was sent.
    const Reply reply = fetch(server.url(QStringLiteral("/a%20b/%C3%A9.txt?k=v")), "GET",
                              {{"X-Custom-Header", "One"}, {"Referer", "http://example.test/page"}});
    EXPECT_EQ(reply.status, 200);
    ASSERT_EQ(server.requests().size(), 1);
    const TestHttpServer::Request request = server.requests().first();
    EXPECT_EQ(request.method, "GET");
    EXPECT_EQ(request.path, QStringLiteral("/a%20b/%C3%A9.txt?k=v"));
    EXPECT_EQ(request.headers.value("x-custom-header"), "One");
    EXPECT_EQ(request.header("Referer"), "http://example.test/page");
    EXPECT_EQ(server.requests(QStringLiteral("/a%20b/%C3%A9.txt")).size(), 1);
    EXPECT_EQ(received.size(), 1);
}

TEST_F(TestHttpServerTest, ThrottleSlowsTheBodyAndCutEndsItEarly)
{
    server.addGenerated(QStringLiteral("/slow"), 100 * 1024);
    server.setThrottle(QStringLiteral("/slow"), 200 * 1024);
    server.addGenerated(QStringLiteral("/cut"), 100 * 1024);
    server.setCutAfter(QStringLiteral("/cut"), 1000);

    QElapsedTimer clock;
    clock.start();
    const Reply slow = fetch(server.url(QStringLiteral("/slow")));
    EXPECT_GE(clock.elapsed(), 350);  // half a second at the set rate
    EXPECT_TRUE(slow.body == TestHttpServer::generatedContent(0, 100 * 1024));

    const Reply cut = fetch(server.url(QStringLiteral("/cut")));
    EXPECT_NE(cut.error, QNetworkReply::NoError);
    EXPECT_LE(cut.body.size(), 1000);
}

TEST(TestHttpServerContent, GeneratedContentIsTheSameFromAnyOffset)
{
    const QByteArray whole = TestHttpServer::generatedContent(0, 1000);
    EXPECT_EQ(static_cast<unsigned char>(whole[0]), 7);
    EXPECT_EQ(static_cast<unsigned char>(whole[9]), (9 * 31 + 7) & 0xff);
    EXPECT_EQ(TestHttpServer::generatedContent(300, 500), whole.mid(300, 500));
    EXPECT_EQ(TestHttpServer::generatedContent(0xffffffffLL + 1, 3), TestHttpServer::generatedContent(0, 3));
}

} // namespace
