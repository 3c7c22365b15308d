// The TOML check that guards Codex configuration edits, held against Python's own reader.
#include "agents/TomlScan.h"

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>

using namespace Qt::StringLiterals;

namespace {

// Whether Python's tomllib reads each text; one interpreter run for all of them.
QList<bool> tomllibAccepts(const QStringList &texts)
{
    QProcess python;
    python.start(u"/usr/bin/python3"_s,
                 {u"-c"_s, u"import json, sys, tomllib\n"
                           u"out = []\n"
                           u"for text in json.load(sys.stdin):\n"
                           u"    try:\n"
                           u"        tomllib.loads(text)\n"
                           u"        out.append(True)\n"
                           u"    except tomllib.TOMLDecodeError:\n"
                           u"        out.append(False)\n"
                           u"print(json.dumps(out))\n"_s});
    python.write(QJsonDocument(QJsonArray::fromStringList(texts)).toJson(QJsonDocument::Compact));
    python.closeWriteChannel();
    EXPECT_TRUE(python.waitForFinished(60000));
    QList<bool> accepted;
    for (const QJsonValue &value : QJsonDocument::fromJson(python.readAllStandardOutput()).array())
        accepted.append(value.toBool());
    return accepted;
}

} // namespace

TEST(TomlScan, AgreesWithPythonOnWhatIsValid)
{
    const struct
    {
        QString text;
        bool valid;
    } cases[] = {
        {u""_s, true},
        {u"# only a comment\r\n\n"_s, true},
        {u"a = 1\nb = 'x' # note\n\"quoted key\" = 2\n'' = 3\n"_s, true},
        {u"[t]\n[t.u]\n[ 'v' . \"w x\" ]\n"_s, true},
        {u"a.b = 1\na . c = 2\n"_s, true},
        {u"[a.b.c]\n[a]\nb.d = 1\n"_s, true},
        {u"[fruit]\napple.color = 'red'\n[fruit.apple.texture]\nsmooth = true\n"_s, true},
        {u"[[p]]\nx = 1\n[[p]]\nx = 2\n[p.q]\ny = 3\n"_s, true},
        {u"s = \"\"\"\n[mcp_servers.kestro]\n\"\"\"\nt = '''\n[x]\n'''\n"_s, true},
        {u"s = '''a''''\nt = \"\"\"b\"\"\"\"\"\nu = \"\"\"a\\\n    b\"\"\"\n"_s, true},
        {u"d = 1979-05-27 07:32:00Z\ne = 1979-05-27T00:32:00.999-07:00\nf = 07:32:00\ng = 1979-05-27\n"_s, true},
        {u"n = [1, [2, 3], {a = 1}, \"s\",]\nm = [\n  1, # one\n  2\n]\n"_s, true},
        {u"i = { a.b = 1, a.c = 2, d = [1,\n2] }\n"_s, true},
        {u"x = 6.626e-34\ny = 0xdead_beef\nz = +inf\nw = -17\nv = 1_000\nu = \"\\u00e9\\U0001F600\"\n"_s, true},
        {u"[t]\n[t]\n"_s, false},
        {u"[mcp_servers.kestro] # ours\n[mcp_servers.\"kestro\"]\n"_s, false},
        {u"a = 1\na = 2\n"_s, false},
        {u"a.b = 1\n[a]\n"_s, false},
        {u"[a]\nb = 1\n[a.b]\n"_s, false},
        {u"[a.b]\n[a]\nb.c = 1\n"_s, false},
        {u"a = {b = 1}\n[a]\n"_s, false},
        {u"a = {b = 1}\na.c = 2\n"_s, false},
        {u"a = {b = 1}\n[a.c]\n"_s, false},
        {u"[[a]]\n[a]\n"_s, false},
        {u"[a]\n[[a]]\n"_s, false},
        {u"a = [1]\n[[a]]\n"_s, false},
        {u"a = \"x\ny\"\n"_s, false},
        {u"a = '''x\n"_s, false},
        {u"a = \"\"\"x\"\"\"\"\"\"\n"_s, false},
        {u"a = 1 b = 2\n"_s, false},
        {u"[a] x = 1\n"_s, false},
        {u"a = 007\n"_s, false},
        {u"a = -0x1\n"_s, false},
        {u"a = \"\\q\"\n"_s, false},
        {u"a = \"\\uD800\"\n"_s, false},
        {u"a = { b = 1, }\n"_s, false},
        {u"a = {\nb = 1 }\n"_s, false},
        {u"a = 1\rb = 2\n"_s, false},
        {u"# bell \a\n"_s, false},
        {u"= 1\n"_s, false},
        {u"a =\n"_s, false},
        {u"[ [a] ]\n"_s, false},
        {u"[a\n"_s, false},
    };
    QStringList texts;
    for (const auto &c : cases)
        texts.append(c.text);
    const QList<bool> python = tomllibAccepts(texts);
    ASSERT_EQ(python.size(), texts.size());
    for (qsizetype i = 0; i < texts.size(); ++i) {
        SCOPED_TRACE(texts[i].toStdString());
        EXPECT_EQ(python[i], cases[i].valid) << "the table is wrong";
        EXPECT_EQ(TomlScan::headers(texts[i]).has_value(), cases[i].valid);
    }
}

TEST(TomlScan, HeadersComeWithTheirLinesAndPlainKeys)
{
    const std::optional<QList<TomlScan::Header>> headers =
        TomlScan::headers(u"x = \"\"\"\n[not]\n\"\"\"\n  [ 'a' . \"b c\" ]  # note\r\n[[d]]\n"_s);
    ASSERT_TRUE(headers);
    ASSERT_EQ(headers->size(), 2);
    EXPECT_EQ(headers->at(0).lineStart, 18);
    EXPECT_EQ(headers->at(0).path, (QStringList{u"a"_s, u"b c"_s}));
    EXPECT_FALSE(headers->at(0).arrayOfTables);
    EXPECT_EQ(headers->at(1).lineStart, 45);
    EXPECT_EQ(headers->at(1).path, QStringList{u"d"_s});
    EXPECT_TRUE(headers->at(1).arrayOfTables);
}
