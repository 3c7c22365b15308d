#pragma once

#include <QString>

#include <optional>

// The file work after an installer download. Everything here may block and runs on a worker
// thread; errors are thrown as UpdateError (a bad installer) or FileError (the system's own).
namespace InstallerCheck {

inline constexpr qint64 minimumSize = 1;
inline constexpr qint64 maximumSize = 1000000000;
inline constexpr qint64 chunkSize = 1048576;

// Size within the bounds, then the SHA-256 digest as lower-case hex equal to sha256 (exactly).
void verifyInstaller(const QString &path, const QString &sha256);

// The lower-case hex SHA-256 digest of the file, read in chunks.
QString sha256Hex(const QString &path);

// "Brisvane Download-<version>.AppImage" in folder, or with "-" and the first 8 characters of a
// new UUID before the extension when that name is taken.
QString destinationPath(const QString &folder, const QString &version);

// Verifies the downloaded file, moves it to its destination in folder without replacing any
// file and makes it executable (0755). Returns the destination. A file that fails
// verification stays where it is.
QString install(const QString &downloaded, const QString &sha256, const QString &folder,
                const QString &version);

} // namespace InstallerCheck
