#pragma once

#include "platform/Paths.h"
#include "shared/Error.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

// Connects the agent clients found in a home folder to the bundle's MCP server and links the
// bundle's agent skill into their skill folders. Other servers, skills and settings stay.
namespace AgentInstaller {

// The name of the MCP server in every client and of the skill link.
inline constexpr char16_t serverName[] = u"kestro";
inline constexpr char16_t executablePath[] = u"Contents/Helpers/KestroMCP";
inline constexpr char16_t skillPath[] = u"Contents/Resources/AgentSkills/kestro";
inline constexpr char16_t skillFile[] = u"SKILL.md";
// Configuration files larger than this are left alone and reported as unreadable.
constexpr qint64 configReadLimit = 16 * 1024 * 1024;

// A client configuration that could not be updated. Fixed English texts: they end up in the
// result lines, which are English throughout.
class InstallError : public Error
{
public:
    enum class Code { invalidConfig, cannotWrite };

    explicit InstallError(Code code) : m_code(code) {}

    Code code() const { return m_code; }
    QString description() const override;

private:
    Code m_code;
};

// Links the skill and registers the server with Codex and with each JSON client whose folder
// exists. Never throws: returns one line per skill problem, then the Codex line, then one line
// per client. A configuration that cannot be read or is not a JSON object is never rewritten,
// and a "kestro" entry in a skill folder that is not a symbolic link is never replaced.
// Skill lines name the absolute skill folder, e.g. "Skill /home/me/.agents/skills: …".
QStringList install(const QString &bundle, const QString &home = Paths::home());

// The text a user hands to an agent to connect it by hand, in English or (for "zh-Hans")
// Chinese. Names the bundle when it is installed below /opt/ or ~/.local/opt/, otherwise the
// default location /opt/brisvane-download.
QString setupInstructions(const QString &bundle, const QString &language);

// Replaces the file with the data in one step: a new owner-only (0600) file is written beside
// it and renamed over it; the temporary file never outlives the call. Makes missing parent
// folders. Throws FileError or InstallError (cannotWrite).
void writePrivate(const QByteArray &data, const QString &path);

} // namespace AgentInstaller
