#include "cli/CommandLineOptions.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(CommandLineOptions, ParsesWhatTheRunNeeds)
{
    struct Case
    {
        QStringList arguments;
        std::optional<int> quality;
        std::optional<QString> audioFormat;
        std::optional<QString> outputDir;
        QStringList urls;
        bool serve = false;
    };
    const Case cases[] = {
        {{u"https://a/"_s}, {}, {}, {}, {u"https://a/"_s}},
        {{u"--quality"_s, u"720"_s, u"u1"_s, u"u2"_s}, 720, {}, {}, {u"u1"_s, u"u2"_s}},
        {{u"--quality=best"_s, u"u"_s}, 0, {}, {}, {u"u"_s}},
        {{u"--quality"_s, u"audio"_s, u"--audio-format"_s, u"flac"_s, u"u"_s}, -1, u"flac"_s, {}, {u"u"_s}},
        {{u"--dir"_s, u"out/../videos"_s, u"u"_s}, {}, {}, u"/work dir/videos"_s, {u"u"_s}},
        {{u"--dir=/abs"_s, u"--"_s, u"--not-an-option"_s}, {}, {}, u"/abs"_s, {u"--not-an-option"_s}},
        {{u"--serve"_s}, {}, {}, {}, {}, true},
        {{u"--dir"_s, u"/abs"_s, u"--serve"_s, u"--quality=audio"_s}, -1, {}, u"/abs"_s, {}, true},
    };
    for (const Case &c : cases) {
        QString error;
        const std::optional<CommandLineOptions> options = CommandLineOptions::parse(c.arguments, u"/work dir"_s, &error);
        ASSERT_TRUE(options) << c.arguments.join(u' ').toStdString() << ": " << error.toStdString();
        EXPECT_EQ(options->quality, c.quality);
        EXPECT_EQ(options->audioFormat, c.audioFormat);
        EXPECT_EQ(options->outputDir, c.outputDir);
        EXPECT_EQ(options->urls, c.urls);
        EXPECT_EQ(options->serve, c.serve);
    }
}

TEST(CommandLineOptions, RejectsBadArgumentsWithAReason)
{
    const QStringList cases[] = {
        {},
        {u"--quality"_s, u"12x"_s, u"u"_s},
        {u"--quality"_s, u"-5"_s, u"u"_s},
        {u"--quality"_s, u"0"_s, u"u"_s},
        {u"--audio-format"_s, u"wav"_s, u"u"_s},
        {u"--dir"_s},
        {u"--dir="_s, u"u"_s},
        {u"--speed"_s, u"u"_s},
        {u"--quality"_s},
        {u"--serve"_s, u"https://a/"_s},
    };
    for (const QStringList &arguments : cases) {
        QString error;
        EXPECT_FALSE(CommandLineOptions::parse(arguments, u"/"_s, &error)) << arguments.join(u' ').toStdString();
        EXPECT_FALSE(error.isEmpty());
    }
    QString error;
    EXPECT_TRUE(CommandLineOptions::parse({u"--help"_s}, u"/"_s, &error)->help);
}
