// printf-style formatting of translated texts.
#include "shared/L10n.h"

#include <gtest/gtest.h>

#include <limits>

using namespace Qt::StringLiterals;

namespace {

struct FormatCase
{
    const char *name;
    QString format;
    QVariantList args;
    const char *locale;
    QString expected;
};

void PrintTo(const FormatCase &c, std::ostream *os)
{
    *os << c.name;
}

class Format : public testing::TestWithParam<FormatCase>
{
};

TEST_P(Format, FillsPlaceholders)
{
    const FormatCase &c = GetParam();
    EXPECT_EQ(L10n::format(c.format, c.args, QLocale(QString::fromLatin1(c.locale))), c.expected)
        << qPrintable(c.format);
}

INSTANTIATE_TEST_SUITE_P(
    Placeholders, Format,
    testing::Values(
        FormatCase{"stringObject", u"可更新至 %@"_s, {u"1.4.0"_s}, "en", u"可更新至 1.4.0"_s},
        FormatCase{"numberAsObject", u"[%@]"_s, {42}, "en", u"[42]"_s},
        FormatCase{"longInteger", u"%ld 个文件"_s, {qint64(3)}, "en", u"3 个文件"_s},
        FormatCase{"intNegative", u"退出码 %d"_s, {-15}, "en", u"退出码 -15"_s},
        FormatCase{"integersNotGrouped", u"%ld|%d|%lld"_s, {qint64(1234567), 98765, qint64(1234567)}, "de",
                   u"1234567|98765|1234567"_s},
        FormatCase{"smallestInteger", u"%lld"_s, {std::numeric_limits<qint64>::min()}, "en",
                   u"-9223372036854775808"_s},
        FormatCase{"largestUnsigned", u"%lu"_s, {std::numeric_limits<quint64>::max()}, "en",
                   u"18446744073709551615"_s},
        FormatCase{"percentSign", u"%d%% 完成"_s, {50}, "en", u"50% 完成"_s},
        FormatCase{"decimalPointEnglish", u"%.1f 秒"_s, {3.14159}, "en", u"3.1 秒"_s},
        FormatCase{"decimalCommaGerman", u"%.1f 秒"_s, {3.14159}, "de", u"3,1 秒"_s},
        FormatCase{"realsNotGrouped", u"%.2f"_s, {1234567.891}, "de", u"1234567,89"_s},
        FormatCase{"defaultPrecision", u"%f"_s, {1.5}, "de", u"1,500000"_s},
        FormatCase{"general", u"%g|%g"_s, {0.0001, 1234567.0}, "en", u"0.0001|1.23457e+06"_s},
        FormatCase{"exponentGerman", u"%e"_s, {1234.5}, "de", u"1,234500e+03"_s},
        FormatCase{"positional", u"%2$@ 的 %1$@"_s, {u"视频"_s, u"频道"_s}, "en", u"频道 的 视频"_s},
        FormatCase{"positionalRepeated", u"%1$@/%1$@"_s, {u"a"_s}, "en", u"a/a"_s},
        FormatCase{"positionalInteger", u"%2$ld of %1$ld"_s, {qint64(9), qint64(2)}, "en", u"2 of 9"_s},
        FormatCase{"missingArgumentIsEmpty", u"%@ 与 %@"_s, {u"甲"_s}, "en", u"甲 与 "_s},
        FormatCase{"positionBeyondArguments", u"<%3$@>"_s, {u"a"_s}, "en", u"<>"_s},
        FormatCase{"unknownConversionStays", u"%y %@"_s, {u"a"_s}, "en", u"%y a"_s},
        FormatCase{"cutOffAtEnd", u"50%"_s, {1}, "en", u"50%"_s},
        FormatCase{"cutOffAfterLength", u"x %l"_s, {1}, "en", u"x %l"_s},
        FormatCase{"widthAndFlags", u"[%5d|%-5d|%05d|%+d]"_s, {42, 42, 42, 42}, "en", u"[   42|42   |00042|+42]"_s},
        FormatCase{"zeroPaddedNegativeReal", u"%08.2f"_s, {-3.5}, "de", u"-0003,50"_s},
        FormatCase{"hexadecimal", u"%x|%#X"_s, {255, 255}, "en", u"ff|0XFF"_s},
        FormatCase{"stringPrecisionCuts", u"%.3@"_s, {u"abcdef"_s}, "en", u"abc"_s}),
    [](const testing::TestParamInfo<FormatCase> &info) { return std::string(info.param.name); });

TEST(FormatWithoutArguments, StillProcessesEscapes)
{
    // format() itself always reads placeholders; only tr() skips it when there are no arguments.
    EXPECT_EQ(L10n::format(u"100%% %@"_s, {}, QLocale::c()), u"100% "_s);
}

} // namespace
