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

    // The program's arguments after its name; nothing when one is not valid UTF-8 (a folder
    // decoded with replacement characters would be another folder).
    static std::optional<QStringList> decodeArguments(int argc, const char *const *argv, QString *error);
    // Why a link is not downloaded, or nothing when it is an acceptable web link.
    static std::optional<QString> refusal(const QString &link);
    // A link as it may be shown on a terminal: control characters escaped, no password, cut short.
    static QString printable(const QString &link);
};
