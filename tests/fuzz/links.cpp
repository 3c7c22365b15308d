// Arbitrary text as a pasted link and as a download URL: nothing may crash, and whatever is
// accepted must be a web link by every measure, also after writing it out again.
#include "shared/BrowserDownloadLink.h"
#include "shared/BrowserSession.h"

#include <QString>
#include <QUrl>

#include <cstdint>
#include <cstdlib>

using namespace Qt::StringLiterals;

namespace {

void checkWebURL(const QUrl &url)
{
    if (url.scheme() != u"http"_s && url.scheme() != u"https"_s)
        std::abort();
    if (url.host().isEmpty() || !url.userName().isEmpty() || !url.password().isEmpty())
        std::abort();
    // The encoded form is what is handed on (queue, engine); it must pass the same test,
    // unless encoding made it longer than the limit.
    const QString written = url.toString(QUrl::FullyEncoded);
    if (written.toUtf8().size() <= BrowserDownloadLink::maxLinkBytes && !BrowserDownloadLink::webURL(written))
        std::abort();
}

void checkRequest(const QString &text)
{
    const std::optional<BrowserDownloadLink::Request> request = BrowserDownloadLink::request(text);
    if (BrowserDownloadLink::target(text).has_value() != request.has_value())
        std::abort();
    if (!request)
        return;
    if (text.toUtf8().size() > BrowserDownloadLink::maxDownloadURLBytes)
        std::abort();
    const std::optional<QUrl> url = BrowserDownloadLink::webURL(request->url.toString(QUrl::FullyEncoded));
    if (!url)
        std::abort();
    checkWebURL(*url);
    if (request->referer) {
        const std::optional<QUrl> referer = BrowserDownloadLink::webURL(*request->referer);
        if (!referer || referer->hasFragment())
            std::abort();
    }
    if (request->title && (request->title->isEmpty() || !BrowserSession::text(*request->title, BrowserDownloadLink::maxTitleBytes)))
        std::abort();
    if (request->userAgent
        && (request->userAgent->isEmpty() || !BrowserSession::text(*request->userAgent, BrowserDownloadLink::maxUserAgentBytes)))
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    if (const std::optional<QUrl> url = BrowserDownloadLink::webURL(text))
        checkWebURL(*url);
    checkRequest(text);
    // Most inputs never get past the scheme; this one reaches the query items.
    checkRequest(u"kestro://download?"_s + text);
    return 0;
}
