#include "engine/ProcessLineBuffer.h"
#include "engine/RunResult.h"
#include "engine/YtDlpProgress.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace Qt::StringLiterals;

namespace {

struct ProgressCase
{
    const char *line;
    std::optional<YtDlpProgress> expected;
    std::optional<double> fraction;
};

YtDlpProgress progress(YtDlpProgress::Phase phase, qint64 downloaded, qint64 total, bool estimated, double speed,
                       std::optional<double> eta, qint64 fragmentIndex = 0, qint64 fragmentCount = 0)
{
    return {phase, downloaded, total, estimated, speed, eta, fragmentIndex, fragmentCount};
}

using Phase = YtDlpProgress::Phase;

} // namespace

TEST(YtDlpProgress, ParsesMarkerLines)
{
    const ProgressCase cases[] = {
        {"[KTPROG]downloading|1048576|NA|5242880|20000.5|12|NA|NA",
         progress(Phase::downloading, 1048576, 5242880, true, 20000.5, 12), 0.2},
        {"[KTPROG]finished|500|500|NA|NA|NA", progress(Phase::finished, 500, 500, false, 0, std::nullopt), 1.0},
        {"[KTPROG]downloading|10|0|0|NA|NA|3|40", progress(Phase::downloading, 10, 0, false, 0, std::nullopt, 3, 40),
         0.075},
        {"[KTPROG]downloading|1|2|3|4", std::nullopt, std::nullopt},
        {"[KTPROG]downloading|-5|inf|abc|NA|-1", progress(Phase::downloading, 0, 0, false, 0, std::nullopt), std::nullopt},
        {"[KTPROG]downloading|123.9|1000|NA|+2.5|1e1", progress(Phase::downloading, 123, 1000, false, 2.5, 10), 0.123},
        {"[KTPROG]whatever|5|0|NA|nan|NA|7", progress(Phase::downloading, 5, 0, false, 0, std::nullopt), std::nullopt},
        {"[KTPROG]downloading| 5|9223372036854775808|NA|NA|NA", progress(Phase::downloading, 0, 0, false, 0, std::nullopt),
         std::nullopt},
        {"[KTPROG]downloading|2000|1000|NA|NA|NA||", progress(Phase::downloading, 2000, 1000, false, 0, std::nullopt), 1.0},
        {"[KTPOST]started", progress(Phase::processing, 0, 0, false, 0, std::nullopt), std::nullopt},
        {"[KTPOST]", progress(Phase::processing, 0, 0, false, 0, std::nullopt), std::nullopt},
        {"[download] Destination: x.mp4", std::nullopt, std::nullopt},
        {" [KTPROG]downloading|1|2|3|4|5", std::nullopt, std::nullopt},
    };
    for (const ProgressCase &c : cases) {
        SCOPED_TRACE(c.line);
        const std::optional<YtDlpProgress> parsed = YtDlpProgress::parse(QString::fromUtf8(c.line));
        ASSERT_EQ(parsed.has_value(), c.expected.has_value());
        if (!parsed)
            continue;
        EXPECT_EQ(*parsed, *c.expected);
        ASSERT_EQ(parsed->fraction().has_value(), c.fraction.has_value());
        if (c.fraction) {
            EXPECT_NEAR(*parsed->fraction(), *c.fraction, 1e-12);
        }
    }
}

TEST(ProcessLineBuffer, SplitsOnlyAtLineFeeds)
{
    struct Case
    {
        const char *name;
        QList<QByteArray> reads; // the last read is followed by end of file
        QStringList lines;
    };
    const Case cases[] = {
        {"carriage returns and empty lines", {"a\r\nb\n\nc"}, {u"a"_s, u"b"_s, u"c"_s}},
        {"line split across reads", {"hel", "lo wor", "ld\nnext"}, {u"hello world"_s, u"next"_s}},
        {"final line kept as received", {"x\ny\r"}, {u"x"_s, u"y\r"_s}},
        {"carriage return inside a line stays", {"50%\r60%\n"}, {u"50%\r60%"_s}},
        {"invalid UTF-8 replaced", {"caf\xff\n"}, {u"caf\uFFFD"_s}},
        {"UTF-8 split across reads", {"\xe4\xb8", "\xad\n"}, {u"\u4e2d"_s}},
        {"unicode separators trimmed at ends", {"\xe2\x80\xa8z\xc2\x85\n"}, {u"z"_s}},
        {"nothing at all", {""}, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ProcessLineBuffer buffer;
        QStringList lines;
        for (const QByteArray &read : c.reads)
            lines += buffer.append(read);
        lines += buffer.append({}, true);
        EXPECT_EQ(lines, c.lines);
    }
}

TEST(ProcessLineBuffer, ReturnsALineOnlyWhenItsFeedArrives)
{
    ProcessLineBuffer buffer;
    EXPECT_TRUE(buffer.append("partial").isEmpty());
    EXPECT_EQ(buffer.append(" line\nrest"), QStringList{u"partial line"_s});
    EXPECT_EQ(buffer.append({}, true), QStringList{u"rest"_s});
    EXPECT_TRUE(buffer.append({}, true).isEmpty());
}

TEST(RunResult, TailIsTheLastThreeNonEmptyLines)
{
    EXPECT_EQ(RunResult::tailOf("x\n\ny\nz\nw\n"), u"y z w"_s);
    EXPECT_EQ(RunResult::tailOf("a\rb\r\nc"), u"a b c"_s);
    EXPECT_EQ(RunResult::tailOf("only\n"), u"only"_s);
    EXPECT_EQ(RunResult::tailOf("\n\n"), QString());
}
