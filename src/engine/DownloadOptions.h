#pragma once

#include "shared/BrowserSession.h"

#include <QString>
#include <QStringList>

#include <optional>

// The one description of a download run, copied into the job that runs it.
struct DownloadOptions
{
    QString url;
    QString formatSelector;
    QString outputDir;
    QString filenameTemplate;
    bool audioOnly = false;
    QString audioFormat;
    bool forceMP4 = false;
    bool subtitles = false;
    QString subtitleLangs;
    bool embedMetadata = false;
    QString cookiesBrowser = QStringLiteral("none");
    QStringList extraArgs;
    std::optional<QString> referer;
    std::optional<QString> userAgent;
    // Cookies and headers handed over from the browser; never read from the browser's own store then.
    std::optional<BrowserSession> session;
    int concurrentFragments = 8;
    // When set, the engine works in this private folder and finished files are published afterwards.
    std::optional<QString> temporaryDirectory;
};
