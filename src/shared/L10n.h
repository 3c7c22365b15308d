#pragma once

#include <QList>
#include <QLocale>
#include <QString>
#include <QVariant>

#include <concepts>
#include <type_traits>

// Translates the program's texts. Keys are the zh-Hans source texts; a key without
// a translation is shown as it is.
namespace L10n {

struct AppLanguage
{
    QString id;
    QString name;
    bool operator==(const AppLanguage &) const = default;
};

// Text for the chosen language; no format processing at all without arguments.
QString tr(const QString &key);
// Text used as a printf-style format ("%@" string, "%ld"/"%d" integer, "%f" number, "%%",
// "%1$@" positional); no arguments means no format processing either.
QString trArgs(const QString &key, const QVariantList &args);

namespace detail {
// String-like arguments (a QStringBuilder sum, QStringView, QLatin1StringView) become QString:
// a QVariant holding such a type would print as empty text.
template<typename T>
QVariant toArgument(const T &value)
{
    if constexpr (std::is_same_v<T, QVariant>)
        return value;
    else if constexpr (std::is_enum_v<T>)
        return QVariant::fromValue(static_cast<std::underlying_type_t<T>>(value));
    else if constexpr (std::is_arithmetic_v<T>)
        return QVariant::fromValue(value);
    else if constexpr (std::is_constructible_v<QString, const T &>)
        return QVariant(QString(value));
    else if constexpr (requires { { value.toString() } -> std::convertible_to<QString>; })
        return QVariant(value.toString());
    else
        return QVariant::fromValue(value);
}
} // namespace detail

template<typename... Args>
QString tr(const QString &key, const Args &...args)
{
    return trArgs(key, QVariantList{detail::toArgument(args)...});
}

QList<AppLanguage> languages();
// The "uiLanguage" preference when it is listed, "en" otherwise; read on every call.
QString language();
QLocale locale();

// Fills a printf-style format with the arguments in the given locale. Integers are plain
// digits; reals take the locale's decimal separator without grouping. An unknown placeholder
// is copied as it is; one without an argument becomes empty.
QString format(const QString &format, const QVariantList &args, const QLocale &locale);

} // namespace L10n
