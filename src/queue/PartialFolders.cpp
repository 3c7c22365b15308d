#include "PartialFolders.h"

#include "engine/DownloadOptions.h"
#include "platform/FileDescriptor.h"
#include "shared/BrowserBridge.h"
#include "shared/Error.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QLockFile>
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <limits>
#include <optional>
#include <utility>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString folderName = u".kestro-partials"_s;
const QString lockName = u".lock"_s;
constexpr int lockWaitMs = 2000;
constexpr qint64 recordLimit = 65536;

struct Owner
{
    qint64 pid = 0;
    QString started; // the start time in /proc/<pid>/stat (clock ticks since boot)
};

// Field 22 of /proc/<pid>/stat, and whether the process is a zombie; nothing when unreadable.
std::optional<std::pair<QString, bool>> processStat(qint64 pid)
{
    QFile file(u"/proc/"_s + QString::number(pid) + u"/stat"_s);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QByteArray text = file.read(4096);
    // The command name in parentheses may hold spaces and ")"; the fields follow the last one.
    const qsizetype close = text.lastIndexOf(')');
    if (close < 0)
        return std::nullopt;
    const QList<QByteArray> fields = text.mid(close + 1).simplified().split(' ');
    if (fields.size() < 20)
        return std::nullopt;
    const bool gone = fields[0] == "Z" || fields[0] == "X";
    return std::pair(QString::fromLatin1(fields[19]), gone);
}

Owner currentOwner()
{
    Owner owner;
    owner.pid = ::getpid();
    if (const auto stat = processStat(owner.pid))
        owner.started = stat->first;
    return owner;
}

bool isAlive(const Owner &owner)
{
    if (owner.pid <= 0 || owner.pid > std::numeric_limits<pid_t>::max())
        return false;
    const auto stat = processStat(owner.pid);
    if (!stat)
        return !(::kill(static_cast<pid_t>(owner.pid), 0) != 0 && errno == ESRCH);
    return !stat->second && stat->first == owner.started;
}

// Only a real folder of this user is a candidate: a planted link must never lead elsewhere.
bool isOwnFolder(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::getuid();
}

struct Record
{
    QString url;
    QJsonObject fingerprint;
    Owner owner;
};

std::optional<Record> readRecord(const QString &directory)
{
    const QString path = directory + u'/' + QString::fromUtf16(PartialFolders::recordName);
    FileDescriptor file(::open(QFile::encodeName(path).constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK));
    struct stat status {};
    if (!file.isValid() || ::fstat(file.get(), &status) != 0 || !S_ISREG(status.st_mode) || status.st_size > recordLimit)
        return std::nullopt;
    const std::optional<QByteArray> bytes = file.readUpTo(recordLimit, status.st_size);
    if (!bytes || bytes->size() > recordLimit)
        return std::nullopt;
    const QJsonDocument document = QJsonDocument::fromJson(*bytes);
    const QJsonObject object = document.object();
    const QJsonValue url = object.value(u"url"_s);
    const QJsonValue fingerprint = object.value(u"options"_s);
    const QJsonValue pid = object.value(u"pid"_s);
    const QJsonValue started = object.value(u"started"_s);
    if (!document.isObject() || !url.isString() || !fingerprint.isObject() || !pid.isDouble() || !started.isString())
        return std::nullopt;
    return Record{url.toString(), fingerprint.toObject(), {pid.toInteger(), started.toString()}};
}

// Replaces the record in one rename, so a reader sees the old one or the new one.
bool writeRecord(const QString &directory, const Record &record)
{
    const QJsonObject object{
        {u"url"_s, record.url},
        {u"options"_s, record.fingerprint},
        {u"pid"_s, record.owner.pid},
        {u"started"_s, record.owner.started},
    };
    const QString path = directory + u'/' + QString::fromUtf16(PartialFolders::recordName);
    const QString staging = path + u'.' + QUuid::createUuid().toString(QUuid::WithoutBraces);
    try {
        BrowserBridge::writePrivate(QJsonDocument(object).toJson(QJsonDocument::Compact), staging);
    } catch (const Error &) {
        QFile::remove(staging);
        return false;
    }
    if (::rename(QFile::encodeName(staging).constData(), QFile::encodeName(path).constData()) != 0) {
        QFile::remove(staging);
        return false;
    }
    return true;
}

bool isItemFolderName(const QString &name)
{
    return name.size() == 36 && !QUuid::fromString(name).isNull();
}

QStringList itemFolders(const QString &parent)
{
    QStringList names = QDir(parent).entryList(QDir::Dirs | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    names.removeIf([](const QString &name) { return !isItemFolderName(name); });
    return names;
}

} // namespace

namespace PartialFolders {

QJsonObject fingerprint(const DownloadOptions &options)
{
    QJsonObject object{
        {u"format"_s, options.formatSelector},
        {u"template"_s, options.filenameTemplate},
        {u"audioOnly"_s, options.audioOnly},
        {u"forceMP4"_s, options.forceMP4},
        {u"subtitles"_s, options.subtitles},
        {u"embedMetadata"_s, options.embedMetadata},
        {u"cookiesBrowser"_s, options.cookiesBrowser},
        {u"extraArgs"_s, QJsonArray::fromStringList(options.extraArgs)},
    };
    if (options.audioOnly)
        object.insert(u"audioFormat"_s, options.audioFormat);
    if (options.subtitles)
        object.insert(u"subtitleLangs"_s, options.subtitleLangs);
    return object;
}

bool prepare(const QString &temporaryDirectory, const QString &url, const QJsonObject &fingerprint)
{
    const QString parent = QFileInfo(temporaryDirectory).path();
    try {
        BrowserBridge::privateDirectory(parent);
    } catch (const Error &) {
        return false;
    }
    QLockFile lock(parent + u'/' + lockName);
    // Without the lock no leftover is taken, but the folder is still recorded as ours.
    const bool locked = lock.tryLock(lockWaitMs);
    bool taken = false;
    const QFileInfo target(temporaryDirectory);
    if (locked && !target.exists() && !target.isSymLink()) {
        for (const QString &name : itemFolders(parent)) {
            const QString candidate = parent + u'/' + name;
            if (!isOwnFolder(candidate))
                continue;
            const std::optional<Record> record = readRecord(candidate);
            if (!record || record->url != url || record->fingerprint != fingerprint || isAlive(record->owner))
                continue;
            if (::rename(QFile::encodeName(candidate).constData(), QFile::encodeName(temporaryDirectory).constData()) == 0) {
                taken = true;
                break;
            }
        }
    }
    try {
        BrowserBridge::privateDirectory(temporaryDirectory);
    } catch (const Error &) {
        return taken;
    }
    writeRecord(temporaryDirectory, {url, fingerprint, currentOwner()});
    return taken;
}

void sweep(const QString &outputDir, const QSet<QString> &keepNames, const QSet<QString> &keepUrls)
{
    const QString parent = QDir::cleanPath(outputDir + u'/' + folderName);
    if (!isOwnFolder(parent))
        return;
    QLockFile lock(parent + u'/' + lockName);
    if (!lock.tryLock(lockWaitMs))
        return;
    for (const QString &name : itemFolders(parent)) {
        const QString path = parent + u'/' + name;
        if (keepNames.contains(name) || !isOwnFolder(path))
            continue;
        const std::optional<Record> record = readRecord(path);
        if (record && (keepUrls.contains(record->url) || isAlive(record->owner)))
            continue;
        std::error_code code;
        std::filesystem::remove_all(std::filesystem::path(QFile::encodeName(path).toStdString()), code);
    }
}

} // namespace PartialFolders
