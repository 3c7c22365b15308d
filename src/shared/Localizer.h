#pragma once

#include "shared/L10n.h"

#include <QHash>
#include <QList>
#include <QLocale>
#include <QString>
#include <QVariantList>

#include <optional>

// The language list and the translation tables of one resources folder:
// "Language.json" plus one "<id>.lproj/Localizable.json" per language.
// Read-only after construction, so one instance may be shared by all threads.
class Localizer
{
public:
    // Resource files are part of the bundle, but a runaway file must not eat the memory.
    static constexpr qint64 maxLanguageListBytes = 256 * 1024;
    static constexpr qint64 maxTableBytes = 8 * 1024 * 1024;

    // An empty path gives the built-in languages and no tables.
    explicit Localizer(const QString &resourcesPath);

    static QList<L10n::AppLanguage> builtInLanguages();
    static QLocale localeFor(const QString &languageId);

    const QList<L10n::AppLanguage> &languages() const { return m_languages; }
    bool isListed(const QString &languageId) const;
    bool hasBundle(const QString &languageId) const;
    // The preferred language when it is listed, "en" otherwise.
    QString resolve(const QString &preferred) const;

    // The table's text for the key, nothing when the language has no table or no entry.
    std::optional<QString> lookup(const QString &key, const QString &languageId) const;
    // The text for the key, or the key itself.
    QString tr(const QString &key, const QString &languageId) const;
    // As above, used as a format filled with the arguments in the language's locale;
    // no arguments means no format processing.
    QString tr(const QString &key, const QVariantList &args, const QString &languageId) const;

private:
    QList<L10n::AppLanguage> m_languages;
    QHash<QString, QHash<QString, QString>> m_bundles;
};
