#pragma once

#include <QSettings>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <QVariantMap>

#include <optional>

// The per-user preferences store shared by all programs of the bundle
// (an INI file under $XDG_CONFIG_HOME). Getters return nothing when the key is
// absent or its value does not have the asked type.
// Each instance is for one thread; make a new one where needed, they share the file.
class Preferences
{
public:
    Preferences();

    std::optional<QString> string(const QString &key) const;
    std::optional<qint64> integer(const QString &key) const;
    std::optional<bool> boolean(const QString &key) const;
    std::optional<double> real(const QString &key) const;
    std::optional<QStringList> stringList(const QString &key) const;
    std::optional<QVariantMap> dictionary(const QString &key) const;

    bool contains(const QString &key) const;
    void set(const QString &key, const QVariant &value);
    void remove(const QString &key);
    void sync();

    QString fileName() const;

private:
    QVariant raw(const QString &key) const;

    mutable QSettings m_settings;
};
