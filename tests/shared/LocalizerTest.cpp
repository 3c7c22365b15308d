// Loading of the language list and the translation tables from a resources folder.
#include "TestEnvironment.h"
#include "shared/Localizer.h"

#include <gtest/gtest.h>

#include <QDir>

#include <optional>

using namespace Qt::StringLiterals;

namespace {

using Languages = QList<L10n::AppLanguage>;

QString freshResources(const char *name)
{
    return TestEnvironment::makeDirectory(u"resources-"_s + QString::fromUtf8(name));
}

QString describe(const Languages &languages)
{
    QStringList parts;
    for (const L10n::AppLanguage &language : languages)
        parts.append(language.id + u'=' + language.name);
    return parts.join(u", "_s);
}

struct LanguageListCase
{
    const char *name;
    std::optional<QByteArray> file; // nothing: no Language.json at all
    Languages expected;
};

class LanguageList : public testing::TestWithParam<LanguageListCase>
{
};

TEST_P(LanguageList, IsDecodedStrictlyOrReplacedByTheBuiltInList)
{
    const LanguageListCase &c = GetParam();
    const QString resources = freshResources(c.name);
    if (c.file)
        TestEnvironment::writeFile(resources + u"/Language.json"_s, *c.file);
    const Localizer localizer(resources);
    EXPECT_EQ(describe(localizer.languages()), describe(c.expected));
}

const Languages builtIn{{u"en"_s, u"English"_s}, {u"zh-Hans"_s, u"简体中文"_s}};

QByteArray oversizedList()
{
    QByteArray padded = R"([{"id":"fr","name":"Français"}])";
    padded.append(QByteArray(Localizer::maxLanguageListBytes, ' '));
    return padded;
}

INSTANTIATE_TEST_SUITE_P(
    Files, LanguageList,
    testing::Values(
        LanguageListCase{"missing", std::nullopt, builtIn},
        LanguageListCase{"listedOrderKept",
                         QByteArray(R"([{"id":"fr","name":"Français"},{"id":"en","name":"English"},)"
                                    R"({"id":"de","name":"Deutsch","note":"ignored"}])"),
                         {{u"fr"_s, u"Français"_s}, {u"en"_s, u"English"_s}, {u"de"_s, u"Deutsch"_s}}},
        LanguageListCase{"notJson", QByteArray("[{\"id\":\"fr\""), builtIn},
        LanguageListCase{"objectNotArray", QByteArray(R"({"id":"fr","name":"Français"})"), builtIn},
        LanguageListCase{"entryWithoutName", QByteArray(R"([{"id":"fr","name":"Français"},{"id":"de"}])"), builtIn},
        LanguageListCase{"idNotString", QByteArray(R"([{"id":7,"name":"Seven"}])"), builtIn},
        LanguageListCase{"entryNotObject", QByteArray(R"([{"id":"fr","name":"Français"},"de"])"), builtIn},
        LanguageListCase{"tooLarge", oversizedList(), builtIn}),
    [](const testing::TestParamInfo<LanguageListCase> &info) { return std::string(info.param.name); });

// A resources folder with English and German tables and a listed French without a folder.
class LocalizerTables : public testing::Test
{
protected:
    void SetUp() override
    {
        resources = freshResources("tables");
        TestEnvironment::writeFile(resources + u"/Language.json"_s,
                                   R"([{"id":"en","name":"English"},{"id":"de","name":"Deutsch"},)"
                                   R"({"id":"fr","name":"Français"},{"id":"zh-Hans","name":"简体中文"}])");
        TestEnvironment::writeFile(resources + u"/en.lproj/Localizable.json"_s, QString(uR"({
            "暂停": "Pause",
            "可更新至 %@": "Update to %@ available",
            "%.1f 秒": "%.1f s",
            "不是文本": 42
        })"_s).toUtf8());
        TestEnvironment::writeFile(resources + u"/de.lproj/Localizable.json"_s,
                                   QString(uR"({"%.1f 秒": "%.1f s"})"_s).toUtf8());
    }

    QString resources;
};

TEST_F(LocalizerTables, LooksUpTheChosenLanguageAndFallsBackToTheKey)
{
    const Localizer localizer(resources);
    struct Case
    {
        QString key;
        QString language;
        QString expected;
    } cases[] = {
        {u"暂停"_s, u"en"_s, u"Pause"_s},
        {u"继续"_s, u"en"_s, u"继续"_s},           // no entry
        {u"不是文本"_s, u"en"_s, u"不是文本"_s},   // entry that is not a text
        {u"暂停"_s, u"fr"_s, u"暂停"_s},           // listed, but no folder
        {u"暂停"_s, u"zh-Hans"_s, u"暂停"_s},      // no folder: the keys are the zh-Hans texts
        {u"暂停"_s, u"it"_s, u"暂停"_s},           // not listed at all
        {u"可更新至 %@"_s, u"en"_s, u"Update to %@ available"_s}, // no arguments: "%@" stays
        {u"下载 %@"_s, u"fr"_s, u"下载 %@"_s},
    };
    for (const Case &c : cases)
        EXPECT_EQ(localizer.tr(c.key, c.language), c.expected) << qPrintable(c.key) << " in " << qPrintable(c.language);
}

TEST_F(LocalizerTables, LanguageWithoutFolderIsStillOffered)
{
    const Localizer localizer(resources);
    EXPECT_TRUE(localizer.isListed(u"fr"_s));
    EXPECT_FALSE(localizer.hasBundle(u"fr"_s));
    EXPECT_TRUE(localizer.hasBundle(u"en"_s));
    EXPECT_EQ(localizer.resolve(u"fr"_s), u"fr"_s);
    EXPECT_EQ(localizer.resolve(u"it"_s), u"en"_s);
}

TEST_F(LocalizerTables, FillsTheTranslatedFormatInTheLanguagesLocale)
{
    const Localizer localizer(resources);
    EXPECT_EQ(localizer.tr(u"可更新至 %@"_s, {u"1.4.0"_s}, u"en"_s), u"Update to 1.4.0 available"_s);
    EXPECT_EQ(localizer.tr(u"%.1f 秒"_s, {2.5}, u"en"_s), u"2.5 s"_s);
    EXPECT_EQ(localizer.tr(u"%.1f 秒"_s, {2.5}, u"de"_s), u"2,5 s"_s);
    EXPECT_EQ(localizer.tr(u"%.1f 秒"_s, {2.5}, u"fr"_s), u"2,5 秒"_s); // key as format, French locale
}

TEST(LocalizerBrokenTables, UnusableTableShowsTheKeys)
{
    const QString resources = freshResources("broken");
    TestEnvironment::writeFile(resources + u"/Language.json"_s,
                               R"([{"id":"en","name":"English"},{"id":"de","name":"Deutsch"}])");
    TestEnvironment::writeFile(resources + u"/en.lproj/Localizable.json"_s, "{\"暂停\": ");
    QByteArray huge = QString(uR"({"暂停": "Pause")"_s).toUtf8();
    huge.append(QByteArray(Localizer::maxTableBytes, ' ')).append('}');
    TestEnvironment::writeFile(resources + u"/de.lproj/Localizable.json"_s, huge);

    const Localizer localizer(resources);
    EXPECT_EQ(localizer.tr(u"暂停"_s, u"en"_s), u"暂停"_s);
    EXPECT_EQ(localizer.tr(u"暂停"_s, u"de"_s), u"暂停"_s);
}

TEST(LocalizerBrokenTables, NoResourcesFolderGivesBuiltInLanguagesAndKeys)
{
    for (const QString &path : QStringList{QString(), TestEnvironment::root() + u"/does-not-exist"_s}) {
        const Localizer localizer(path);
        EXPECT_EQ(describe(localizer.languages()), describe(builtIn)) << qPrintable(path);
        EXPECT_EQ(localizer.tr(u"暂停"_s, u"en"_s), u"暂停"_s);
    }
}

} // namespace
