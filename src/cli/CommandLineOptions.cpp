#include "CommandLineOptions.h"

#include <QDir>

using namespace Qt::StringLiterals;

namespace {

const QStringList audioFormats{u"mp3"_s, u"m4a"_s, u"flac"_s, u"opus"_s};

std::optional<int> parseQuality(const QString &text)
{
    if (text == u"best"_s)
        return 0;
    if (text == u"audio"_s)
        return -1;
    bool ok = false;
    const int height = text.toInt(&ok);
    if (!ok || height <= 0 || height > 100000 || text.startsWith(u'+'))
        return std::nullopt;
    return height;
}

} // namespace

QString CommandLineOptions::usage()
{
    return u"usage: kestro-dl [--quality N|best|audio] [--audio-format mp3|m4a|flac|opus] [--dir PATH] URL...\n"
           "       kestro-dl --serve [--quality N|best|audio] [--audio-format mp3|m4a|flac|opus] [--dir PATH]\n"
           "\n"
           "Downloads each link with the queue, settings and history of Brisvane Download.\n"
           "Options apply to this run only; stored settings are not changed.\n"
           "Exit status: 0 when every download finished, 1 when any failed, 2 for bad arguments,\n"
           "130 after Ctrl-C (running downloads are paused, partial files kept).\n"
           "\n"
           "--serve runs the queue without a window and answers AI agents (the MCP server\n"
           "KestroMCP) until SIGTERM or Ctrl-C; running downloads are then paused and it exits 0.\n"_s;
}

std::optional<CommandLineOptions> CommandLineOptions::parse(const QStringList &arguments,
                                                            const QString &workingDirectory, QString *error)
{
    CommandLineOptions options;
    bool onlyLinks = false;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (onlyLinks || !argument.startsWith(u'-')) {
            options.urls.append(argument);
            continue;
        }
        if (argument == u"--"_s) {
            onlyLinks = true;
            continue;
        }
        if (argument == u"-h"_s || argument == u"--help"_s) {
            options.help = true;
            continue;
        }
        if (argument == u"--serve"_s) {
            options.serve = true;
            continue;
        }
        // "--name value" or "--name=value".
        QString name = argument;
        std::optional<QString> value;
        if (const qsizetype equals = argument.indexOf(u'='); equals > 0) {
            name = argument.left(equals);
            value = argument.mid(equals + 1);
        }
        if (name != u"--quality"_s && name != u"--audio-format"_s && name != u"--dir"_s) {
            *error = u"unknown option: "_s + argument;
            return std::nullopt;
        }
        if (!value) {
            if (i + 1 >= arguments.size()) {
                *error = u"missing value for "_s + name;
                return std::nullopt;
            }
            value = arguments[++i];
        }
        if (name == u"--quality"_s) {
            options.quality = parseQuality(*value);
            if (!options.quality) {
                *error = u"--quality takes a height in pixels, best or audio, not: "_s + *value;
                return std::nullopt;
            }
        } else if (name == u"--audio-format"_s) {
            if (!audioFormats.contains(*value)) {
                *error = u"--audio-format takes one of "_s + audioFormats.join(u", "_s) + u", not: "_s + *value;
                return std::nullopt;
            }
            options.audioFormat = *value;
        } else {
            if (value->isEmpty()) {
                *error = u"--dir needs a folder"_s;
                return std::nullopt;
            }
            options.outputDir = QDir::cleanPath(QDir(workingDirectory).absoluteFilePath(*value));
        }
    }
    if (options.serve && !options.urls.isEmpty()) {
        *error = u"--serve takes no links; agents add them"_s;
        return std::nullopt;
    }
    if (!options.help && !options.serve && options.urls.isEmpty()) {
        *error = u"no link given"_s;
        return std::nullopt;
    }
    return options;
}
