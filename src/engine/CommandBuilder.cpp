#include "CommandBuilder.h"

#include <QUrl>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

// Sites whose pages answer only a browser-like client.
constexpr QStringView impersonationSites[] = {
    u"vimeo.com", u"vimeo.net", u"vimeo.org",
    u"tiktok.com", u"tiktok.net", u"tiktok.org",
};

} // namespace

CommandBuilder::CommandBuilder(const QString &toolsDirectory, const QString &pluginsDirectory, bool canImpersonate)
    : m_toolsDirectory(toolsDirectory)
    , m_pluginsDirectory(pluginsDirectory)
    , m_canImpersonate(canImpersonate)
{
}

bool CommandBuilder::listsChromeTarget(const QString &table)
{
    // Rows follow a line of dashes: client (e.g. "Chrome-131"), OS, source; a target whose
    // HTTP client is missing has a source ending in "(unavailable)".
    bool inRows = false;
    for (const QString &line : table.split(u'\n')) {
        const QString row = line.trimmed();
        if (!inRows) {
            inRows = row.startsWith(u"---"_s);
            continue;
        }
        const QString client = row.section(u' ', 0, 0, QString::SectionSkipEmpty).toLower();
        if ((client == u"chrome"_s || client.startsWith(u"chrome-"_s)) && !row.endsWith(u"(unavailable)"_s))
            return true;
    }
    return false;
}

QStringList CommandBuilder::runtimeArguments() const
{
    return {
        u"--ignore-config"_s,
        u"--no-plugin-dirs"_s,
        u"--no-js-runtimes"_s,
        u"--js-runtimes"_s,
        u"deno:"_s + m_toolsDirectory + u"/deno"_s,
        u"--ffmpeg-location"_s,
        m_toolsDirectory,
    };
}

QStringList CommandBuilder::networkArguments(const QString &url, const QString &cookiesBrowser,
                                             const std::optional<QString> &referer,
                                             const std::optional<QString> &userAgent) const
{
    QStringList arguments;
    if (cookiesBrowser != u"none"_s)
        arguments << u"--cookies-from-browser"_s << cookiesBrowser;
    if (referer)
        arguments << u"--referer"_s << *referer;
    if (userAgent)
        arguments << u"--user-agent"_s << *userAgent;

    // The same tolerant parse that accepted the link into the queue.
    const QUrl parsed(url);
    const QString host = parsed.isValid() ? parsed.host().toLower() : QString();
    if (m_canImpersonate && !host.isEmpty()) {
        for (const QStringView site : impersonationSites) {
            if (host == site || (host.endsWith(site) && host[host.size() - site.size() - 1] == u'.')) {
                arguments << u"--impersonate"_s << u"chrome"_s;
                break;
            }
        }
    }
    return arguments;
}

QStringList CommandBuilder::sessionArguments(const std::optional<QString> &sessionCookieFile) const
{
    if (!sessionCookieFile)
        return {};
    QStringList arguments{
        u"--plugin-dirs"_s, m_pluginsDirectory,
        u"--use-postprocessor"_s, sessionGuardPostprocessor.toString(),
        u"--cookies"_s, *sessionCookieFile,
    };
    if (m_canImpersonate)
        arguments << u"--impersonate"_s << u"chrome"_s;
    return arguments;
}

bool CommandBuilder::isAcceptedTemplate(const QString &filenameTemplate)
{
    if (filenameTemplate.isEmpty() || filenameTemplate == u"-"_s || filenameTemplate.startsWith(u'/')
        || filenameTemplate.startsWith(u'~'))
        return false;
    const QStringList pieces = filenameTemplate.split(u'/', Qt::SkipEmptyParts);
    return !pieces.contains(u".."_s);
}

QStringList CommandBuilder::downloadArguments(const DownloadOptions &options,
                                              const std::optional<QString> &sessionCookieFile) const
{
    const bool staged = options.temporaryDirectory.has_value();
    const QString home = staged ? *options.temporaryDirectory + u'/' + completeFolderName : options.outputDir;
    const QString outputTemplate = staged ? u"./"_s + options.filenameTemplate : options.filenameTemplate;
    const int fragments = std::clamp(options.concurrentFragments, 1, 16);

    QStringList arguments = runtimeArguments();
    arguments << networkArguments(options.url, sessionCookieFile ? u"none"_s : options.cookiesBrowser,
                                  options.referer, options.userAgent);
    arguments << sessionArguments(sessionCookieFile);
    arguments << u"--newline"_s << u"--no-color"_s
              << u"--progress-template"_s << downloadProgressTemplate.toString()
              << u"--progress-template"_s << postprocessProgressTemplate.toString()
              << u"-f"_s << options.formatSelector
              << u"-P"_s << u"home:"_s + home
              << u"-o"_s << outputTemplate
              << u"--no-playlist"_s << u"--windows-filenames"_s << u"--continue"_s
              << u"--retries"_s << u"10"_s << u"--fragment-retries"_s << u"10"_s
              // Without a pause the retries are spent within a fraction of a second, so a
              // short outage of the server would fail the download.
              << u"--retry-sleep"_s << u"http:exp=1:30"_s << u"--retry-sleep"_s << u"fragment:exp=1:30"_s
              << u"--concurrent-fragments"_s << QString::number(fragments);
    if (staged) {
        const QString outputList = *options.temporaryDirectory + u'/' + outputListName;
        arguments << u"-P"_s << u"temp:"_s + *options.temporaryDirectory
                  << u"--no-simulate"_s << u"--no-quiet"_s << u"--progress"_s
                  << u"--print-to-file"_s << u"after_move:%(filepath)j"_s
                  << QString(outputList).replace(u"%"_s, u"%%"_s);
    }
    if (options.audioOnly)
        arguments << u"-x"_s << u"--audio-format"_s << options.audioFormat << u"--audio-quality"_s << u"0"_s;
    else if (options.forceMP4)
        arguments << u"--merge-output-format"_s << u"mp4"_s << u"--remux-video"_s << u"mp4"_s;
    if (options.subtitles)
        arguments << u"--write-subs"_s << u"--write-auto-subs"_s << u"--sub-langs"_s << options.subtitleLangs
                  << u"--convert-subs"_s << u"srt"_s;
    if (options.embedMetadata)
        arguments << u"--embed-metadata"_s;
    arguments << options.extraArgs;
    arguments << u"--"_s << options.url;
    return arguments;
}
