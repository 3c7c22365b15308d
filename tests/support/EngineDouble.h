#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// Helpers around tests/support/fake-yt-dlp, the stand-in for the engine.
namespace EngineDouble {

// The double in the source tree (do not modify it; makeBundle copies it).
QString scriptPath();

// Builds a bundle for the engine service below bundleDir:
//   Contents/Helpers/yt-dlp   a copy of the double (tests may touch or replace it)
//   Contents/Helpers/{ffmpeg,ffprobe,deno}   executable stubs that exit 0
//   Contents/Info.json   {"CFBundleVersion": "7", "CFBundleShortVersionString": "1.0.0"}
//   Contents/Resources/EnginePlugins/
// Returns the Helpers directory; a failure aborts the test program.
QString makeBundle(const QString &bundleDir);

// Points FAKE_YTDLP_START_LOG of this process (and so of its children) at a new empty file
// below the test's scratch root and returns its path.
QString enableStartLog();

// The start records of the double, oldest first: {"argv", "pid", "env_session", "cwd", "env"}.
// A missing log gives an empty list; an unreadable line aborts the test program.
QList<QJsonObject> starts(const QString &logPath);

// The argument list of one start record.
QStringList arguments(const QJsonObject &start);

} // namespace EngineDouble
