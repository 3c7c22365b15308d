#pragma once

#include <QByteArray>
#include <QString>

// Files that one process of the system hands to another: owner-only, created
// exclusively, never through a symbolic link, and fresh for five minutes.
namespace BrowserBridge {

constexpr qint64 defaultPrivateReadLimit = 1048576;
constexpr int freshnessSeconds = 300;

// Throws FileError when the directory cannot be made or narrowed to 0700.
void privateDirectory(const QString &path);
// Throws BrowserSession::SessionError when the file cannot be created, FileError on a write error.
void writePrivate(const QByteArray &data, const QString &path);
// Throws BrowserSession::SessionError for every refusal.
QByteArray readPrivate(const QString &path, qint64 maxBytes = defaultPrivateReadLimit);

} // namespace BrowserBridge
