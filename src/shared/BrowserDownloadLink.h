#pragma once

#include <QString>
#include <QUrl>

#include <optional>

// What counts as a web link, and the application's own "kestro://download" URL, by which
// another program hands over one link without a browser session.
namespace BrowserDownloadLink {

constexpr qsizetype maxLinkBytes = 16384;
constexpr qsizetype maxDownloadURLBytes = 65536;
constexpr qsizetype maxQueryItems = 4;
constexpr qsizetype maxTitleBytes = 512;
constexpr qsizetype maxUserAgentBytes = 1024;

struct Request
{
    QUrl url; // always an acceptable web link
    std::optional<QString> referer; // absolute and fully encoded, without fragment
    std::optional<QString> userAgent;
    std::optional<QString> title;
    bool operator==(const Request &) const = default;
};

// An http or https link with a host and without user or password, at most 16 KiB of UTF-8
// and free of control and format characters. Returns the parsed URL, nothing otherwise.
std::optional<QUrl> webURL(const QString &text);

// Parses the text of a "kestro://download?url=…[&referer=…][&userAgent=…][&title=…]" URL.
// Anything that does not match exactly gives nothing.
std::optional<Request> request(const QString &urlText);
// The link of request(), or nothing.
std::optional<QUrl> target(const QString &urlText);

} // namespace BrowserDownloadLink
