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

TEST(CommandLineOptions, RefusesArgumentsThatAreNotUtf8)
{
    // Decoded with replacement characters, "/tmp/caf\xe9" would name another folder.
    const char *const valid[] = {"kestro-dl", "--dir", "/tmp/caf\xc3\xa9", "https://a/"};
    const char *const invalid[] = {"kestro-dl", "--dir", "/tmp/caf\xe9", "https://a/"};
    QString error;
    EXPECT_EQ(CommandLineOptions::decodeArguments(4, valid, &error),
              (QStringList{u"--dir"_s, u"/tmp/café"_s, u"https://a/"_s}));
    EXPECT_FALSE(CommandLineOptions::decodeArguments(4, invalid, &error));
    EXPECT_TRUE(error.contains(u"UTF-8"_s)) << error.toStdString();
}

TEST(CommandLineOptions, NamesWhyALinkIsRefused)
{
    const struct
    {
        QString link;
        std::optional<QString> reason;
    } cases[] = {
        {u"https://example.com/v"_s, std::nullopt},
        {u"  https://example.com/v "_s, std::nullopt},
        {u"example.com/v"_s, u"not an http or https link"_s},
        {u"ftp://example.com/v"_s, u"not an http or https link"_s},
        {u"http:///v"_s, u"no host"_s},
        {u"http://user:pw@example.com/"_s, u"carries a user name or password"_s},
        {u"http://example.com/\x07"_s, u"contains control characters"_s},
        {u"http://example.com/"_s + QString(16400, u'a'), u"longer than 16384 bytes"_s},
    };
    for (const auto &c : cases)
        EXPECT_EQ(CommandLineOptions::refusal(c.link), c.reason) << c.link.left(40).toStdString();
    EXPECT_EQ(CommandLineOptions::printable(u"http://u:secret@h/x"_s), u"http://u@h/x"_s);
    EXPECT_EQ(CommandLineOptions::printable(u"http://h/\x1b[2J"_s), u"http://h/\\u001b[2J"_s);
    EXPECT_EQ(CommandLineOptions::printable(QString(300, u'a')).size(), 201);
}
