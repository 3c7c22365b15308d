#include "AgentInstaller.h"

#include "agents/TomlScan.h"
#include "platform/FileDescriptor.h"
#include "shared/BrowserBridge.h"
#include "shared/BrowserSession.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringDecoder>
#include <QUuid>

#include <cerrno>
#include <exception>
#include <optional>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString missingBundleLine = u"Brisvane Download MCP or skill is missing from this app bundle."_s;

// Skill folders below home, in the order they are linked.
const char16_t *const skillFolders[] = {u".agents/skills", u".claude/skills", u".cursor/skills"};

struct JsonClient
{
    const char16_t *name;
    const char16_t *file;      // below home
    const char16_t *serversKey;
    bool typed;                // whether the entry names its transport
};

const JsonClient jsonClients[] = {
    {u"Cursor", u".cursor/mcp.json", u"mcpServers", false},
    {u"Claude Code", u".claude.json", u"mcpServers", true},
    {u"Claude Desktop", u".config/Claude/claude_desktop_config.json", u"mcpServers", false},
    {u"VS Code", u".config/Code/User/mcp.json", u"servers", true},
};

QByteArray encoded(const QString &path)
{
    return QFile::encodeName(path);
}

bool isDirectory(const QString &path)
{
    struct stat info;
    return ::stat(encoded(path).constData(), &info) == 0 && S_ISDIR(info.st_mode);
}

// Whether anything is at the path, a dangling link included. An entry we cannot look at counts
// as present, so the read that follows reports why instead of the file being overwritten.
bool isPresent(const QString &path)
{
    struct stat info;
    return ::lstat(encoded(path).constData(), &info) == 0 || errno != ENOENT;
}

// mkdir -p with the usual rights, reporting the folder that could not be made.
void makePath(const QString &path)
{
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    qsizetype slash = 0;
    while (slash >= 0) {
        slash = absolute.indexOf(u'/', slash + 1);
        const QString prefix = slash < 0 ? absolute : absolute.left(slash);
        if (isDirectory(prefix))
            continue;
        if (::mkdir(encoded(prefix).constData(), 0777) != 0) {
            if (errno != EEXIST)
                throw FileError::fromErrno(prefix);
            if (!isDirectory(prefix))
                throw FileError(ENOTDIR, prefix);
        }
    }
}

// Reads a configuration file of at most configReadLimit bytes. Only regular files: a FIFO
// planted under the name must not hang the installer.
QByteArray readConfig(const QString &path)
{
    int fd;
    do {
        fd = ::open(encoded(path).constData(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0)
        throw FileError::fromErrno(path);
    const FileDescriptor file(fd);

    struct stat info;
    if (::fstat(file.get(), &info) != 0)
        throw FileError::fromErrno(path);
    if (S_ISDIR(info.st_mode))
        throw FileError(EISDIR, path);
    if (!S_ISREG(info.st_mode))
        throw FileError(EINVAL, path);
    if (info.st_size > AgentInstaller::configReadLimit)
        throw FileError(EFBIG, path);

    // A file that grew after fstat shows as one byte past the limit.
    const std::optional<QByteArray> content = file.readUpTo(AgentInstaller::configReadLimit, info.st_size);
    if (!content)
        throw FileError::fromErrno(path);
    if (content->size() > AgentInstaller::configReadLimit)
        throw FileError(EFBIG, path);
    return *content;
}

// Strict UTF-8: a lenient decode would write replacement characters back over the user's bytes.
// A leading byte-order mark is kept so that it is written back too.
QString decodeUtf8(const QByteArray &bytes, const QString &path)
{
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError())
        throw FileError(EILSEQ, path);
    return text;
}

// The text as a JSON string literal; its escapes are valid in a TOML basic string too.
QString jsonString(const QString &text)
{
    const QByteArray array = QJsonDocument(QJsonArray{text}).toJson(QJsonDocument::Compact);
    return QString::fromUtf8(array.mid(1, array.size() - 2));
}

QString failure(const std::exception &error)
{
    if (const auto *known = dynamic_cast<const Error *>(&error))
        return known->description();
    return AgentInstaller::InstallError(AgentInstaller::InstallError::Code::cannotWrite).description();
}

void linkSkill(const QString &entry, const QString &target)
{
    if (::symlink(encoded(target).constData(), encoded(entry).constData()) != 0)
        throw FileError::fromErrno(entry);
}

// Adds lines only for problems and for entries left alone.
void installSkills(const QString &home, const QString &skill, QStringList &lines)
{
    for (const char16_t *folder : skillFolders) {
        const QString directory = home + u'/' + QString::fromUtf16(folder);
        try {
            makePath(directory);
            const QString entry = directory + u'/' + QString::fromUtf16(AgentInstaller::serverName);
            struct stat info;
            if (::lstat(encoded(entry).constData(), &info) == 0) {
                if (S_ISLNK(info.st_mode)) {
                    // Our own link from an earlier install, perhaps to a bundle that moved.
                    if (::unlink(encoded(entry).constData()) != 0)
                        throw FileError::fromErrno(entry);
                    linkSkill(entry, skill);
                } else {
                    lines.append(u"Skipped existing skill: "_s + entry);
                }
            } else if (errno == ENOENT) {
                linkSkill(entry, skill);
            } else {
                throw FileError::fromErrno(entry);
            }
        } catch (const std::exception &error) {
            lines.append(u"Skill "_s + directory + u": "_s + failure(error));
        }
    }
}

// Whether a table header belongs to our server: its table or one below it, however the keys
// are quoted or spaced.
bool isServerTable(const TomlScan::Header &header)
{
    return header.path.size() >= 2 && header.path[0] == u"mcp_servers"_s
           && header.path[1] == QStringView(AgentInstaller::serverName);
}

QString installCodex(const QString &home, const QString &executable)
{
    using AgentInstaller::InstallError;
    const QString path = home + u"/.codex/config.toml"_s;
    try {
        QString text;
        if (isPresent(path))
            text = decodeUtf8(readConfig(path), path);

        // Trailing line breaks go, except a final CRLF which is kept whole. Done first too, so
        // that stray carriage returns at the end, which the edit drops anyway, are no fault.
        const auto trimBreaks = [](QString &content) {
            while (!content.endsWith(u"\r\n"_s) && (content.endsWith(u'\n') || content.endsWith(u'\r')))
                content.chop(1);
        };
        trimBreaks(text);

        // A file that does not parse is the user's to mend; any edit could make it worse.
        const std::optional<QList<TomlScan::Header>> headers = TomlScan::headers(text);
        if (!headers)
            throw InstallError(InstallError::Code::invalidConfig);
        // With an array of server tables, ours would land inside its last element.
        for (const TomlScan::Header &header : *headers)
            if (header.arrayOfTables && header.path == QStringList{u"mcp_servers"_s})
                throw InstallError(InstallError::Code::invalidConfig);

        // The server's table and its sub-tables go, each up to the next table header (one
        // inside a multi-line string is none); every other table stays where it was.
        bool removed = false;
        for (qsizetype i = headers->size() - 1; i >= 0; --i) {
            if (!isServerTable(headers->at(i)))
                continue;
            const qsizetype start = headers->at(i).lineStart;
            const qsizetype end = i + 1 < headers->size() ? headers->at(i + 1).lineStart : text.size();
            text.remove(start, end - start);
            removed = true;
        }

        trimBreaks(text);
        const QString separator = text.isEmpty() ? QString() : u"\n\n"_s;
        text += separator + u"[mcp_servers.kestro]\ncommand = "_s + jsonString(executable) + u'\n';

        // The server may still be defined another way (dotted keys, an inline table): a file
        // that defines it twice is lost to Codex, so it is left for the user to edit.
        if (!TomlScan::headers(text))
            throw InstallError(InstallError::Code::invalidConfig);
        AgentInstaller::writePrivate(text.toUtf8(), path);
        return removed ? u"Codex: refreshed"_s : u"Codex: connected"_s;
    } catch (const std::exception &error) {
        return u"Codex: "_s + failure(error);
    }
}

// One line for a client whose folder exists, nothing otherwise.
std::optional<QString> installJson(const QString &home, const JsonClient &client, const QString &executable)
{
    using AgentInstaller::InstallError;
    const QString name = QString::fromUtf16(client.name);
    const QString path = home + u'/' + QString::fromUtf16(client.file);
    if (!QFileInfo::exists(QFileInfo(path).absolutePath()))
        return std::nullopt;
    try {
        QJsonObject root;
        if (isPresent(path)) {
            const QByteArray content = readConfig(path);
            QJsonParseError error;
            const QJsonDocument document = QJsonDocument::fromJson(content, &error);
            if (error.error != QJsonParseError::NoError || !document.isObject())
                throw InstallError(InstallError::Code::invalidConfig);
            root = document.object();
        }

        const QString key = QString::fromUtf16(client.serversKey);
        const QJsonValue existing = root.value(key);
        if (!existing.isUndefined() && !existing.isObject())
            throw InstallError(InstallError::Code::invalidConfig);
        QJsonObject servers = existing.toObject();

        const QString server = QString::fromUtf16(AgentInstaller::serverName);
        const bool refreshed = servers.contains(server);
        QJsonObject entry{{u"command"_s, executable}};
        if (client.typed)
            entry.insert(u"type"_s, u"stdio"_s);
        servers.insert(server, entry);
        root.insert(key, servers);

        AgentInstaller::writePrivate(QJsonDocument(root).toJson(QJsonDocument::Indented), path);
        return name + (refreshed ? u": refreshed"_s : u": connected"_s);
    } catch (const std::exception &error) {
        return name + u": "_s + failure(error);
    }
}

} // namespace

namespace AgentInstaller {

QString InstallError::description() const
{
    switch (m_code) {
    case Code::invalidConfig:
        return u"Existing agent configuration is not a JSON object; edit it manually."_s;
    case Code::cannotWrite:
        return u"Could not update agent configuration."_s;
    }
    return {};
}

QStringList install(const QString &bundle, const QString &home)
{
    try {
        // Configurations outlive the working folder, so only absolute paths go into them.
        const QString app = QDir::cleanPath(QFileInfo(bundle).absoluteFilePath());
        const QString root = QDir::cleanPath(QFileInfo(home).absoluteFilePath());
        const QString executable = app + u'/' + QString::fromUtf16(executablePath);
        const QString skill = app + u'/' + QString::fromUtf16(skillPath);

        const QFileInfo program(executable);
        if (bundle.isEmpty() || !program.isFile() || !program.isExecutable()
            || !QFileInfo(skill + u'/' + QString::fromUtf16(skillFile)).isFile())
            return {missingBundleLine};

        QStringList lines;
        installSkills(root, skill, lines);
        lines.append(installCodex(root, executable));
        for (const JsonClient &client : jsonClients)
            if (const std::optional<QString> line = installJson(root, client, executable))
                lines.append(*line);
        return lines;
    } catch (const std::exception &error) {
        return {failure(error)};
    }
}

QString setupInstructions(const QString &bundle, const QString &language)
{
    const QString path = QDir::cleanPath(QFileInfo(bundle).absoluteFilePath());
    const QString localOpt = QDir::cleanPath(Paths::home()) + u"/.local/opt/"_s;
    // A build folder is temporary; only an installed copy belongs in permanent settings.
    const bool installed = !bundle.isEmpty() && (path.startsWith(u"/opt/"_s) || path.startsWith(localOpt));
    const QString app = installed ? path : u"/opt/brisvane-download"_s;
    const QString executable = app + u'/' + QString::fromUtf16(executablePath);
    const QString skill = app + u'/' + QString::fromUtf16(skillPath) + u'/' + QString::fromUtf16(skillFile);

    if (language == u"zh-Hans"_s)
        return u"请帮我在你当前使用的 Agent 中接入 Brisvane Download。\n\n"
               u"1. 先确认 Brisvane Download 已安装在 "_s
            + app
            + u"。如果没有，请告诉我先安装，不要把临时构建目录写进永久配置。\n"
              u"2. 按你当前客户端的配置格式，注册名为 kestro 的本地 stdio MCP 服务。执行文件路径如下，无需参数：\n"_s
            + executable + u"\n3. 如果客户端支持 Agent 技能，请按其规则安装或引用这个技能文件：\n"_s + skill
            + u"\n4. 保留已有的 MCP 服务和技能，不要覆盖其他配置。"
              u"完成后确认能发现 download_url、list_downloads、get_download；不要为了测试发起真实下载。"
              u"若需要重启 Agent 或批准工具访问，请告诉我。"_s;
    return u"Please connect Brisvane Download to the agent you are currently running.\n\n"
           u"1. Confirm Brisvane Download is installed at "_s
        + app
        + u". If it is missing, ask me to install it first; do not save a temporary build path in permanent "
          u"settings.\n"
          u"2. Register a local stdio MCP server named kestro using this client's configuration format. "
          u"Its executable needs no arguments:\n"_s
        + executable
        + u"\n3. If this client supports agent skills, install or reference this skill file according to its "
          u"rules:\n"_s
        + skill
        + u"\n4. Preserve existing MCP servers and skills. Verify that download_url, list_downloads, and "
          u"get_download are available, but do not start a real download just for setup. Tell me if I need to "
          u"restart the agent or approve tool access."_s;
}

void writePrivate(const QByteArray &data, const QString &path)
{
    const QString parent = QFileInfo(path).absolutePath();
    makePath(parent);
    const QString temporary = parent + u"/.kestro-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    const QByteArray encodedTemporary = encoded(temporary);
    try {
        BrowserBridge::writePrivate(data, temporary);
        // The bytes reach the disk before the name moves, so a crash cannot leave an empty file
        // in place of the old one.
        int fd;
        do {
            fd = ::open(encodedTemporary.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        } while (fd < 0 && errno == EINTR);
        if (fd < 0)
            throw FileError::fromErrno(temporary);
        const FileDescriptor written(fd);
        if (::fsync(written.get()) != 0)
            throw FileError::fromErrno(temporary);
    } catch (const BrowserSession::SessionError &) {
        // The exclusive create failed, so there is nothing of ours to remove; its own text
        // speaks of browser sessions.
        throw InstallError(InstallError::Code::cannotWrite);
    } catch (const FileError &error) {
        // The user knows the configuration file, not our temporary name beside it.
        ::unlink(encodedTemporary.constData());
        throw FileError(error.errorNumber(), path);
    } catch (...) {
        ::unlink(encodedTemporary.constData());
        throw;
    }
    if (::rename(encodedTemporary.constData(), encoded(path).constData()) != 0) {
        ::unlink(encodedTemporary.constData());
        throw InstallError(InstallError::Code::cannotWrite);
    }
}

} // namespace AgentInstaller
