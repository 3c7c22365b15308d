// The process-wide translation functions and the "uiLanguage" preference. A test program
// is not inside a bundle, so there are no translation tables: keys are shown as they are.
#include "platform/Preferences.h"
#include "shared/L10n.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

TEST(L10nLanguage, FollowsThePreferenceOnEveryCall)
{
    struct Case
    {
        QString stored;
        QString expected;
    } cases[] = {
        {u"zh-Hans"_s, u"zh-Hans"_s},
        {u"fr"_s, u"en"_s}, // not listed
        {u"zh-Hans"_s, u"zh-Hans"_s},
        {u""_s, u"en"_s},
        {u"ZH-HANS"_s, u"en"_s}, // ids are compared exactly
        {u"en"_s, u"en"_s},
    };
    for (const Case &c : cases) {
        Preferences().set(u"uiLanguage"_s, c.stored);
        EXPECT_EQ(L10n::language(), c.expected) << qPrintable(c.stored);
    }
    Preferences().remove(u"uiLanguage"_s);
    EXPECT_EQ(L10n::language(), u"en"_s);
}

TEST(L10nLanguage, LocaleMatchesTheLanguage)
{
    Preferences().set(u"uiLanguage"_s, u"zh-Hans"_s);
    EXPECT_EQ(L10n::locale().language(), QLocale::Chinese);
    EXPECT_EQ(L10n::locale().script(), QLocale::SimplifiedHanScript);
    Preferences().set(u"uiLanguage"_s, u"unknown"_s);
    EXPECT_EQ(L10n::locale().language(), QLocale::English);
}

TEST(L10nLanguage, OffersTheBuiltInLanguagesWithoutABundle)
{
    const QList<L10n::AppLanguage> expected{{u"en"_s, u"English"_s}, {u"zh-Hans"_s, u"简体中文"_s}};
    EXPECT_EQ(L10n::languages(), expected);
}

TEST(L10nTr, WithoutTableShowsTheKeyAndFormatsOnlyWithArguments)
{
    Preferences().set(u"uiLanguage"_s, u"zh-Hans"_s);
    EXPECT_EQ(L10n::tr(u"暂停"_s), u"暂停"_s);
    EXPECT_EQ(L10n::tr(u"可更新至 %@"_s), u"可更新至 %@"_s);
    EXPECT_EQ(L10n::tr(u"完成 100%"_s), u"完成 100%"_s);
    EXPECT_EQ(L10n::trArgs(u"可更新至 %@"_s, {}), u"可更新至 %@"_s);
    EXPECT_EQ(L10n::tr(u"可更新至 %@"_s, u"1.4.0"_s), u"可更新至 1.4.0"_s);
    EXPECT_EQ(L10n::tr(u"%ld 个文件，%@"_s, qint64(3), u"完成"_s), u"3 个文件，完成"_s);
}

TEST(L10nTr, StringLikeArgumentsArePrintedAsText)
{
    const QString name = u"ffmpeg"_s;
    // With QT_USE_QSTRINGBUILDER the sum is a builder expression, not a QString.
    EXPECT_EQ(L10n::tr(u"内置组件 %@ 缺失"_s, u"Helpers/"_s + name), u"内置组件 Helpers/ffmpeg 缺失"_s);
    EXPECT_EQ(L10n::tr(u"内置组件 %@ 缺失"_s, QStringView(name)), u"内置组件 ffmpeg 缺失"_s);
    EXPECT_EQ(L10n::tr(u"内置组件 %@ 缺失"_s, QLatin1StringView("deno")), u"内置组件 deno 缺失"_s);
    enum class Code { seven = 7 };
    EXPECT_EQ(L10n::tr(u"退出码 %d"_s, Code::seven), u"退出码 7"_s);
}

} // namespace
