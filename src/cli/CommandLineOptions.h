#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What kestro-dl was asked to do. Options apply to this run only.
struct CommandLineOptions
{
    std::optional<int> quality;          // 0 best, a height, -1 audio only
    std::optional<QString> audioFormat;
    std::optional<QString> outputDir;    // absolute
    QStringList urls;
    bool help = false;
    bool serve = false;                  // answer agent requests until stopped

    // The options, or the reason they are not usable.
    static std::optional<CommandLineOptions> parse(const QStringList &arguments, const QString &workingDirectory,
                                                   QString *error);
    static QString usage();
};
