#include "DesktopIntegration.h"

#include "platform/Paths.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QList>
#include <QSaveFile>

#include <algorithm>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

const QByteArray defaultGroup = "[Default Applications]";

QByteArray handlerLine()
{
    return QString(QString::fromUtf16(DesktopIntegration::schemeType) + u'=' + QString::fromUtf16(DesktopIntegration::entryName)).toUtf8();
}

QByteArray keyOf(const QByteArray &line)
{
    const QByteArray trimmed = line.trimmed();
    if (trimmed.startsWith('#'))
        return {};
    const qsizetype equals = trimmed.indexOf('=');
    return equals < 0 ? QByteArray() : trimmed.first(equals).trimmed();
}

// The old content, empty for a missing file; nothing when it cannot be read whole.
std::optional<QByteArray> readExisting(const QString &path)
{
    QFile file(path);
    if (!file.exists())
        return QByteArray();
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    QByteArray content = file.read(DesktopIntegration::maxFileBytes + 1);
    if (content.size() > DesktopIntegration::maxFileBytes || file.error() != QFileDevice::NoError)
        return std::nullopt;
    return content;
}

} // namespace

namespace DesktopIntegration {

QString entryPath()
{
    return Paths::dataHome() + u"/applications/"_s + QString::fromUtf16(entryName);
}

QString iconPath()
{
    return Paths::dataHome() + u"/icons/hicolor/scalable/apps/brisvane-download.svg"_s;
}

QString mimeAppsPath()
{
    return Paths::configHome() + u"/mimeapps.list"_s;
}

QString execArgument(const QString &program)
{
    static const QString reserved = u" \t\"'\\><~|&;$*?#()`"_s;
    QString argument = program;
    if (std::any_of(program.cbegin(), program.cend(), [](QChar c) { return reserved.contains(c); })) {
        argument.clear();
        for (const QChar c : program) {
            if (c == u'"' || c == u'`' || c == u'$' || c == u'\\')
                argument += u'\\';
            argument += c;
        }
        argument = u'"' + argument + u'"';
    }
    // The key file's own escaping of backslashes comes on top of the quoting; "%" is a field code.
    return argument.replace(u'\\', u"\\\\"_s).replace(u'%', u"%%"_s);
}

QByteArray desktopEntry(const QString &program)
{
    if (std::any_of(program.cbegin(), program.cend(), [](QChar c) { return c.category() == QChar::Other_Control; }))
        return {};
    const QString text = QStringList{
        u"[Desktop Entry]"_s,
        u"Type=Application"_s,
        u"Name=Brisvane Download"_s,
        u"Exec="_s + execArgument(program) + u" %u"_s,
        u"Icon=brisvane-download"_s,
        u"Terminal=false"_s,
        u"Categories=Network;AudioVideo;"_s,
        u"MimeType="_s + QString::fromUtf16(schemeType) + u';',
        u"StartupNotify=true"_s,
    }.join(u'\n') + u'\n';
    return text.toUtf8();
}

QByteArray withDefaultHandler(const QByteArray &mimeApps)
{
    const QByteArray ours = handlerLine();
    const QByteArray key = QString::fromUtf16(schemeType).toUtf8();
    QList<QByteArray> lines = mimeApps.split('\n');
    const bool endsWithNewline = mimeApps.isEmpty() || mimeApps.endsWith('\n');
    if (endsWithNewline)
        lines.removeLast();

    const auto group = std::find_if(lines.begin(), lines.end(), [](const QByteArray &line) { return line.trimmed() == defaultGroup; });
    if (group == lines.end()) {
        if (!lines.isEmpty() && !lines.last().trimmed().isEmpty())
            lines.append(QByteArray());
        lines.append(defaultGroup);
        lines.append(ours);
    } else {
        qsizetype insertAt = group - lines.begin() + 1;
        bool placed = false;
        for (qsizetype i = insertAt; i < lines.size() && !lines.at(i).trimmed().startsWith('[');) {
            if (keyOf(lines.at(i)) == key) {
                if (placed) {
                    // A repeated key would leave the answer to whichever reader comes next.
                    lines.removeAt(i);
                    continue;
                }
                lines[i] = ours;
                placed = true;
            }
            if (!lines.at(i).trimmed().isEmpty())
                insertAt = i + 1;
            ++i;
        }
        if (!placed)
            lines.insert(insertAt, ours);
    }
    QByteArray result = lines.join('\n');
    result += '\n';
    return result;
}

bool writeIfChanged(const QString &path, const QByteArray &content)
{
    const std::optional<QByteArray> existing = readExisting(path);
    if (!existing)
        return false;
    if (QFileInfo::exists(path) && *existing == content)
        return true;
    if (!QDir().mkpath(QFileInfo(path).absolutePath()))
        return false;
    QSaveFile file(path);
    // Unbuffered, so a short write shows here: a buffered one can end in a commit that
    // reports success for a cut-off file when the disk is full.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return false;
    if (file.write(content) != content.size()) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}

bool install(const QString &program)
{
    bool ok = true;
    QFile icon(u":/icons/brisvane-download.svg"_s);
    if (icon.open(QIODevice::ReadOnly))
        ok = writeIfChanged(iconPath(), icon.readAll()) && ok;
    else
        ok = false;
    const QByteArray entry = desktopEntry(program);
    if (entry.isEmpty())
        return false;
    ok = writeIfChanged(entryPath(), entry) && ok;
    // The handler is only claimed once its entry is in place.
    if (!ok)
        return false;
    const std::optional<QByteArray> mimeApps = readExisting(mimeAppsPath());
    return mimeApps && writeIfChanged(mimeAppsPath(), withDefaultHandler(*mimeApps));
}

} // namespace DesktopIntegration
