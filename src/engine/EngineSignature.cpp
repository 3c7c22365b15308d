#include "EngineSignature.h"

#include "platform/Preferences.h"

#include <QFile>
#include <QVariantMap>

#include <charconv>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString recordKey = u"verifiedEngine"_s;

std::optional<QStringList> fileItems(const QString &path)
{
    const QByteArray encoded = QFile::encodeName(path);
    struct stat target {};
    // stat follows links: the entry must exist, not be a folder, and run for this user.
    if (encoded.isEmpty() || ::stat(encoded.constData(), &target) != 0 || S_ISDIR(target.st_mode)
        || ::access(encoded.constData(), X_OK) != 0)
        return std::nullopt;

    char resolved[PATH_MAX];
    struct stat attributes {};
    if (!::realpath(encoded.constData(), resolved) || ::lstat(resolved, &attributes) != 0)
        return std::nullopt;

    const double modified = static_cast<double>(attributes.st_mtim.tv_sec)
        + static_cast<double>(attributes.st_mtim.tv_nsec) / 1e9;
    return QStringList{
        path,
        QFile::decodeName(resolved),
        QString::number(static_cast<qint64>(attributes.st_size)),
        QString::number(static_cast<quint64>(attributes.st_ino)),
        QString::number(attributes.st_mode & 07777),
        EngineSignature::formatSeconds(modified),
    };
}

} // namespace

EngineSignature::Result EngineSignature::build(const QString &bundleVersion, const QStringList &files)
{
    Result result;
    result.items.append(bundleVersion);
    for (const QString &file : files) {
        const std::optional<QStringList> items = fileItems(file);
        if (!items) {
            result.failingPath = file;
            return result;
        }
        result.items.append(*items);
    }
    return result;
}

QString EngineSignature::formatSeconds(double seconds)
{
    char text[64];
    const auto [end, error] = std::to_chars(text, text + sizeof text, seconds, std::chars_format::fixed);
    if (error != std::errc())
        return u"0.0"_s;
    QString formatted = QString::fromLatin1(text, end - text);
    if (!formatted.contains(u'.'))
        formatted += u".0"_s;
    return formatted;
}

std::optional<EngineSignature::Record> EngineSignature::stored(const QStringList &signature)
{
    const std::optional<QVariantMap> record = Preferences().dictionary(recordKey);
    if (!record)
        return std::nullopt;
    const QVariant storedSignature = record->value(u"signature"_s);
    const QVariant version = record->value(u"version"_s);
    if (storedSignature.typeId() != QMetaType::QStringList || storedSignature.toStringList() != signature)
        return std::nullopt;
    if (version.typeId() != QMetaType::QString || version.toString().isEmpty())
        return std::nullopt;
    const QVariant impersonate = record->value(u"impersonate"_s);
    if (impersonate.typeId() != QMetaType::Bool)
        return std::nullopt;
    return Record{version.toString(), impersonate.toBool()};
}

void EngineSignature::store(const QStringList &signature, const Record &record)
{
    Preferences().set(recordKey, QVariantMap{{u"signature"_s, signature},
                                             {u"version"_s, record.version},
                                             {u"impersonate"_s, record.canImpersonate}});
}

void EngineSignature::forget()
{
    Preferences().remove(recordKey);
}
