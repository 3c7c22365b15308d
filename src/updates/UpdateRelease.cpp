#include "UpdateRelease.h"

#include <QRegularExpression>

using namespace Qt::StringLiterals;

std::optional<std::array<qint64, 3>> UpdateRelease::parts(const QString &version)
{
    if (version.size() > 32)
        return std::nullopt;
    static const QRegularExpression pattern(
        u"^[1-9][0-9]*\\.(0|[1-9][0-9]*)\\.(0|[1-9][0-9]*)\\z"_s);
    if (!pattern.match(version).hasMatch())
        return std::nullopt;
    const QStringList pieces = version.split(u'.');
    std::array<qint64, 3> result{};
    for (int i = 0; i < 3; ++i) {
        bool ok = false;
        result[i] = pieces[i].toLongLong(&ok);
        // A piece beyond 64 bits leaves fewer than three numbers.
        if (!ok)
            return std::nullopt;
    }
    return result;
}

bool UpdateRelease::newer(const QString &a, const QString &b)
{
    const auto left = parts(a);
    const auto right = parts(b);
    return left && right && *left > *right;
}

qint64 UpdateRelease::major() const
{
    const auto p = parts(version);
    return p ? (*p)[0] : 0;
}

std::optional<UpdateRelease> UpdateRelease::fromJson(const QJsonObject &object)
{
    const char *keys[] = {"version", "url", "sha256", "notes", "detailsURL"};
    for (const char *key : keys) {
        if (!object.value(QLatin1StringView(key)).isString())
            return std::nullopt;
    }
    return UpdateRelease{object.value(u"version"_s).toString(), object.value(u"url"_s).toString(),
                         object.value(u"sha256"_s).toString(), object.value(u"notes"_s).toString(),
                         object.value(u"detailsURL"_s).toString()};
}

QJsonObject UpdateRelease::toJson() const
{
    return QJsonObject{{u"version"_s, version}, {u"url"_s, url}, {u"sha256"_s, sha256},
                       {u"notes"_s, notes}, {u"detailsURL"_s, detailsURL}};
}
