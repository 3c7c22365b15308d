#include "HistoryEntry.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

namespace {

const QString idKey = u"id"_s;
const QString urlKey = u"url"_s;
const QString titleKey = u"title"_s;
const QString siteKey = u"site"_s;
const QString resolutionKey = u"resolution"_s;
const QString extKey = u"ext"_s;
const QString filePathKey = u"filePath"_s;
const QString thumbnailURLKey = u"thumbnailURL"_s;
const QString finishedAtKey = u"finishedAt"_s;

std::optional<QString> requiredString(const QJsonObject &object, const QString &key)
{
    const QJsonValue value = object.value(key);
    if (!value.isString())
        return std::nullopt;
    return value.toString();
}

// Absent and null are both "no value"; any other type spoils the entry.
bool optionalString(const QJsonObject &object, const QString &key, std::optional<QString> &out)
{
    const QJsonValue value = object.value(key);
    if (value.isUndefined() || value.isNull()) {
        out.reset();
        return true;
    }
    if (!value.isString())
        return false;
    out = value.toString();
    return true;
}

std::optional<QUuid> parseId(const QString &text)
{
    // QUuid would also take braces; the file holds the bare 8-4-4-4-12 form.
    static const QRegularExpression form(
        u"^[0-9A-Fa-f]{8}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{4}-[0-9A-Fa-f]{12}$"_s);
    if (!form.match(text).hasMatch())
        return std::nullopt;
    return QUuid::fromString(text);
}

} // namespace

QString HistoryEntry::formatDate(const QDateTime &date)
{
    return date.toUTC().toString(Qt::ISODate);
}

std::optional<QDateTime> HistoryEntry::parseDate(const QString &text)
{
    static const QRegularExpression form(u"^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}Z$"_s);
    if (!form.match(text).hasMatch())
        return std::nullopt;
    const QDateTime date = QDateTime::fromString(text, Qt::ISODate);
    // Writing it back must give the same text, which rules out 24:00:00, leap seconds and 30 February.
    if (!date.isValid() || formatDate(date) != text)
        return std::nullopt;
    return date.toUTC();
}

QJsonObject HistoryEntry::toJson() const
{
    QJsonObject object{
        {idKey, id.toString(QUuid::WithoutBraces).toUpper()},
        {urlKey, url},
        {titleKey, title},
        {siteKey, site},
        {resolutionKey, resolution},
        {extKey, ext},
        {finishedAtKey, formatDate(finishedAt)},
    };
    if (filePath)
        object.insert(filePathKey, *filePath);
    if (thumbnailURL)
        object.insert(thumbnailURLKey, *thumbnailURL);
    return object;
}

std::optional<HistoryEntry> HistoryEntry::fromJson(const QJsonValue &value)
{
    if (!value.isObject())
        return std::nullopt;
    const QJsonObject object = value.toObject();

    const std::optional<QString> id = requiredString(object, idKey);
    const std::optional<QString> url = requiredString(object, urlKey);
    const std::optional<QString> title = requiredString(object, titleKey);
    const std::optional<QString> site = requiredString(object, siteKey);
    const std::optional<QString> resolution = requiredString(object, resolutionKey);
    const std::optional<QString> ext = requiredString(object, extKey);
    const std::optional<QString> finishedAt = requiredString(object, finishedAtKey);
    if (!id || !url || !title || !site || !resolution || !ext || !finishedAt)
        return std::nullopt;

    HistoryEntry entry;
    const std::optional<QUuid> uuid = parseId(*id);
    const std::optional<QDateTime> date = parseDate(*finishedAt);
    if (!uuid || !date || !optionalString(object, filePathKey, entry.filePath)
        || !optionalString(object, thumbnailURLKey, entry.thumbnailURL))
        return std::nullopt;
    entry.id = *uuid;
    entry.url = *url;
    entry.title = *title;
    entry.site = *site;
    entry.resolution = *resolution;
    entry.ext = *ext;
    entry.finishedAt = *date;
    return entry;
}
