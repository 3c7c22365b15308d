#include "CompletedFiles.h"

#include "CommandBuilder.h"
#include "YtDlpError.h"
#include "shared/Error.h"
#include "shared/L10n.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QList>
#include <QStringList>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

YtDlpError notFound()
{
    return YtDlpError::extractionFailed(L10n::tr(u"下载完成，但未找到输出文件"_s));
}

// Lexical only: ".." removes the previous component whatever it is on disk.
QString standardized(const QString &path)
{
    return QDir::cleanPath(QFileInfo(path).absoluteFilePath());
}

QString joined(const QString &directory, const QString &name)
{
    if (directory.endsWith(u'/'))
        return directory + name;
    return directory + u'/' + name;
}

// Longest file name, in bytes, that Linux file systems take.
constexpr qsizetype maxNameBytes = 255;

// The stem cut to at most `bytes` UTF-8 bytes, never inside a character.
QString shortened(const QString &stem, qsizetype bytes)
{
    const QByteArray encoded = stem.toUtf8();
    if (encoded.size() <= bytes)
        return stem;
    qsizetype end = bytes;
    while (end > 0 && (static_cast<unsigned char>(encoded.at(end)) & 0xC0) == 0x80)
        --end;
    return QString::fromUtf8(encoded.left(end));
}

// The suffix goes before the text after the last dot. Leading dots belong to the name
// (".hidden" has no extension) and a trailing dot is no extension either. A stem at the name
// limit (long CJK titles) is shortened so that the numbered name still fits.
QString candidateName(const QString &name, int n)
{
    if (n == 0)
        return name;
    // Full-width parentheses, no space.
    const QString suffix = u"（"_s + QString::number(n) + u"）"_s;
    qsizetype firstNonDot = 0;
    while (firstNonDot < name.size() && name.at(firstNonDot) == u'.')
        ++firstNonDot;
    const qsizetype dot = name.lastIndexOf(u'.');
    const bool hasExtension = dot >= firstNonDot && dot != name.size() - 1;
    const QString stem = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    const qsizetype room = maxNameBytes - suffix.toUtf8().size() - extension.toUtf8().size();
    const QString fitting = shortened(stem, room);
    // Without a character of the stem left the name stays too long and the rename says so.
    return (fitting.isEmpty() ? stem : fitting) + suffix + extension;
}

// Renames without ever replacing anything; returns 0 or the error number (EEXIST when `to` is
// taken).
int renameNoReplace(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int error = errno;
    if (error != EINVAL && error != ENOSYS && error != EOPNOTSUPP)
        return error;
    // A file system without the no-replace flag: a hard link also refuses a taken name.
    if (::link(source.constData(), target.constData()) != 0)
        return errno;
    if (::unlink(source.constData()) != 0) {
        const int unlinkError = errno;
        ::unlink(target.constData());
        return unlinkError;
    }
    return 0;
}

bool isDirectory(const QString &path)
{
    struct stat info;
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Makes `directory` with its missing parents, appending each folder made to `made` so that an
// undo can take them away again. Throws FileError.
void makePath(const QString &directory, QStringList &made)
{
    QStringList missing;
    QString current = directory;
    for (;;) {
        struct stat info;
        if (::stat(QFile::encodeName(current).constData(), &info) == 0) {
            if (!S_ISDIR(info.st_mode))
                throw FileError(ENOTDIR, current);
            break;
        }
        // ENOTDIR: a file stands somewhere above; going up names that file in the error.
        const int error = errno;
        if (error != ENOENT && error != ENOTDIR)
            throw FileError(error, current);
        missing.prepend(current);
        const qsizetype slash = current.lastIndexOf(u'/');
        if (slash <= 0)
            break;
        current = current.left(slash);
    }
    for (const QString &path : std::as_const(missing)) {
        if (::mkdir(QFile::encodeName(path).constData(), 0777) != 0) {
            const int error = errno;
            // Another download may have made it in the meantime.
            if (error == EEXIST && isDirectory(path))
                continue;
            throw FileError(error, path);
        }
        made.append(path);
    }
}

// Relative paths of every entry below `root`, sorted so that collisions resolve the same way
// every time; none when `root` is not a directory that can be read. A symbolic link as `root`
// is refused: it would publish files from somewhere else.
std::optional<QStringList> walk(const QString &root)
{
    const int descriptor = ::open(QFile::encodeName(root).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (descriptor < 0)
        return std::nullopt;
    ::close(descriptor);

    const QString prefix = root + u'/';
    QStringList entries;
    QDirIterator iterator(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
    while (iterator.hasNext()) {
        const QString path = iterator.next();
        if (path.startsWith(prefix))
            entries.append(path.mid(prefix.size()));
    }
    std::sort(entries.begin(), entries.end());
    return entries;
}

// What has been done in the output folder so far, so that a failure can take it back.
struct Publication
{
    struct Move
    {
        QString from;
        QString to;
    };
    QList<Move> moves;
    QStringList madeDirectories;

    // Best effort: a file whose old name was taken in the meantime stays where it is.
    void undo() const
    {
        for (auto move = moves.crbegin(); move != moves.crend(); ++move)
            renameNoReplace(move->to, move->from);
        // Only empty folders go; rmdir refuses the others.
        for (auto directory = madeDirectories.crbegin(); directory != madeDirectories.crend(); ++directory)
            ::rmdir(QFile::encodeName(*directory).constData());
    }
};

} // namespace

std::optional<QString> CompletedFiles::completedFile(const QString &temporaryDirectory)
{
    QFile file(joined(temporaryDirectory, CommandBuilder::outputListName.toString()));
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray data = file.readAll();
    if (file.error() != QFileDevice::NoError)
        return std::nullopt;

    const QStringList lines = QString::fromUtf8(data).split(u'\n', Qt::SkipEmptyParts);
    if (lines.isEmpty())
        return std::nullopt;
    // The JSON reader takes only arrays and objects at the top level; the brackets make the
    // line an array, and exactly one string inside means the line was one JSON string.
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson('[' + lines.last().toUtf8() + ']', &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    const QJsonArray array = document.array();
    if (array.size() != 1 || !array.first().isString())
        return std::nullopt;

    const QString path = array.first().toString();
    // A relative path would depend on this process's working folder; a NUL would cut the path short.
    if (!path.startsWith(u'/') || path.contains(QChar(0)))
        return std::nullopt;
    struct stat info;
    if (::lstat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return path;
}

QString CompletedFiles::publishCompletedFiles(const QString &temporaryDirectory, const QString &outputDirectory)
{
    const QString complete = standardized(joined(temporaryDirectory, CommandBuilder::completeFolderName.toString()));
    const std::optional<QString> reported = completedFile(temporaryDirectory);
    if (!reported)
        throw notFound();
    const QString reportedPath = standardized(*reported);
    if (!reportedPath.startsWith(complete + u'/'))
        throw notFound();
    const std::optional<QStringList> entries = walk(complete);
    if (!entries)
        throw notFound();

    const QString output = standardized(outputDirectory);
    Publication publication;
    std::optional<QString> result;
    try {
        for (const QString &relative : *entries) {
            const QString source = complete + u'/' + relative;
            const QByteArray nativeSource = QFile::encodeName(source);
            struct stat info;
            if (::lstat(nativeSource.constData(), &info) != 0)
                throw FileError(errno, source);
            if (!S_ISREG(info.st_mode))
                continue;

            const qsizetype slash = relative.lastIndexOf(u'/');
            const QString parent = slash < 0 ? output : joined(output, relative.left(slash));
            const QString name = relative.mid(slash + 1);
            makePath(parent, publication.madeDirectories);
            for (int n = 0;; ++n) {
                const QString candidate = joined(parent, candidateName(name, n));
                const int error = renameNoReplace(source, candidate);
                if (error == EEXIST)
                    continue;
                if (error != 0)
                    throw FileError(error, candidate);
                publication.moves.append({source, candidate});
                if (QDir::cleanPath(source) == reportedPath)
                    result = candidate;
                break;
            }
        }
        if (!result)
            throw notFound();
    } catch (...) {
        publication.undo();
        throw;
    }
    return *result;
}
