#pragma once

#include <QByteArray>
#include <QString>

// Makes the desktop know the application: its desktop entry and icon below $XDG_DATA_HOME,
// and the default handler for "kestro:" URLs in $XDG_CONFIG_HOME/mimeapps.list. Every file is
// replaced atomically and only when its content changes; a failed write keeps the old file.
namespace DesktopIntegration {

inline constexpr char16_t entryName[] = u"brisvane-download.desktop";
inline constexpr char16_t schemeType[] = u"x-scheme-handler/kestro";
constexpr qint64 maxFileBytes = 1048576;

QString entryPath();
QString iconPath();
QString mimeAppsPath();

// The desktop entry that starts `program` with the URL; empty when the path cannot be written
// into an Exec line (a line break in it).
QByteArray desktopEntry(const QString &program);
// The program path as one Exec argument, quoted and escaped where the desktop-entry rules ask.
QString execArgument(const QString &program);
// mimeapps.list with our entry as the default for the scheme; every other line stays as it was.
QByteArray withDefaultHandler(const QByteArray &mimeApps);

// Replaces the file with content unless it holds that already. False when reading the old file
// or any step of the write fails; the old file is then left as it was.
bool writeIfChanged(const QString &path, const QByteArray &content);

// Writes the icon, the entry and the default handler; false when any of them failed.
bool install(const QString &program);

} // namespace DesktopIntegration
