#include "InstallerCheck.h"

#include "UpdateError.h"
#include "platform/FileDescriptor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

#include <openssl/evp.h>

#include <cerrno>
#include <memory>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace InstallerCheck {

QString sha256Hex(const QString &path)
{
    const QByteArray name = QFile::encodeName(path);
    const FileDescriptor file(::open(name.constData(), O_RDONLY | O_CLOEXEC));
    if (file.get() < 0)
        throw FileError::fromErrno(path);
    // OpenSSL's SHA-256 uses the processor's SHA instructions where present.
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> hash(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
    if (!hash || EVP_DigestInit_ex(hash.get(), EVP_sha256(), nullptr) != 1)
        throw FileError(ENOMEM, path);
    QByteArray buffer(chunkSize, Qt::Uninitialized);
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer.data(), size_t(buffer.size()));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw FileError::fromErrno(path);
        }
        if (got == 0)
            break;
        EVP_DigestUpdate(hash.get(), buffer.constData(), size_t(got));
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(hash.get(), digest, &length) != 1)
        throw FileError(ENOMEM, path);
    return QString::fromLatin1(QByteArray(reinterpret_cast<const char *>(digest), int(length)).toHex());
}

void verifyInstaller(const QString &path, const QString &sha256)
{
    struct stat info{};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        throw FileError::fromErrno(path);
    if (info.st_size < minimumSize || info.st_size > maximumSize)
        throw UpdateError(UpdateError::Kind::invalidDownload);
    if (sha256Hex(path) != sha256)
        throw UpdateError(UpdateError::Kind::invalidDownload);
}

QString destinationPath(const QString &folder, const QString &version)
{
    const QString base = folder + u"/Brisvane Download-"_s + version;
    const QString plain = base + u".AppImage"_s;
    if (!QFileInfo::exists(plain) && !QFileInfo(plain).isSymLink())
        return plain;
    const QString suffix = QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper().left(8);
    return base + u"-"_s + suffix + u".AppImage"_s;
}

QString install(const QString &downloaded, const QString &sha256, const QString &folder,
                const QString &version)
{
    verifyInstaller(downloaded, sha256);
    if (!QDir().mkpath(folder))
        throw FileError::fromErrno(folder);
    const QString destination = destinationPath(folder, version);
    QFile file(downloaded);
    // QFile::rename never replaces an existing file and copies across file systems.
    if (!file.rename(destination))
        throw FileError(QFileInfo::exists(destination) ? EEXIST : EIO, destination);
    if (::chmod(QFile::encodeName(destination).constData(), 0755) != 0)
        throw FileError::fromErrno(destination);
    return destination;
}

} // namespace InstallerCheck
