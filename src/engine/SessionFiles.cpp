#include "SessionFiles.h"

#include "platform/Paths.h"
#include "shared/BrowserBridge.h"

#include <QDir>
#include <QFile>
#include <QUuid>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString ownerFileName = u"owner.pid"_s;

// A decimal signed 32-bit number: optional sign, digits only, nothing else.
std::optional<qint32> parseOwner(const QByteArray &text)
{
    qsizetype digits = text.startsWith('+') || text.startsWith('-') ? 1 : 0;
    if (text.size() <= digits || text.size() > 11)
        return std::nullopt;
    for (qsizetype i = digits; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9')
            return std::nullopt;
    }
    bool ok = false;
    const qint32 value = text.toInt(&ok);
    return ok ? std::optional(value) : std::nullopt;
}

// Only a real folder of ours is a candidate: a link planted in a shared temporary
// directory must never lead the clean-up into someone else's files.
bool isOwnFolder(const QString &path)
{
    struct stat status {};
    return ::lstat(QFile::encodeName(path).constData(), &status) == 0 && S_ISDIR(status.st_mode)
        && status.st_uid == ::getuid();
}

// The owner file's text; empty when it cannot be read or is too long to hold a process id.
QByteArray readOwner(const QString &directory)
{
    const int fd = ::open(QFile::encodeName(directory + u'/' + ownerFileName).constData(),
                          O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    constexpr qsizetype limit = 64;
    QByteArray text(limit + 1, Qt::Uninitialized);
    qsizetype size = 0;
    while (size <= limit) {
        const ssize_t count = ::read(fd, text.data() + size, static_cast<size_t>(limit + 1 - size));
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        size += count;
    }
    ::close(fd);
    return size > limit ? QByteArray() : text.first(size);
}

} // namespace

SessionFiles::SessionFiles(const QString &directory)
    : m_directory(directory)
{
}

SessionFiles::~SessionFiles()
{
    remove();
}

std::shared_ptr<SessionFiles> SessionFiles::create(const BrowserSession &session)
{
    const QString directory = Paths::tempDir() + u'/' + folderPrefix
        + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    // From here on the destructor removes the folder, also when a step below throws.
    std::shared_ptr<SessionFiles> files(new SessionFiles(directory));
    BrowserBridge::privateDirectory(directory);
    BrowserBridge::writePrivate(QByteArray::number(::getpid()), directory + u'/' + ownerFileName);
    BrowserBridge::writePrivate(session.toJson(), files->headersFile());
    BrowserBridge::writePrivate(session.cookieFile().toUtf8(), files->cookiesFile());
    return files;
}

QString SessionFiles::headersFile() const
{
    return m_directory + u"/headers.json"_s;
}

QString SessionFiles::cookiesFile() const
{
    return m_directory + u"/cookies.txt"_s;
}

void SessionFiles::track(qint64 pid) const
{
    const int fd = ::open(QFile::encodeName(m_directory + u'/' + ownerFileName).constData(),
                          O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    const QByteArray text = QByteArray::number(pid);
    [[maybe_unused]] const ssize_t written = ::write(fd, text.constData(), static_cast<size_t>(text.size()));
    ::close(fd);
}

void SessionFiles::remove() const
{
    if (isOwnFolder(m_directory))
        QDir(m_directory).removeRecursively();
}

void SessionFiles::cleanAbandoned()
{
    const QString temporary = Paths::tempDir();
    const QStringList entries = QDir(temporary).entryList(QDir::AllEntries | QDir::Hidden | QDir::System
                                                          | QDir::NoDotAndDotDot);
    for (const QString &entry : entries) {
        if (!entry.startsWith(folderPrefix))
            continue;
        const QString path = temporary + u'/' + entry;
        if (!isOwnFolder(path))
            continue;
        const std::optional<qint32> owner = parseOwner(readOwner(path));
        if (owner && *owner > 0 && ::kill(*owner, 0) != 0 && errno == ESRCH)
            QDir(path).removeRecursively();
    }
}
