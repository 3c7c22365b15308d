#include "engine/EngineSignature.h"
#include "platform/Preferences.h"
#include "TestEnvironment.h"

#include <QFile>

#include <gtest/gtest.h>

#include <sys/stat.h>

using namespace Qt::StringLiterals;

TEST(EngineSignature, FormatsSecondsAsTheShortestRoundTrip)
{
    const std::pair<double, const char *> cases[] = {
        {1733843200.0, "1733843200.0"},
        {1733843200.5, "1733843200.5"},
        {1733843200.123456, "1733843200.123456"},
        {0.1, "0.1"},
        {0.0, "0.0"},
        {1e22, "10000000000000000000000.0"},
    };
    for (const auto &[seconds, expected] : cases)
        EXPECT_EQ(EngineSignature::formatSeconds(seconds), QString::fromLatin1(expected));
}

TEST(EngineSignature, ListsSixItemsPerFileAndStopsAtTheFirstBadOne)
{
    const QString dir = TestEnvironment::makeDirectory(u"tools"_s);
    const QString tool = TestEnvironment::writeFile(dir + u"/tool"_s, "#!/bin/sh\n");
    ::chmod(QFile::encodeName(tool).constData(), 0755);
    const QString link = dir + u"/link"_s;
    ASSERT_TRUE(QFile::link(tool, link));
    const QString plain = TestEnvironment::writeFile(dir + u"/plain"_s, "x");
    ::chmod(QFile::encodeName(plain).constData(), 0644);

    const EngineSignature::Result ok = EngineSignature::build(u"42"_s, {link, tool});
    ASSERT_FALSE(ok.failingPath);
    ASSERT_EQ(ok.items.size(), 13);
    EXPECT_EQ(ok.items[0], u"42"_s);
    EXPECT_EQ(ok.items[1], link);
    EXPECT_EQ(ok.items[2], tool);
    EXPECT_EQ(ok.items[3], u"10"_s);
    EXPECT_EQ(ok.items[5], u"493"_s);
    EXPECT_TRUE(ok.items[6].contains(u'.'));
    EXPECT_EQ(ok.items.mid(2, 5), ok.items.mid(8, 5));

    // Running as root makes any execute bit enough, so a file with none must still fail.
    for (const QString &bad : QStringList{dir, plain, dir + u"/missing"_s, QString()}) {
        const EngineSignature::Result result = EngineSignature::build(u"42"_s, {tool, bad, tool});
        EXPECT_EQ(result.failingPath, bad);
        EXPECT_EQ(result.items.size(), 7);
    }
}

TEST(EngineSignature, RecordMatchesOnlyTheSameSignatureWithAVersion)
{
    using Record = EngineSignature::Record;
    const QStringList signature{u"7"_s, u"/a"_s};
    EXPECT_FALSE(EngineSignature::stored(signature));
    EngineSignature::store(signature, Record{u"2025.12.01"_s, true});
    ASSERT_TRUE(EngineSignature::stored(signature));
    EXPECT_EQ(EngineSignature::stored(signature)->version, u"2025.12.01"_s);
    EXPECT_TRUE(EngineSignature::stored(signature)->canImpersonate);
    EXPECT_FALSE(EngineSignature::stored({u"7"_s}));
    EXPECT_FALSE(EngineSignature::stored({u"7"_s, u"/a"_s, u"x"_s}));

    // A one-item signature must survive the store too.
    EngineSignature::store({u"7"_s}, Record{u"v"_s, false});
    ASSERT_TRUE(EngineSignature::stored({u"7"_s}));
    EXPECT_FALSE(EngineSignature::stored({u"7"_s})->canImpersonate);

    // A record written before the impersonation field existed leads to a new check.
    Preferences().set(u"verifiedEngine"_s, QVariantMap{{u"signature"_s, signature}, {u"version"_s, u"v"_s}});
    EXPECT_FALSE(EngineSignature::stored(signature));

    EngineSignature::store(signature, Record{QString(), true});
    EXPECT_FALSE(EngineSignature::stored(signature));
    Preferences().set(u"verifiedEngine"_s, u"text"_s);
    EXPECT_FALSE(EngineSignature::stored(signature));
    EngineSignature::forget();
    EXPECT_FALSE(Preferences().contains(u"verifiedEngine"_s));
}
