// Connecting agent clients and linking the skill: what is written, what is left alone.
#include "FileSizeLimit.h"
#include "TestEnvironment.h"
#include "agents/AgentInstaller.h"
#include "platform/Paths.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QUuid>

#include <cerrno>
#include <functional>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

const QString missingBundle = u"Brisvane Download MCP or skill is missing from this app bundle."_s;
const QString notAnObject = u"Existing agent configuration is not a JSON object; edit it manually."_s;

QByteArray read(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

int mode(const QString &path)
{
    struct stat info;
    return ::lstat(QFile::encodeName(path).constData(), &info) == 0 ? int(info.st_mode & 07777) : -1;
}

bool isLink(const QString &path)
{
    return QFileInfo(path).isSymLink();
}

QString linkTarget(const QString &path)
{
    char buffer[4096];
    const ssize_t size = ::readlink(QFile::encodeName(path).constData(), buffer, sizeof buffer);
    return size < 0 ? QString() : QFile::decodeName(QByteArray(buffer, size));
}

void makeLink(const QString &target, const QString &path)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    ASSERT_EQ(::symlink(QFile::encodeName(target).constData(), QFile::encodeName(path).constData()), 0);
}

QStringList entries(const QString &directory)
{
    return QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

QString fileError(int number, const QString &path)
{
    return FileError(number, path).description();
}

// The file as Python's tomllib reads it (as JSON), or nothing when it does not parse.
std::optional<QJsonObject> tomllibRead(const QString &path)
{
    QProcess python;
    python.start(u"/usr/bin/python3"_s, {u"-c"_s,
                                         u"import json, sys, tomllib\n"
                                         u"try:\n"
                                         u"    print(json.dumps(tomllib.load(open(sys.argv[1], 'rb')), default=str))\n"
                                         u"except tomllib.TOMLDecodeError:\n"
                                         u"    print('invalid')\n"_s,
                                         path});
    EXPECT_TRUE(python.waitForFinished(60000));
    const QJsonDocument document = QJsonDocument::fromJson(python.readAllStandardOutput());
    if (!document.isObject())
        return std::nullopt;
    return document.object();
}

// A bundle with the server and the skill, and an empty home, fresh for every test. The bundle
// name holds a quote so that every configuration must escape the path.
class AgentInstallerTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        base = TestEnvironment::makeDirectory(u"case-"_s + QUuid::createUuid().toString(QUuid::WithoutBraces));
        bundle = base + u"/Brisvane \"Download\""_s;
        home = base + u"/home"_s;
        QDir().mkpath(home);
        TestEnvironment::writeFile(executable(), "#!/bin/sh\n");
        ASSERT_TRUE(QFile::setPermissions(executable(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        TestEnvironment::writeFile(skill() + u"/SKILL.md"_s, "---\nname: kestro\n---\n");
    }

    QString executable() const { return bundle + u"/Contents/Helpers/KestroMCP"_s; }
    QString skill() const { return bundle + u"/Contents/Resources/AgentSkills/kestro"_s; }
    // The executable as a TOML/JSON string literal.
    QString quotedExecutable() const
    {
        return u'"' + QString(executable()).replace(u"\""_s, u"\\\""_s) + u'"';
    }
    QByteArray codexTable() const
    {
        return (u"[mcp_servers.kestro]\ncommand = "_s + quotedExecutable() + u'\n').toUtf8();
    }
    QString codexConfig() const { return home + u"/.codex/config.toml"_s; }
    QString cursorConfig() const { return home + u"/.cursor/mcp.json"_s; }

    QStringList install() const { return AgentInstaller::install(bundle, home); }

    QString base;
    QString bundle;
    QString home;
};

} // namespace

TEST_F(AgentInstallerTest, FreshHomeConnectsThenRefreshes)
{
    // Linking the skill makes .cursor, so Cursor is configured too; Claude Code always is.
    EXPECT_EQ(install(), (QStringList{u"Codex: connected"_s, u"Cursor: connected"_s, u"Claude Code: connected"_s}));
    EXPECT_EQ(read(codexConfig()), codexTable());
    EXPECT_EQ(mode(codexConfig()), 0600);
    for (const QString &folder : {u".agents/skills"_s, u".claude/skills"_s, u".cursor/skills"_s}) {
        const QString link = home + u'/' + folder + u"/kestro"_s;
        EXPECT_TRUE(isLink(link)) << link.toStdString();
        EXPECT_EQ(linkTarget(link), skill());
    }

    EXPECT_EQ(install(), (QStringList{u"Codex: refreshed"_s, u"Cursor: refreshed"_s, u"Claude Code: refreshed"_s}));
    EXPECT_EQ(read(codexConfig()), codexTable());
    EXPECT_EQ(QJsonDocument::fromJson(read(home + u"/.claude.json"_s)).object(),
              (QJsonObject{{u"mcpServers"_s,
                            QJsonObject{{u"kestro"_s, QJsonObject{{u"command"_s, executable()}, {u"type"_s, u"stdio"_s}}}}}}));
    // Nothing half-written stays behind.
    for (const QString &directory : QStringList{home, home + u"/.codex"_s, home + u"/.cursor"_s})
        for (const QString &name : entries(directory))
            EXPECT_FALSE(name.startsWith(u".kestro-"_s)) << name.toStdString();
}

TEST_F(AgentInstallerTest, RelativeBundleIsWrittenAbsolute)
{
    const QString previous = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(base));
    const QStringList lines = AgentInstaller::install(u"./Brisvane \"Download\"/"_s, home);
    QDir::setCurrent(previous);
    EXPECT_EQ(lines.value(0), u"Codex: connected"_s);
    EXPECT_EQ(read(codexConfig()), codexTable());
    EXPECT_EQ(linkTarget(home + u"/.agents/skills/kestro"_s), skill());
}

TEST_F(AgentInstallerTest, CodexKeepsEverythingButTheServerTables)
{
    struct Case
    {
        const char *name;
        QByteArray before;
        QByteArray keptText; // what precedes the new table
        bool refreshed;
    };
    const Case cases[] = {
        {"empty file", "", "", false},
        {"blank lines only", "\n\r\n\n", "\n\r\n\n\n", false},
        {"trailing line feeds", "model = \"o3\"\n\n\n", "model = \"o3\"\n\n", false},
        {"no final line break", "model = \"o3\"", "model = \"o3\"\n\n", false},
        {"line feed then carriage return", "a = 1\n\r", "a = 1\n\n", false},
        {"lone carriage returns", "a = 1\r\r", "a = 1\n\n", false},
        // A final CRLF is one unit and stays; only the line feeds after it go.
        {"final CRLF", "a = 1\r\n", "a = 1\r\n\n\n", false},
        {"CRLF then line feeds", "a = 1\r\n\n\n", "a = 1\r\n\n\n", false},
        {"similar names stay",
         "[mcp_servers.kestro2]\ncommand = \"x\"\n# [mcp_servers.kestro]\n[mcp_servers.other.kestro]\n",
         "[mcp_servers.kestro2]\ncommand = \"x\"\n# [mcp_servers.kestro]\n[mcp_servers.other.kestro]\n\n", false},
        {"table and sub-table before other tables",
         "model = \"o3\"\n\n[mcp_servers.kestro]\ncommand = \"/old\"\nargs = [\"--x\"]\n\n"
         "[mcp_servers.kestro.env]\nTOKEN = \"1\"\n\n[mcp_servers.other]\ncommand = \"/other\"\n\n[profiles.fast]\nmodel = \"x\"\n",
         "model = \"o3\"\n\n[mcp_servers.other]\ncommand = \"/other\"\n\n[profiles.fast]\nmodel = \"x\"\n\n", true},
        {"tables scattered",
         "[mcp_servers.kestro.env]\nA = \"1\"\n[a]\nx = 1\n[mcp_servers.kestro]\ncommand = \"/old\"\n[b]\ny = 2\n",
         "[a]\nx = 1\n[b]\ny = 2\n\n", true},
        {"spaced header with CRLF", "  [ mcp_servers.kestro.env ]\t\r\nA = 1\r\n\t[z]\r\n", "\t[z]\r\n\n\n", true},
        {"header at the very end", "x = 1\n[mcp_servers.kestro]", "x = 1\n\n", true},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        TestEnvironment::writeFile(codexConfig(), test.before);
        const QStringList lines = install();
        EXPECT_EQ(lines.value(0), test.refreshed ? u"Codex: refreshed"_s : u"Codex: connected"_s);
        EXPECT_EQ(read(codexConfig()), test.keptText + codexTable());
    }
}

TEST_F(AgentInstallerTest, CodexFileIsNeverLeftUnreadable)
{
    const QString manual = u"Codex: "_s + notAnObject;
    struct Case
    {
        const char *name;
        QByteArray before;
        QString line;
        QByteArray otherValue; // other.x as tomllib reads it afterwards, when there is a table "other"
    };
    const Case cases[] = {
        {"header with a comment", "[mcp_servers.kestro] # ours\ncommand = \"/old\"\n\n[other]\nx = 1\n",
         u"Codex: refreshed"_s, "1"},
        {"quoted keys", "[mcp_servers.\"kestro\"]\ncommand = \"/old\"\n[ 'mcp_servers' . kestro . env ]\nA = \"1\"\n",
         u"Codex: refreshed"_s, {}},
        {"multi-line string holding a header line",
         "[mcp_servers.kestro]\ncommand = \"/old\"\nnote = \"\"\"\n[not a table]\n\"\"\"\n\n[other]\nx = 2\n",
         u"Codex: refreshed"_s, "2"},
        {"fake header inside another table's string", "[other]\nx = '''\n[mcp_servers.kestro]\n'''\n",
         u"Codex: connected"_s, "\"[mcp_servers.kestro]\\n\""},
        {"dotted key", "mcp_servers.kestro.command = \"/old\"\n", manual, {}},
        {"dotted key below the servers table", "[mcp_servers]\nkestro.command = \"/old\"\n", manual, {}},
        {"inline table", "mcp_servers = { kestro = { command = \"/old\" } }\n", manual, {}},
        {"inline table of other servers", "mcp_servers = { other = { command = \"/x\" } }\n", manual, {}},
        {"array of tables", "[[mcp_servers]]\nname = \"x\"\n", manual, {}},
        {"already broken", "[other\nx = 1\n", manual, {}},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        TestEnvironment::writeFile(codexConfig(), test.before);
        EXPECT_EQ(install().value(0), test.line);
        if (test.line == manual) {
            EXPECT_EQ(read(codexConfig()), test.before);
            continue;
        }
        const std::optional<QJsonObject> written = tomllibRead(codexConfig());
        ASSERT_TRUE(written) << read(codexConfig()).toStdString();
        const QJsonObject servers = written->value(u"mcp_servers"_s).toObject();
        EXPECT_EQ(servers.value(u"kestro"_s).toObject(), (QJsonObject{{u"command"_s, executable()}}));
        if (!test.otherValue.isEmpty()) {
            EXPECT_EQ(written->value(u"other"_s).toObject().value(u"x"_s),
                      QJsonDocument::fromJson("[" + test.otherValue + "]").array().first());
        }
    }
}

TEST_F(AgentInstallerTest, FailedWritesKeepTheOldFiles)
{
    const QByteArray codex = "model = \"o3\"\n";
    const QByteArray cursor = R"({"mcpServers":{"other":{"command":"/x"}}})";
    TestEnvironment::writeFile(codexConfig(), codex);
    TestEnvironment::writeFile(cursorConfig(), cursor);
    QStringList lines;
    {
        // Every new file is larger than this, as on a disk that is full.
        const FileSizeLimit limit(16);
        lines = install();
    }
    EXPECT_EQ(lines, (QStringList{u"Codex: "_s + fileError(EFBIG, codexConfig()),
                                  u"Cursor: "_s + fileError(EFBIG, cursorConfig()),
                                  u"Claude Code: "_s + fileError(EFBIG, home + u"/.claude.json"_s)}));
    EXPECT_EQ(read(codexConfig()), codex);
    EXPECT_EQ(read(cursorConfig()), cursor);
    EXPECT_FALSE(QFileInfo::exists(home + u"/.claude.json"_s));
    for (const QString &directory : QStringList{home, home + u"/.codex"_s, home + u"/.cursor"_s})
        for (const QString &name : entries(directory))
            EXPECT_FALSE(name.startsWith(u".kestro-"_s)) << name.toStdString();
}

TEST_F(AgentInstallerTest, UnreadableCodexConfigIsLeftAlone)
{
    struct Case
    {
        const char *name;
        std::function<void(const QString &)> make;
        QString line;
    };
    const QString path = codexConfig();
    const Case cases[] = {
        {"a folder", [](const QString &p) { QDir().mkpath(p); }, u"Codex: "_s + fileError(EISDIR, path)},
        {"not UTF-8", [](const QString &p) { TestEnvironment::writeFile(p, "model = \"\xff\"\n"); },
         u"Codex: "_s + fileError(EILSEQ, path)},
        {"too large",
         [](const QString &p) { TestEnvironment::writeFile(p, QByteArray(AgentInstaller::configReadLimit + 1, '#')); },
         u"Codex: "_s + fileError(EFBIG, path)},
        {"a dangling link", [](const QString &p) { makeLink(p + u".gone"_s, p); }, u"Codex: "_s + fileError(ENOENT, path)},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        QDir(home + u"/.codex"_s).removeRecursively();
        test.make(path);
        const bool wasLink = isLink(path);
        const QByteArray before = read(path);
        EXPECT_EQ(install().value(0), test.line);
        EXPECT_EQ(isLink(path), wasLink);
        EXPECT_EQ(read(path), before);
    }
}

TEST_F(AgentInstallerTest, CursorKeepsOtherServersAndSettings)
{
    TestEnvironment::writeFile(cursorConfig(),
                               R"({"zeta": true, "mcpServers": {"other": {"command": "/x", "args": ["a"]}}, "alpha": 1})");
    ASSERT_TRUE(QFile::setPermissions(cursorConfig(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    EXPECT_TRUE(install().contains(u"Cursor: connected"_s));

    const QByteArray expected = "{\n"
                                "    \"alpha\": 1,\n"
                                "    \"mcpServers\": {\n"
                                "        \"kestro\": {\n"
                                "            \"command\": "
                                + quotedExecutable().toUtf8()
                                + "\n"
                                  "        },\n"
                                  "        \"other\": {\n"
                                  "            \"args\": [\n"
                                  "                \"a\"\n"
                                  "            ],\n"
                                  "            \"command\": \"/x\"\n"
                                  "        }\n"
                                  "    },\n"
                                  "    \"zeta\": true\n"
                                  "}\n";
    EXPECT_EQ(read(cursorConfig()), expected);
    EXPECT_EQ(mode(cursorConfig()), 0600);
}

TEST_F(AgentInstallerTest, OldEntryIsReplacedWhole)
{
    TestEnvironment::writeFile(home + u"/.claude.json"_s,
                               R"({"mcpServers": {"kestro": {"command": "/old", "args": ["x"], "env": {"A": "1"}}}})");
    EXPECT_TRUE(install().contains(u"Claude Code: refreshed"_s));
    EXPECT_EQ(QJsonDocument::fromJson(read(home + u"/.claude.json"_s)).object().value(u"mcpServers"_s).toObject().value(u"kestro"_s),
              (QJsonObject{{u"command"_s, executable()}, {u"type"_s, u"stdio"_s}}));
}

TEST_F(AgentInstallerTest, EachClientGetsItsOwnEntry)
{
    struct Case
    {
        const char *client;
        QString file;
        QString key;
        QJsonObject entry;
    };
    const QJsonObject plain{{u"command"_s, executable()}};
    const QJsonObject typed{{u"command"_s, executable()}, {u"type"_s, u"stdio"_s}};
    const Case cases[] = {
        {"Cursor", u".cursor/mcp.json"_s, u"mcpServers"_s, plain},
        {"Claude Code", u".claude.json"_s, u"mcpServers"_s, typed},
        {"Claude Desktop", u".config/Claude/claude_desktop_config.json"_s, u"mcpServers"_s, plain},
        {"VS Code", u".config/Code/User/mcp.json"_s, u"servers"_s, typed},
    };
    QDir().mkpath(home + u"/.config/Claude"_s);
    QDir().mkpath(home + u"/.config/Code/User"_s);
    const QStringList lines = install();
    EXPECT_EQ(lines,
              (QStringList{u"Codex: connected"_s, u"Cursor: connected"_s, u"Claude Code: connected"_s,
                           u"Claude Desktop: connected"_s, u"VS Code: connected"_s}));
    for (const Case &test : cases) {
        SCOPED_TRACE(test.client);
        const QString path = home + u'/' + test.file;
        EXPECT_EQ(QJsonDocument::fromJson(read(path)).object(),
                  (QJsonObject{{test.key, QJsonObject{{u"kestro"_s, test.entry}}}}));
        EXPECT_EQ(mode(path), 0600);
    }
}

TEST_F(AgentInstallerTest, ClientsWithoutTheirFolderAreSkipped)
{
    // ~/.config exists but neither client's own folder does.
    QDir().mkpath(home + u"/.config/Code"_s);
    const QStringList lines = install();
    for (const QString &line : lines) {
        EXPECT_FALSE(line.startsWith(u"Claude Desktop"_s)) << line.toStdString();
        EXPECT_FALSE(line.startsWith(u"VS Code"_s)) << line.toStdString();
    }
    EXPECT_FALSE(QFileInfo::exists(home + u"/.config/Claude"_s));
    EXPECT_EQ(entries(home + u"/.config/Code"_s), QStringList());
}

TEST_F(AgentInstallerTest, ConfigThatIsNotAnObjectIsNeverRewritten)
{
    const QByteArray cases[] = {
        "[1, 2]",
        "garbage",
        "",
        "{\"mcpServers\": {}",
        "{\"a\": \"\xff\"}",
        "\"text\"",
        "{\"mcpServers\": [\"kestro\"]}",
        "{\"mcpServers\": \"kestro\"}",
        "{\"mcpServers\": null}",
    };
    for (const QByteArray &content : cases) {
        SCOPED_TRACE(content.toStdString());
        TestEnvironment::writeFile(cursorConfig(), content);
        const QStringList lines = install();
        EXPECT_TRUE(lines.contains(u"Cursor: "_s + notAnObject)) << lines.join(u" | "_s).toStdString();
        // One broken client does not stop the next one.
        EXPECT_TRUE(lines.contains(u"Claude Code: connected"_s) || lines.contains(u"Claude Code: refreshed"_s));
        EXPECT_EQ(read(cursorConfig()), content);
    }
}

TEST_F(AgentInstallerTest, UnreadableClientConfigIsNeverRewritten)
{
    const QString path = cursorConfig();
    QDir().mkpath(path);
    EXPECT_TRUE(install().contains(u"Cursor: "_s + fileError(EISDIR, path)));
    EXPECT_TRUE(QFileInfo(path).isDir());
    QDir(path).removeRecursively();

    TestEnvironment::writeFile(path, QByteArray(AgentInstaller::configReadLimit + 1, ' '));
    EXPECT_TRUE(install().contains(u"Cursor: "_s + fileError(EFBIG, path)));
    EXPECT_EQ(QFileInfo(path).size(), AgentInstaller::configReadLimit + 1);

    // The owner can read anything as root, so this part only shows for an ordinary user.
    if (::geteuid() != 0) {
        TestEnvironment::writeFile(path, "{}");
        ASSERT_EQ(::chmod(QFile::encodeName(path).constData(), 0), 0);
        EXPECT_TRUE(install().contains(u"Cursor: "_s + fileError(EACCES, path)));
        ::chmod(QFile::encodeName(path).constData(), 0600);
        EXPECT_EQ(read(path), "{}");
    }
}

TEST_F(AgentInstallerTest, IncompleteBundleTouchesNothing)
{
    struct Case
    {
        const char *name;
        std::function<void(const QString &program, const QString &skillFile)> breakBundle;
    };
    const Case cases[] = {
        {"no skill file", [](const QString &, const QString &file) { QFile::remove(file); }},
        {"skill file is a folder",
         [](const QString &, const QString &file) {
             QFile::remove(file);
             QDir().mkpath(file);
         }},
        {"server not executable",
         [](const QString &program, const QString &) {
             QFile::setPermissions(program, QFile::ReadOwner | QFile::WriteOwner);
         }},
        {"server missing", [](const QString &program, const QString &) { QFile::remove(program); }},
        {"server is a folder",
         [](const QString &program, const QString &) {
             QFile::remove(program);
             QDir().mkpath(program);
         }},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.name);
        SetUp();
        test.breakBundle(executable(), skill() + u"/SKILL.md"_s);
        EXPECT_EQ(install(), QStringList{missingBundle});
        EXPECT_EQ(entries(home), QStringList());
    }
    EXPECT_EQ(AgentInstaller::install(QString(), home), QStringList{missingBundle});
}

TEST_F(AgentInstallerTest, SkillLinks)
{
    // The user's own skill of the same name stays, folder or file.
    const QString ownFolder = home + u"/.claude/skills/kestro"_s;
    TestEnvironment::writeFile(ownFolder + u"/SKILL.md"_s, "mine");
    const QString ownFile = TestEnvironment::writeFile(home + u"/.cursor/skills/kestro"_s, "my notes");
    // A link from an earlier install is renewed, even when it dangles.
    const QString link = home + u"/.agents/skills/kestro"_s;
    makeLink(base + u"/moved-away"_s, link);

    EXPECT_EQ(install().mid(0, 3),
              (QStringList{u"Skipped existing skill: "_s + ownFolder, u"Skipped existing skill: "_s + ownFile,
                           u"Codex: connected"_s}));
    EXPECT_FALSE(isLink(ownFolder));
    EXPECT_EQ(read(ownFolder + u"/SKILL.md"_s), "mine");
    EXPECT_FALSE(isLink(ownFile));
    EXPECT_EQ(read(ownFile), "my notes");
    EXPECT_EQ(linkTarget(link), skill());

    // A link to another bundle is pointed here; what it pointed at is not touched.
    const QString elsewhere = TestEnvironment::makeDirectory(QFileInfo(base).fileName() + u"-old-bundle"_s);
    TestEnvironment::writeFile(elsewhere + u"/SKILL.md"_s, "old");
    ASSERT_TRUE(QFile::remove(link));
    makeLink(elsewhere, link);
    install();
    EXPECT_EQ(linkTarget(link), skill());
    EXPECT_EQ(read(elsewhere + u"/SKILL.md"_s), "old");
}

TEST_F(AgentInstallerTest, BlockedSkillFolderIsReportedAndTheRestGoesOn)
{
    // A file where the Cursor folder should be.
    TestEnvironment::writeFile(home + u"/.cursor"_s, "not a folder");
    const QStringList lines = install();
    EXPECT_EQ(lines,
              (QStringList{u"Skill "_s + home + u"/.cursor/skills: "_s + fileError(ENOTDIR, home + u"/.cursor"_s),
                           u"Codex: connected"_s,
                           u"Cursor: "_s + fileError(ENOTDIR, cursorConfig()),
                           u"Claude Code: connected"_s}));
    EXPECT_EQ(read(home + u"/.cursor"_s), "not a folder");
    EXPECT_EQ(linkTarget(home + u"/.agents/skills/kestro"_s), skill());
    EXPECT_EQ(linkTarget(home + u"/.claude/skills/kestro"_s), skill());
}

TEST_F(AgentInstallerTest, WritePrivateReplacesInOneStep)
{
    const QString path = base + u"/new/folder/config.json"_s;
    AgentInstaller::writePrivate("first", path);
    EXPECT_EQ(read(path), "first");
    EXPECT_EQ(mode(path), 0600);

    // A wider file becomes owner-only; a link is replaced, not written through.
    ASSERT_TRUE(QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther));
    AgentInstaller::writePrivate("second", path);
    EXPECT_EQ(read(path), "second");
    EXPECT_EQ(mode(path), 0600);
    const QString target = TestEnvironment::writeFile(base + u"/target"_s, "keep");
    const QString link = base + u"/new/link.json"_s;
    makeLink(target, link);
    AgentInstaller::writePrivate("third", link);
    EXPECT_FALSE(isLink(link));
    EXPECT_EQ(read(link), "third");
    EXPECT_EQ(read(target), "keep");
    EXPECT_EQ(entries(base + u"/new"_s), (QStringList{u"folder"_s, u"link.json"_s}));
    EXPECT_EQ(entries(base + u"/new/folder"_s), QStringList{u"config.json"_s});
}

TEST_F(AgentInstallerTest, WritePrivateFailuresLeaveNoTemporaryFile)
{
    const QString folder = base + u"/occupied"_s;
    QDir().mkpath(folder + u"/config.json/inside"_s);
    try {
        AgentInstaller::writePrivate("x", folder + u"/config.json"_s);
        ADD_FAILURE() << "renaming over a folder succeeded";
    } catch (const AgentInstaller::InstallError &error) {
        EXPECT_EQ(error.code(), AgentInstaller::InstallError::Code::cannotWrite);
        EXPECT_EQ(error.description(), u"Could not update agent configuration."_s);
    }
    EXPECT_EQ(entries(folder), QStringList{u"config.json"_s});

    const QString blocker = TestEnvironment::writeFile(base + u"/blocker"_s, "file");
    EXPECT_THROW(AgentInstaller::writePrivate("x", blocker + u"/config.json"_s), FileError);

    if (::geteuid() != 0) {
        const QString closed = base + u"/closed"_s;
        QDir().mkpath(closed);
        ASSERT_EQ(::chmod(QFile::encodeName(closed).constData(), 0500), 0);
        EXPECT_THROW(AgentInstaller::writePrivate("x", closed + u"/config.json"_s), AgentInstaller::InstallError);
        ::chmod(QFile::encodeName(closed).constData(), 0700);
        EXPECT_EQ(entries(closed), QStringList());
    }
}

TEST(AgentSetupInstructions, NamesTheInstalledBundleOrTheDefaultLocation)
{
    struct Case
    {
        QString bundle;
        QString app;
    };
    const QString home = Paths::home();
    const Case cases[] = {
        {u"/tmp/build/brisvane-download"_s, u"/opt/brisvane-download"_s},
        {u"/opt/x"_s, u"/opt/x"_s},
        {u"/opt/x/"_s, u"/opt/x"_s},
        {u"/opt"_s, u"/opt/brisvane-download"_s},
        {u"/optical/x"_s, u"/opt/brisvane-download"_s},
        {u"/opt/../tmp/x"_s, u"/opt/brisvane-download"_s},
        {home + u"/.local/opt/bd"_s, home + u"/.local/opt/bd"_s},
        {home + u"/.local/optional/bd"_s, u"/opt/brisvane-download"_s},
        {QString(), u"/opt/brisvane-download"_s},
    };
    for (const Case &test : cases) {
        SCOPED_TRACE(test.bundle.toStdString());
        for (const QString &language : {u"en"_s, u"zh-Hans"_s}) {
            const QString text = AgentInstaller::setupInstructions(test.bundle, language);
            EXPECT_TRUE(text.contains(u"\n"_s + test.app + u"/Contents/Helpers/KestroMCP\n"_s)) << text.toStdString();
            EXPECT_TRUE(text.contains(u"\n"_s + test.app + u"/Contents/Resources/AgentSkills/kestro/SKILL.md\n"_s));
        }
    }
}

TEST(AgentSetupInstructions, FullTexts)
{
    EXPECT_EQ(AgentInstaller::setupInstructions(u"/opt/x"_s, u"en"_s),
              u"Please connect Brisvane Download to the agent you are currently running.\n\n"
              "1. Confirm Brisvane Download is installed at /opt/x. If it is missing, ask me to install it first; "
              "do not save a temporary build path in permanent settings.\n"
              "2. Register a local stdio MCP server named kestro using this client's configuration format. "
              "Its executable needs no arguments:\n/opt/x/Contents/Helpers/KestroMCP\n"
              "3. If this client supports agent skills, install or reference this skill file according to its rules:\n"
              "/opt/x/Contents/Resources/AgentSkills/kestro/SKILL.md\n"
              "4. Preserve existing MCP servers and skills. Verify that download_url, list_downloads, and get_download "
              "are available, but do not start a real download just for setup. Tell me if I need to restart the agent "
              "or approve tool access."_s);
    EXPECT_EQ(AgentInstaller::setupInstructions(u"/tmp/b"_s, u"zh-Hans"_s),
              u"请帮我在你当前使用的 Agent 中接入 Brisvane Download。\n\n"
              "1. 先确认 Brisvane Download 已安装在 /opt/brisvane-download。如果没有，请告诉我先安装，不要把临时构建目录写进永久配置。\n"
              "2. 按你当前客户端的配置格式，注册名为 kestro 的本地 stdio MCP 服务。执行文件路径如下，无需参数：\n"
              "/opt/brisvane-download/Contents/Helpers/KestroMCP\n"
              "3. 如果客户端支持 Agent 技能，请按其规则安装或引用这个技能文件：\n"
              "/opt/brisvane-download/Contents/Resources/AgentSkills/kestro/SKILL.md\n"
              "4. 保留已有的 MCP 服务和技能，不要覆盖其他配置。完成后确认能发现 download_url、list_downloads、get_download；"
              "不要为了测试发起真实下载。若需要重启 Agent 或批准工具访问，请告诉我。"_s);
    // Any other language gets the English text.
    EXPECT_TRUE(AgentInstaller::setupInstructions(u"/opt/x"_s, u"de"_s).startsWith(u"Please connect"_s));
}
