#include "Workspace.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDir>
#include <QUrl>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>
#include <cstring>
#include <memory>
#include <utility>
#include <variant>

using namespace Qt::StringLiterals;

namespace Workspace {

namespace {

// Desktop entries are a few kilobytes; anything far larger is not one.
constexpr qint64 maxDesktopEntrySize = 1024 * 1024;
// Some openers run the application in the foreground and only return when it quits; past this
// point a running opener counts as having opened the file.
constexpr int openerGraceMs = 10000;

QString systemError(int errorNumber, const QString &path)
{
    return path + u": "_s + QString::fromLocal8Bit(std::strerror(errorNumber));
}

// Posts the completion so that it never runs inside the caller's own call.
void deliver(QObject *context, const Completion &done, const std::optional<QString> &error)
{
    QObject *receiver = context ? context : QCoreApplication::instance();
    QTimer::singleShot(0, receiver, [done, error] { done(error); });
}

struct Command
{
    QString program;
    QStringList arguments;
};

std::optional<Command> defaultOpener(const QString &path)
{
    const QString standIn = qEnvironmentVariable(openCommandVariable);
    if (!standIn.isEmpty())
        return Command{standIn, {path}};
    if (const QString xdgOpen = QStandardPaths::findExecutable(u"xdg-open"_s); !xdgOpen.isEmpty())
        return Command{xdgOpen, {path}};
    if (const QString gio = QStandardPaths::findExecutable(u"gio"_s); !gio.isEmpty())
        return Command{gio, {u"open"_s, path}};
    return std::nullopt;
}

// The command that opens the file with a desktop entry, or the system's reason why there is none.
std::variant<Command, QString> desktopEntryCommand(const QString &entryPath, const QString &path)
{
    const QFileInfo info(entryPath);
    if (!info.exists())
        return systemError(ENOENT, entryPath);
    if (!info.isFile())
        return systemError(info.isDir() ? EISDIR : EINVAL, entryPath);
    QFile file(entryPath);
    if (!file.open(QIODevice::ReadOnly))
        return entryPath + u": "_s + file.errorString();
    const QByteArray content = file.read(maxDesktopEntrySize + 1);
    if (content.size() > maxDesktopEntrySize)
        return systemError(EFBIG, entryPath);
    const std::optional<QString> exec = desktopEntryExec(content);
    const std::optional<QStringList> command = exec ? execCommand(*exec, path) : std::nullopt;
    if (!command)
        return systemError(ENOEXEC, entryPath);
    return Command{command->first(), command->mid(1)};
}

bool isSeparator(QChar c)
{
    return c == u' ' || c == u'\t' || c == u'\n';
}

// The escapes every string value of a desktop entry may hold; others are left for the quoting rules.
QString unescapeValue(const QString &value)
{
    QString out;
    out.reserve(value.size());
    for (qsizetype i = 0; i < value.size(); ++i) {
        const QChar c = value[i];
        if (c != u'\\' || i + 1 == value.size()) {
            out += c;
            continue;
        }
        const QChar next = value[i + 1];
        if (next == u's')
            out += u' ';
        else if (next == u'n')
            out += u'\n';
        else if (next == u't')
            out += u'\t';
        else if (next == u'r')
            out += u'\r';
        else if (next == u'\\')
            out += u'\\';
        else {
            out += c;
            continue;
        }
        ++i;
    }
    return out;
}

std::optional<QStringList> splitArguments(const QString &line)
{
    QStringList tokens;
    QString current;
    bool inToken = false;
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
        const QChar c = line[i];
        const bool hasNext = i + 1 < line.size();
        if (quoted) {
            if (c == u'\\' && hasNext && QStringView(u"\"`$\\").contains(line[i + 1]))
                current += line[++i];
            else if (c == u'"')
                quoted = false;
            else
                current += c;
            continue;
        }
        if (isSeparator(c)) {
            if (inToken)
                tokens.append(std::exchange(current, QString()));
            inToken = false;
            continue;
        }
        inToken = true;
        if (c == u'"')
            quoted = true;
        else if (c == u'\\' && hasNext)
            current += line[++i];
        else
            current += c;
    }
    if (quoted)
        return std::nullopt;
    if (inToken)
        tokens.append(current);
    return tokens;
}

} // namespace

std::optional<QString> desktopEntryExec(const QByteArray &content)
{
    const QStringList lines = QString::fromUtf8(content).split(u'\n');
    bool inMainGroup = false;
    for (const QString &rawLine : lines) {
        const QString line = rawLine.trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        if (line.startsWith(u'[')) {
            inMainGroup = line == u"[Desktop Entry]";
            continue;
        }
        const qsizetype equals = line.indexOf(u'=');
        if (!inMainGroup || equals < 0)
            continue;
        if (QStringView(line).left(equals).trimmed() == u"Exec")
            return line.mid(equals + 1).trimmed();
    }
    return std::nullopt;
}

std::optional<QStringList> execCommand(const QString &exec, const QString &filePath)
{
    const std::optional<QStringList> tokens = splitArguments(unescapeValue(exec));
    if (!tokens)
        return std::nullopt;
    QStringList command;
    bool fileGiven = false;
    for (const QString &token : *tokens) {
        QString argument;
        bool onlyDroppedCodes = true;
        for (qsizetype i = 0; i < token.size(); ++i) {
            if (token[i] != u'%' || i + 1 == token.size()) {
                argument += token[i];
                onlyDroppedCodes = false;
                continue;
            }
            const QChar code = token[++i];
            if (code == u'%') {
                argument += u'%';
                onlyDroppedCodes = false;
            } else if (QStringView(u"fFuU").contains(code)) {
                argument += filePath;
                fileGiven = true;
                onlyDroppedCodes = false;
            }
        }
        // "%i" or "%c" standing alone would otherwise become an empty argument.
        if (onlyDroppedCodes && !token.isEmpty())
            continue;
        command.append(argument);
    }
    if (command.isEmpty() || command.first().isEmpty())
        return std::nullopt;
    if (!fileGiven)
        command.append(filePath);
    return command;
}

void openWithDefault(const QString &path, QObject *context, Completion done)
{
    const std::optional<Command> opener = defaultOpener(path);
    if (!opener) {
        deliver(context, done, systemError(ENOENT, u"xdg-open"_s));
        return;
    }

    // The opener outlives a closed view; it deletes itself when it ends.
    auto *process = new QProcess;
    process->setProgram(opener->program);
    process->setArguments(opener->arguments);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedChannels);

    const bool hasContext = context != nullptr;
    const QPointer<QObject> guard(context);
    auto reported = std::make_shared<bool>(false);
    auto report = [hasContext, guard, reported, done = std::move(done)](const std::optional<QString> &error) {
        if (*reported)
            return;
        *reported = true;
        if (!hasContext || guard)
            done(error);
    };
    const QString program = opener->program;
    QObject::connect(process, &QProcess::finished, process,
                     [process, program, report](int exitCode, QProcess::ExitStatus status) {
                         if (status == QProcess::NormalExit && exitCode == 0)
                             report(std::nullopt);
                         else if (status == QProcess::NormalExit)
                             report(program + u": exit status "_s + QString::number(exitCode));
                         else
                             report(program + u": "_s + process->errorString());
                         process->deleteLater();
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [process, program, report](QProcess::ProcessError error) {
                         if (error != QProcess::FailedToStart)
                             return;
                         report(program + u": "_s + process->errorString());
                         process->deleteLater();
                     });
    QTimer::singleShot(openerGraceMs, process, [report] { report(std::nullopt); });
    process->start();
}

void openWithApplication(const QString &path, const QString &applicationPath, QObject *context,
                         Completion done)
{
    Command command{applicationPath, {path}};
    if (applicationPath.endsWith(u".desktop"_s, Qt::CaseInsensitive)) {
        std::variant<Command, QString> fromEntry = desktopEntryCommand(applicationPath, path);
        if (const QString *error = std::get_if<QString>(&fromEntry)) {
            deliver(context, done, *error);
            return;
        }
        command = std::get<Command>(std::move(fromEntry));
    }

    // Detached: the player is the user's window and must not end with this program.
    QProcess process;
    process.setProgram(command.program);
    process.setArguments(command.arguments);
    process.setStandardInputFile(QProcess::nullDevice());
    std::optional<QString> error;
    if (!process.startDetached())
        error = command.program + u": "_s + process.errorString();
    deliver(context, done, error);
}

void reveal(const QString &path, QObject *context, Completion done)
{
    const QString folder = QFileInfo(path).absolutePath();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        openWithDefault(folder, context, std::move(done));
        return;
    }
    QDBusMessage call = QDBusMessage::createMethodCall(
        u"org.freedesktop.FileManager1"_s, u"/org/freedesktop/FileManager1"_s,
        u"org.freedesktop.FileManager1"_s, u"ShowItems"_s);
    call << QStringList{QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString()} << QString();
    auto *watcher = new QDBusPendingCallWatcher(bus.asyncCall(call), QCoreApplication::instance());
    const bool hasContext = context != nullptr;
    const QPointer<QObject> guard(context);
    QObject::connect(watcher, &QDBusPendingCallWatcher::finished, watcher,
                     [watcher, folder, hasContext, guard, done = std::move(done)] {
                         watcher->deleteLater();
                         if (hasContext && !guard)
                             return;
                         if (!watcher->isError())
                             done(std::nullopt);
                         else
                             openWithDefault(folder, guard.data(), done);
                     });
}

} // namespace Workspace
