#pragma once

#include <QByteArray>
#include <QString>
#include <QUuid>

// Where the MCP server and the application exchange agent requests, and how the two files of
// one exchange are named. Both programs link this so that they always agree.
namespace AgentWire {

constexpr qint64 requestReadLimit = 65536;
constexpr qint64 responseReadLimit = 1048576;
inline constexpr char16_t requestSuffix[] = u".request.json";
inline constexpr char16_t responseSuffix[] = u".response.json";

// $KESTRO_AGENT_BRIDGE_DIR when set and not empty, else $XDG_DATA_HOME/Kestro/AgentBridge.
// Read on every call.
QString directory();
// "<UUID in upper case>.request.json" / ".response.json" in the directory.
QString request(const QUuid &id, const QString &directory = AgentWire::directory());
QString response(const QUuid &id, const QString &directory = AgentWire::directory());
// Whether both sides may watch the file system for the other's file instead of waiting for
// their next poll; KESTRO_AGENT_POLL_ONLY with a value turns it off (the benchmark compares).
bool watchesFiles();
// A UUID in its plain 8-4-4-4-12 form, in either case; a null UUID for any other text
// (braces, spaces, other lengths).
QUuid parseID(QStringView text);
// The exchange id of a request or response file name, or a null UUID for any other name.
QUuid exchangeID(const QString &fileName, const char16_t *suffix);

// Writes a private file that appears under its final name only when complete: the bytes go to
// a hidden temporary file beside it (created exclusively, no-follow, 0600) which is then
// renamed without replacing anything. Throws like BrowserBridge::writePrivate; the temporary
// file never outlives the call.
void writeComplete(const QByteArray &data, const QString &path);
// Temporary files of writeComplete start with this; a writer killed mid-write leaves one.
inline constexpr char16_t partialPrefix[] = u".kestro-partial-";
// A request an answering program has taken for itself (renamed, so no second one answers it).
inline constexpr char16_t claimedPrefix[] = u".kestro-claimed-";

} // namespace AgentWire
