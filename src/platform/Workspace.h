#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>
#include <optional>

// Opening files with the user's applications. Every call returns at once; the completion
// runs later on the context's thread (never from inside the call), and not at all once the
// context is gone. The error text is the system's own, passed on as it is.
namespace Workspace {

using Completion = std::function<void(std::optional<QString> error)>;

// Tests point this variable at a stand-in program, which then gets the file as its only
// argument instead of the desktop's opener.
inline constexpr char openCommandVariable[] = "KESTRO_OPEN_FILE_COMMAND";

// Opens the file with the desktop's default application for its type (xdg-open, or
// "gio open" where xdg-open is missing). Fails when the opener cannot start or reports failure.
void openWithDefault(const QString &path, QObject *context, Completion done);

// Opens the file with a chosen application: a desktop entry (".desktop", its Exec line is run)
// or an executable (run with the file as its argument). Fails when it cannot be started.
void openWithApplication(const QString &path, const QString &applicationPath, QObject *context,
                         Completion done);

// Shows the file selected in the file manager (D-Bus org.freedesktop.FileManager1.ShowItems);
// when that call fails, opens the containing folder with openWithDefault.
void reveal(const QString &path, QObject *context, Completion done);

// The Exec value of the [Desktop Entry] group of a desktop entry file; nothing when absent.
std::optional<QString> desktopEntryExec(const QByteArray &content);

// The command line of an Exec value for one file: %f %F %u %U become the path, "%%" a percent
// sign, other field codes are dropped, and the path is appended when no file code appears.
// Nothing when the value is malformed (unterminated quote, no program).
std::optional<QStringList> execCommand(const QString &exec, const QString &filePath);

} // namespace Workspace
