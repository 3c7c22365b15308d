#pragma once

#include "shared/BrowserTransfer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QUuid>

#include <optional>

// What the programs share to pass files between them. Private files: owner-only, created
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

// The browser inbox: the native host drops each transfer there as "<UUID>.json" and the
// application takes it exactly once.
constexpr qint64 inboxReadLimit = 1048576;
// $XDG_DATA_HOME/Kestro/BrowserInbox
QString inbox();
// The inbox file of a transfer: "<UUID in upper case>.json" in the directory.
QString inboxFile(const QUuid &id, const QString &directory = inbox());
// Validates the transfer and writes the received bytes, unchanged, to a new private file;
// returns its UUID. Throws the decoding error, SessionError or FileError; nothing is written
// for a rejected transfer.
QUuid store(const QByteArray &data, const QString &directory = inbox());
// Reads, validates and removes a stored transfer. The file is removed whatever happens, so a
// transfer can be taken once only.
BrowserTransfer consume(const QUuid &id, const QString &directory = inbox());
// Removes inbox entries named by a UUID that are more than 300 seconds old. Never throws.
void cleanInbox(const QString &directory = inbox());

// "kestro://import?id=<UUID>": the UUID, or nothing unless the text matches exactly.
std::optional<QUuid> transferID(const QString &urlText);
// "kestro://connect?extension=<32 letters a-p>": the ID, or nothing.
std::optional<QString> extensionID(const QString &urlText);
bool isExtensionID(const QString &text);

// The native-messaging host registration with Chromium-family browsers.
inline constexpr char16_t hostName[] = u"dev.kestro.bridge";
inline constexpr char16_t manifestFileName[] = u"dev.kestro.bridge.json";
inline constexpr char16_t extensionIDsKey[] = u"browserExtensionIDs";
constexpr qsizetype maxRememberedExtensions = 8;
// The browser folders below $XDG_CONFIG_HOME, in the order they are visited.
QStringList browserDirectories();
// The manifest for a bundle and the remembered IDs (the last 8 are allowed).
QByteArray manifest(const QString &bundlePath, const QStringList &extensionIDs);
// Remembers a new extension ID (if given) and writes the manifest into every browser folder
// that exists. Does nothing when no ID is known. Throws SessionError when no browser folder
// exists or the ID is malformed, FileError on the first write failure; the remembered IDs only
// change after every manifest was written. Named `register` in the design; that is a C++ keyword.
void registerHost(const std::optional<QString> &extensionID, const QString &bundlePath);
// The same for the bundle of the running program.
void registerHost(const std::optional<QString> &extensionID = std::nullopt);

} // namespace BrowserBridge
