#include "CommandLineOptions.h"

#include "cli/OutputStream.h"
#include "shared/BrowserDownloadLink.h"

#include <QDir>
#include <QFileInfo>
#include <QStringDecoder>
#include <QUrl>

#include <algorithm>

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

// Why a folder cannot take downloads: something on its path that is not a folder.
std::optional<QString> folderProblem(const QString &path)
{
    for (QString candidate = path; !candidate.isEmpty(); candidate = QFileInfo(candidate).path()) {
        const QFileInfo info(candidate);
        if (info.exists() || info.isSymLink()) {
            if (info.isDir())
                return std::nullopt;
            return candidate == path ? u"--dir names a file, not a folder: "_s + path
                                     : u"--dir lies below a file: "_s + candidate;
        }
        if (candidate == u"/"_s)
            break;
    }
    return std::nullopt;
}

} // namespace

std::optional<QStringList> CommandLineOptions::decodeArguments(int argc, const char *const *argv, QString *error)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i) {
        QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
        QString text = decoder.decode(QByteArrayView(argv[i]));
        if (decoder.hasError()) {
            *error = u"argument "_s + QString::number(i) + u" is not valid UTF-8"_s;
            return std::nullopt;
        }
        arguments.append(std::move(text));
    }
    return arguments;
}

std::optional<QString> CommandLineOptions::refusal(const QString &link)
{
    const QString text = link.trimmed();
    if (BrowserDownloadLink::webURL(text))
        return std::nullopt;
    if (text.toUtf8().size() > BrowserDownloadLink::maxLinkBytes)
        return u"longer than "_s + QString::number(BrowserDownloadLink::maxLinkBytes) + u" bytes"_s;
    if (std::any_of(text.cbegin(), text.cend(), OutputStream::isControl))
        return u"contains control characters"_s;
    const QUrl url(text);
    if (!url.isValid() || (url.scheme() != u"http"_s && url.scheme() != u"https"_s))
        return u"not an http or https link"_s;
    if (url.host().isEmpty())
        return u"no host"_s;
    return u"carries a user name or password"_s;
}

QString CommandLineOptions::printable(const QString &link)
{
    constexpr qsizetype shown = 200;
    QString text = link;
    const QUrl url(link);
    if (url.isValid() && !url.password().isEmpty())
        text = url.toString(QUrl::RemovePassword);
    text = OutputStream::escaped(text.left(shown + 1));
    return text.size() > shown ? text.left(shown) + u"…"_s : text;
}

QString CommandLineOptions::usage()
{
    return u"usage: kestro-dl [--quality N|best|audio] [--audio-format mp3|m4a|flac|opus] [--dir PATH] URL...\n"
           "       kestro-dl --serve [--quality N|best|audio] [--audio-format mp3|m4a|flac|opus] [--dir PATH]\n"
           "\n"
           "Downloads each link with the queue, settings and history of Brisvane Download.\n"
           "Options apply to this run only; stored settings are not changed.\n"
           "A later run of the same link with the same options into the same folder continues\n"
           "from the partial files an earlier run left.\n"
           "Exit status: 0 when every download finished, 1 when any failed or a link was refused,\n"
           "2 for bad arguments, 130 after Ctrl-C, 143 after SIGTERM, 129 after SIGHUP (running\n"
           "downloads are paused, partial files kept; a second signal ends the program at once).\n"
           "\n"
           "--serve runs the queue without a window and answers AI agents (the MCP server\n"
           "KestroMCP) until SIGTERM, SIGHUP or Ctrl-C; running downloads are then paused and it\n"
           "exits 0.\n"_s;
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
            if (const std::optional<QString> problem = folderProblem(*options.outputDir)) {
                *error = *problem;
                return std::nullopt;
            }
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
