#include "shared/AgentWire.h"
#include "shared/Error.h"
#include "FileSizeLimit.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

TEST(AgentWire, DirectoryComesFromTheVariableOnlyWhenItHasAValue)
{
    const QString standard = qEnvironmentVariable("XDG_DATA_HOME") + u"/Kestro/AgentBridge"_s;
    const struct
    {
        std::optional<QByteArray> value;
        QString directory;
    } cases[] = {
        {std::nullopt, standard},
        {QByteArray(), standard},
        {QByteArray("/tmp/agents here"), u"/tmp/agents here"_s},
        {QByteArray("~/agents"), u"~/agents"_s}, // taken as it stands
    };
    for (const auto &c : cases) {
        if (c.value)
            qputenv("KESTRO_AGENT_BRIDGE_DIR", *c.value);
        else
            qunsetenv("KESTRO_AGENT_BRIDGE_DIR");
        EXPECT_EQ(AgentWire::directory(), c.directory);
    }
    qputenv("KESTRO_AGENT_BRIDGE_DIR", "/x");
    const QUuid id = QUuid::fromString(u"0f8fad5b-d9cb-469f-a165-70867728950e"_s);
    EXPECT_EQ(AgentWire::request(id), u"/x/0F8FAD5B-D9CB-469F-A165-70867728950E.request.json"_s);
    EXPECT_EQ(AgentWire::response(id), u"/x/0F8FAD5B-D9CB-469F-A165-70867728950E.response.json"_s);
}

TEST(AgentWire, OnlyThePlainUuidFormIsAnID)
{
    const QString plain = u"0f8fad5b-d9cb-469f-a165-70867728950e"_s;
    EXPECT_FALSE(AgentWire::parseID(plain).isNull());
    EXPECT_FALSE(AgentWire::parseID(plain.toUpper()).isNull());
    const QStringList refused{u'{' + plain + u'}', plain + u'0', plain.chopped(1), QString(plain).replace(u'-', u'x'),
                              u" "_s + plain.chopped(1), QString(plain).replace(0, 1, u"g"_s), QString()};
    for (const QString &text : refused)
        EXPECT_TRUE(AgentWire::parseID(text).isNull()) << text.toStdString();
    EXPECT_EQ(AgentWire::exchangeID(plain + u".request.json"_s, AgentWire::requestSuffix), QUuid::fromString(plain));
    EXPECT_TRUE(AgentWire::exchangeID(plain + u".response.json"_s, AgentWire::requestSuffix).isNull());
}

TEST(AgentWire, WriteCompleteNeverReplacesAndLeavesNoPartialFile)
{
    const QString directory = TestEnvironment::makeDirectory(u"exchange"_s);
    const QString target = directory + u"/A.request.json"_s;
    AgentWire::writeComplete("{\"action\":\"list\"}", target);
    struct stat info;
    ASSERT_EQ(::stat(QFile::encodeName(target).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // An existing file, or a link planted under the name, stays as it is.
    const QString elsewhere = TestEnvironment::writeFile(TestEnvironment::root() + u"/elsewhere"_s, "mine");
    const QString planted = directory + u"/B.response.json"_s;
    ASSERT_TRUE(QFile::link(elsewhere, planted));
    for (const QString &path : {target, planted})
        EXPECT_THROW(AgentWire::writeComplete("{}", path), Error) << path.toStdString();
    QFile original(target);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    EXPECT_EQ(original.readAll(), "{\"action\":\"list\"}");
    QFile outside(elsewhere);
    ASSERT_TRUE(outside.open(QIODevice::ReadOnly));
    EXPECT_EQ(outside.readAll(), "mine");

    EXPECT_THROW(AgentWire::writeComplete("{}", directory + u"/missing/C.request.json"_s), Error);
    EXPECT_EQ(QDir(directory).entryList(QDir::Files | QDir::Hidden | QDir::System),
              (QStringList{u"A.request.json"_s, u"B.response.json"_s}));
}

TEST(AgentWire, WriteThatFailsLeavesNoFileAtAll)
{
    const QString directory = TestEnvironment::makeDirectory(u"full"_s);
    {
        const FileSizeLimit limit(8);
        EXPECT_THROW(AgentWire::writeComplete(R"({"action":"download","url":"https://example.com/v"})",
                                              directory + u"/D.request.json"_s),
                     FileError);
    }
    EXPECT_EQ(QDir(directory).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot),
              QStringList());
}
