#pragma once

#include <QJsonObject>
#include <QString>

// The relocatable application folder: <bundle>/Contents/{Linux,Helpers,Resources,Info.json}.
class Bundle
{
public:
    explicit Bundle(const QString &path);

    // The bundle that holds the running program (Contents/Linux/… or Contents/Helpers/…);
    // an invalid bundle when the program runs from elsewhere.
    static Bundle main();
    // The bundle of a program path, or an invalid one.
    static Bundle containing(const QString &programPath);
    // The bundle of a helper program at `programPath` (BUNDLE/Contents/Helpers/NAME): absolute,
    // links resolved, and the last three components removed. Empty when the path is empty or
    // does not exist.
    static QString ofHelper(const QString &programPath);

    bool isValid() const { return !m_path.isEmpty(); }
    QString path() const { return m_path; }
    QString contents() const;
    QString helpers() const;
    QString resources() const;
    QString mainProgram() const;

    // A value of Contents/Info.json, undefined when absent or unreadable.
    QJsonValue infoValue(const QString &key) const;

private:
    QString m_path;
    QJsonObject m_info;
};
