#pragma once

#include "engine/DownloadOptions.h"

#include <QString>
#include <QStringList>

#include <optional>

// Turns a download request into the engine's exact argument list.
class CommandBuilder
{
public:
    static constexpr QStringView downloadProgressTemplate =
        u"download:[KTPROG]%(progress.status)s|%(progress.downloaded_bytes)s|%(progress.total_bytes)s|"
        u"%(progress.total_bytes_estimate)s|%(progress.speed)s|%(progress.eta)s|"
        u"%(progress.fragment_index)s|%(progress.fragment_count)s";
    static constexpr QStringView postprocessProgressTemplate = u"postprocess:[KTPOST]%(progress.status)s";
    static constexpr QStringView sessionGuardPostprocessor = u"KestroSessionGuard";
    // Names inside a download's temporary folder.
    static constexpr QStringView completeFolderName = u"complete";
    static constexpr QStringView outputListName = u"output.jsonl";

    // `canImpersonate`: the engine has the "chrome" impersonation target; without it a run
    // that asks for impersonation stops before its first request, so it is never asked.
    CommandBuilder(const QString &toolsDirectory, const QString &pluginsDirectory, bool canImpersonate);

    QStringList runtimeArguments() const;
    QStringList networkArguments(const QString &url, const QString &cookiesBrowser,
                                 const std::optional<QString> &referer,
                                 const std::optional<QString> &userAgent) const;
    // Empty without a session cookie file.
    QStringList sessionArguments(const std::optional<QString> &sessionCookieFile) const;

    // Whether the engine's "--list-impersonate-targets" table has a usable chrome target.
    static bool listsChromeTarget(const QString &table);

    // A template that keeps the engine inside its folder: relative, not "-", no "..".
    static bool isAcceptedTemplate(const QString &filenameTemplate);
    // The full list; the template must have been checked when a temporary folder is set.
    QStringList downloadArguments(const DownloadOptions &options,
                                  const std::optional<QString> &sessionCookieFile = std::nullopt) const;

private:
    QString m_toolsDirectory;
    QString m_pluginsDirectory;
    bool m_canImpersonate = false;
};
