#pragma once

#include <QString>

#include <optional>

class DownloadManager;

// What the application does with a "kestro:" URL that another program opened: connect the
// browser extension, import a browser transfer from the inbox, or queue one plain link.
namespace ExternalUrlHandler {

struct Outcome
{
    // The invalid-link alert is due.
    bool invalidLink = false;
    // The text of the browser-connection alert, when one is due.
    std::optional<QString> connectionMessage;
    // The application should come to the front.
    bool activate = false;
    bool operator==(const Outcome &) const = default;
};

// The first matching form wins: connect, import, then download; anything else is an invalid
// link. Registration uses the bundle at `bundlePath`, imports the inbox folder `inbox`.
Outcome handle(const QString &url, DownloadManager &manager, const QString &bundlePath, const QString &inbox);

} // namespace ExternalUrlHandler
