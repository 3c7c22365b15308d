#include "platform/Preferences.h"
#include "TestEnvironment.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(Preferences, ValuesComeBackWithTheirTypes)
{
    {
        Preferences preferences;
        EXPECT_TRUE(preferences.fileName().startsWith(qEnvironmentVariable("XDG_CONFIG_HOME")));
        preferences.set(u"text"_s, u"hello, world"_s);
        preferences.set(u"number"_s, 3);
        preferences.set(u"flag"_s, true);
        preferences.set(u"real"_s, 1.5);
        preferences.set(u"list"_s, QStringList{u"a"_s, u"b, c"_s});
        preferences.set(u"one"_s, QStringList{u"only"_s});
        preferences.set(u"dictionary"_s, QVariantMap{{u"signature"_s, QStringList{u"x"_s}}, {u"version"_s, u"1"_s}});
        preferences.set(u"kestro.updates.lastCheck"_s, 1733843200.25);
    }
    // A new instance reads the file again, as another program would.
    Preferences preferences;
    EXPECT_EQ(preferences.string(u"text"_s), u"hello, world"_s);
    EXPECT_EQ(preferences.integer(u"number"_s), 3);
    EXPECT_EQ(preferences.boolean(u"flag"_s), true);
    EXPECT_EQ(preferences.real(u"real"_s), 1.5);
    EXPECT_EQ(preferences.real(u"kestro.updates.lastCheck"_s), 1733843200.25);
    EXPECT_EQ(preferences.stringList(u"list"_s), (QStringList{u"a"_s, u"b, c"_s}));
    EXPECT_EQ(preferences.stringList(u"one"_s), QStringList{u"only"_s});
    const std::optional<QVariantMap> dictionary = preferences.dictionary(u"dictionary"_s);
    ASSERT_TRUE(dictionary);
    EXPECT_EQ(dictionary->value(u"signature"_s).typeId(), QMetaType::QStringList);
    EXPECT_EQ(dictionary->value(u"version"_s).toString(), u"1"_s);

    // The wrong type reads as absent.
    EXPECT_FALSE(preferences.integer(u"text"_s));
    EXPECT_FALSE(preferences.boolean(u"number"_s));
    EXPECT_FALSE(preferences.dictionary(u"list"_s));
    EXPECT_FALSE(preferences.string(u"missing"_s));

    preferences.remove(u"text"_s);
    EXPECT_FALSE(Preferences().contains(u"text"_s));
}
