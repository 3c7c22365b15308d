#include "Preferences.h"

#include <cmath>

using namespace Qt::StringLiterals;

// The INI format gives scalars back as text; these getters read them strictly.
Preferences::Preferences()
    : m_settings(QSettings::IniFormat, QSettings::UserScope, u"Kestro"_s, u"Kestro"_s)
{
}

QVariant Preferences::raw(const QString &key) const
{
    return m_settings.value(key);
}

std::optional<QString> Preferences::string(const QString &key) const
{
    const QVariant value = raw(key);
    if (value.typeId() == QMetaType::QString)
        return value.toString();
    return std::nullopt;
}

std::optional<qint64> Preferences::integer(const QString &key) const
{
    const QVariant value = raw(key);
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::LongLong:
    case QMetaType::UInt:
        return value.toLongLong();
    case QMetaType::QString: {
        bool ok = false;
        const qint64 number = value.toString().toLongLong(&ok);
        return ok ? std::optional(number) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<bool> Preferences::boolean(const QString &key) const
{
    const QVariant value = raw(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    if (value.typeId() == QMetaType::QString) {
        const QString text = value.toString();
        if (text == u"true"_s)
            return true;
        if (text == u"false"_s)
            return false;
    }
    return std::nullopt;
}

std::optional<double> Preferences::real(const QString &key) const
{
    const QVariant value = raw(key);
    switch (value.typeId()) {
    case QMetaType::Double:
    case QMetaType::Float:
    case QMetaType::Int:
    case QMetaType::LongLong:
        return value.toDouble();
    case QMetaType::QString: {
        bool ok = false;
        const double number = value.toString().toDouble(&ok);
        return ok && std::isfinite(number) ? std::optional(number) : std::nullopt;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QStringList> Preferences::stringList(const QString &key) const
{
    const QVariant value = raw(key);
    if (value.typeId() == QMetaType::QStringList)
        return value.toStringList();
    // The INI format cannot tell a one-item list from a string.
    if (value.typeId() == QMetaType::QString)
        return QStringList{value.toString()};
    return std::nullopt;
}

std::optional<QVariantMap> Preferences::dictionary(const QString &key) const
{
    const QVariant value = raw(key);
    if (value.typeId() == QMetaType::QVariantMap)
        return value.toMap();
    return std::nullopt;
}

bool Preferences::contains(const QString &key) const
{
    return m_settings.contains(key);
}

void Preferences::set(const QString &key, const QVariant &value)
{
    m_settings.setValue(key, value);
    m_settings.sync();
}

void Preferences::remove(const QString &key)
{
    m_settings.remove(key);
    m_settings.sync();
}

void Preferences::sync()
{
    m_settings.sync();
}

QString Preferences::fileName() const
{
    return m_settings.fileName();
}
