#pragma once

#include "shared/BrowserSession.h"

#include <QByteArray>
#include <QString>

#include <optional>

// One link handed over by the browser extension, with its page and the browser session for
// that page. The inbox keeps the bytes the extension sent; this is only their checked reading.
class BrowserTransfer
{
public:
    static constexpr qsizetype maxBytes = 1048576;
    static constexpr qsizetype maxTitleBytes = 512;

    QString url;
    QString page;
    std::optional<QString> title;
    BrowserSession session;

    // Throws BrowserSession::SessionError for oversized input, a bad title or a session that
    // fails validation, and DecodingError for text that is not JSON or lacks the fields and
    // types. Nothing is trimmed or repaired.
    static BrowserTransfer decode(const QByteArray &data);
    // Compact JSON with the same keys; "title" only when present.
    QByteArray toJson() const;
};
