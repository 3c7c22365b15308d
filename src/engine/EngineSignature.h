#pragma once

#include <QString>
#include <QStringList>

#include <optional>

// What the engine check remembers about the files it verified: the build number, then
// six items per file (path, resolved path, size, file number, permissions, modification time).
class EngineSignature
{
public:
    struct Result
    {
        QStringList items;
        std::optional<QString> failingPath; // the first file that is missing or unusable
    };

    static Result build(const QString &bundleVersion, const QStringList &files);
    // The shortest decimal text that reads back as the same double, always with a point.
    static QString formatSeconds(double seconds);

    struct Record
    {
        QString version;
        bool canImpersonate = false; // the engine has a browser-impersonation target "chrome"
    };

    // The stored record of the last successful check; one without every field counts as none.
    static std::optional<Record> stored(const QStringList &signature);
    static void store(const QStringList &signature, const Record &record);
    static void forget();
};
