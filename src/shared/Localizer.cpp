#include "Localizer.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

std::optional<QByteArray> readBounded(const QString &path, qint64 maxBytes)
{
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly))
        return std::nullopt;
    // Reading one byte more tells a file at the limit from a longer one.
    const QByteArray data = file.read(maxBytes + 1);
    if (file.error() != QFileDevice::NoError || data.size() > maxBytes)
        return std::nullopt;
    return data;
}

// All or nothing: one entry of the wrong shape and the whole list is refused.
std::optional<QList<L10n::AppLanguage>> readLanguages(const QString &path)
{
    const std::optional<QByteArray> data = readBounded(path, Localizer::maxLanguageListBytes);
    if (!data)
        return std::nullopt;
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(*data, &error);
    if (error.error != QJsonParseError::NoError || !document.isArray())
        return std::nullopt;
    QList<L10n::AppLanguage> languages;
    for (const QJsonValue &value : document.array()) {
        const QJsonObject object = value.toObject();
        const QJsonValue id = object.value(u"id"_s);
        const QJsonValue name = object.value(u"name"_s);
        if (!value.isObject() || !id.isString() || !name.isString())
            return std::nullopt;
        languages.append({id.toString(), name.toString()});
    }
    return languages;
}

// A folder without a readable table still counts as a bundle: every lookup falls back to the key.
std::optional<QHash<QString, QString>> readBundle(const QString &resourcesPath, const QString &id)
{
    // The id names a folder; one that reaches elsewhere is treated as missing.
    if (id.isEmpty() || id.contains(u'/') || id == u".."_s)
        return std::nullopt;
    const QString folder = resourcesPath + u'/' + id + u".lproj"_s;
    if (!QFileInfo(folder).isDir())
        return std::nullopt;
    QHash<QString, QString> table;
    const std::optional<QByteArray> data = readBounded(folder + u"/Localizable.json"_s, Localizer::maxTableBytes);
    if (!data)
        return table;
    const QJsonObject object = QJsonDocument::fromJson(*data).object();
    for (auto it = object.constBegin(); it != object.constEnd(); ++it) {
        if (it.value().isString())
            table.insert(it.key(), it.value().toString());
    }
    return table;
}

} // namespace

Localizer::Localizer(const QString &resourcesPath)
{
    std::optional<QList<L10n::AppLanguage>> listed;
    if (!resourcesPath.isEmpty())
        listed = readLanguages(resourcesPath + u"/Language.json"_s);
    m_languages = listed ? *listed : builtInLanguages();
    if (resourcesPath.isEmpty())
        return;
    for (const L10n::AppLanguage &language : std::as_const(m_languages)) {
        if (m_bundles.contains(language.id))
            continue;
        if (std::optional<QHash<QString, QString>> table = readBundle(resourcesPath, language.id))
            m_bundles.insert(language.id, std::move(*table));
    }
}

QList<L10n::AppLanguage> Localizer::builtInLanguages()
{
    return {{u"en"_s, u"English"_s}, {u"zh-Hans"_s, u"简体中文"_s}};
}

QLocale Localizer::localeFor(const QString &languageId)
{
    // QLocale reads both "zh-Hans" and "zh_Hans"; the underscore form is the one it documents.
    return QLocale(QString(languageId).replace(u'-', u'_'));
}

bool Localizer::isListed(const QString &languageId) const
{
    return std::any_of(m_languages.cbegin(), m_languages.cend(),
                       [&](const L10n::AppLanguage &language) { return language.id == languageId; });
}

bool Localizer::hasBundle(const QString &languageId) const
{
    return m_bundles.contains(languageId);
}

QString Localizer::resolve(const QString &preferred) const
{
    return isListed(preferred) ? preferred : u"en"_s;
}

std::optional<QString> Localizer::lookup(const QString &key, const QString &languageId) const
{
    const auto bundle = m_bundles.constFind(languageId);
    if (bundle == m_bundles.cend())
        return std::nullopt;
    const auto text = bundle->constFind(key);
    if (text == bundle->cend())
        return std::nullopt;
    return *text;
}

QString Localizer::tr(const QString &key, const QString &languageId) const
{
    return lookup(key, languageId).value_or(key);
}

QString Localizer::tr(const QString &key, const QVariantList &args, const QString &languageId) const
{
    const QString text = tr(key, languageId);
    if (args.isEmpty())
        return text;
    return L10n::format(text, args, localeFor(languageId));
}
