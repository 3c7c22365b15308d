#include "engine/CommandBuilder.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

const QString tools = u"/opt/brisvane download/Contents/Helpers"_s;
const QString plugins = u"/opt/brisvane download/Contents/Resources/EnginePlugins"_s;

DownloadOptions baseOptions()
{
    DownloadOptions options;
    options.url = u"https://example.com/watch?v=1"_s;
    options.formatSelector = u"bv*+ba/b"_s;
    options.outputDir = u"/home/u/Downloads/Kestro"_s;
    options.filenameTemplate = u"%(title)s.%(ext)s"_s;
    options.audioFormat = u"mp3"_s;
    options.subtitleLangs = u"en,zh-Hans"_s;
    return options;
}

qsizetype countOf(const QStringList &list, const QString &item)
{
    return list.count(item);
}

} // namespace

TEST(CommandBuilder, BuildsTheFullListInOrder)
{
    DownloadOptions options = baseOptions();
    options.temporaryDirectory = u"/out/.kestro-partials/ID 100%"_s;
    options.cookiesBrowser = u"firefox"_s;
    options.referer = u"https://example.com/"_s;
    options.userAgent = u"UA/1"_s;
    options.forceMP4 = true;
    options.subtitles = true;
    options.embedMetadata = true;
    options.extraArgs = {u"--limit-rate"_s, u"1M"_s};

    const QStringList expected = {
        u"--ignore-config"_s, u"--no-plugin-dirs"_s, u"--no-js-runtimes"_s, u"--js-runtimes"_s,
        u"deno:"_s + tools + u"/deno"_s, u"--ffmpeg-location"_s, tools,
        u"--cookies-from-browser"_s, u"firefox"_s, u"--referer"_s, u"https://example.com/"_s,
        u"--user-agent"_s, u"UA/1"_s,
        u"--newline"_s, u"--no-color"_s,
        u"--progress-template"_s,
        u"download:[KTPROG]%(progress.status)s|%(progress.downloaded_bytes)s|%(progress.total_bytes)s|%(progress.total_bytes_estimate)s|%(progress.speed)s|%(progress.eta)s|%(progress.fragment_index)s|%(progress.fragment_count)s"_s,
        u"--progress-template"_s, u"postprocess:[KTPOST]%(progress.status)s"_s,
        u"-f"_s, u"bv*+ba/b"_s,
        u"-P"_s, u"home:/out/.kestro-partials/ID 100%/complete"_s,
        u"-o"_s, u"./%(title)s.%(ext)s"_s,
        u"--no-playlist"_s, u"--windows-filenames"_s, u"--continue"_s,
        u"--retries"_s, u"10"_s, u"--fragment-retries"_s, u"10"_s,
        u"--retry-sleep"_s, u"http:exp=1:30"_s, u"--retry-sleep"_s, u"fragment:exp=1:30"_s,
        u"--concurrent-fragments"_s, u"8"_s,
        u"-P"_s, u"temp:/out/.kestro-partials/ID 100%"_s,
        u"--no-simulate"_s, u"--no-quiet"_s, u"--progress"_s,
        u"--print-to-file"_s, u"after_move:%(filepath)j"_s, u"/out/.kestro-partials/ID 100%%/output.jsonl"_s,
        u"--merge-output-format"_s, u"mp4"_s, u"--remux-video"_s, u"mp4"_s,
        u"--write-subs"_s, u"--write-auto-subs"_s, u"--sub-langs"_s, u"en,zh-Hans"_s, u"--convert-subs"_s, u"srt"_s,
        u"--embed-metadata"_s,
        u"--limit-rate"_s, u"1M"_s,
        u"--"_s, u"https://example.com/watch?v=1"_s,
    };
    EXPECT_EQ(CommandBuilder(tools, plugins, true).downloadArguments(options), expected);
    EXPECT_EQ(expected[16].size(), 217);
}

TEST(CommandBuilder, WithoutTemporaryFolderTheTemplateGoesAsItIs)
{
    DownloadOptions options = baseOptions();
    options.filenameTemplate = u"/abs/%(title)s.%(ext)s"_s;
    const QStringList arguments = CommandBuilder(tools, plugins, true).downloadArguments(options);
    EXPECT_EQ(arguments[arguments.indexOf(u"-o"_s) + 1], u"/abs/%(title)s.%(ext)s"_s);
    EXPECT_EQ(arguments[arguments.indexOf(u"-P"_s) + 1], u"home:/home/u/Downloads/Kestro"_s);
    EXPECT_FALSE(arguments.contains(u"--print-to-file"_s));
    EXPECT_EQ(arguments.mid(arguments.size() - 2), (QStringList{u"--"_s, options.url}));
}

TEST(CommandBuilder, ClampsConcurrentFragments)
{
    const std::pair<int, const char *> cases[] = {{0, "1"}, {-3, "1"}, {1, "1"}, {2, "2"}, {8, "8"}, {16, "16"}, {40, "16"}};
    for (const auto &[fragments, expected] : cases) {
        DownloadOptions options = baseOptions();
        options.concurrentFragments = fragments;
        const QStringList arguments = CommandBuilder(tools, plugins, true).downloadArguments(options);
        EXPECT_EQ(arguments[arguments.indexOf(u"--concurrent-fragments"_s) + 1], QString::fromLatin1(expected))
            << fragments;
    }
}

TEST(CommandBuilder, FormatGroups)
{
    struct Case
    {
        bool audioOnly;
        bool forceMP4;
        QStringList group;
    };
    const Case cases[] = {
        {true, true, {u"-x"_s, u"--audio-format"_s, u"mp3"_s, u"--audio-quality"_s, u"0"_s}},
        {true, false, {u"-x"_s, u"--audio-format"_s, u"mp3"_s, u"--audio-quality"_s, u"0"_s}},
        {false, true, {u"--merge-output-format"_s, u"mp4"_s, u"--remux-video"_s, u"mp4"_s}},
        {false, false, {}},
    };
    for (const Case &c : cases) {
        DownloadOptions options = baseOptions();
        options.audioOnly = c.audioOnly;
        options.forceMP4 = c.forceMP4;
        const QStringList arguments = CommandBuilder(tools, plugins, true).downloadArguments(options);
        const qsizetype after = arguments.indexOf(u"--concurrent-fragments"_s) + 2;
        EXPECT_EQ(arguments.mid(after, arguments.size() - 2 - after), c.group) << c.audioOnly << c.forceMP4;
    }
}

TEST(CommandBuilder, NetworkGroup)
{
    struct Case
    {
        const char *url;
        const char *cookiesBrowser;
        QStringList expected;
        bool impersonates = false; // the pair follows `expected` when the engine can impersonate
    };
    const Case cases[] = {
        {"https://example.com/", "none", {}},
        {"https://example.com/", "", {u"--cookies-from-browser"_s, u""_s}},
        {"https://example.com/", "chrome", {u"--cookies-from-browser"_s, u"chrome"_s}},
        {"https://vimeo.com/123", "none", {}, true},
        {"https://vimeo.com/123", "firefox", {u"--cookies-from-browser"_s, u"firefox"_s}, true},
        {"https://player.VIMEO.com/video/1", "none", {}, true},
        {"https://www.tiktok.org/@a", "none", {}, true},
        // Links the queue accepts although a strict parse refuses them.
        {"https://vimeo.com/a b", "none", {}, true},
        {"https://vimeo.com/a|b", "none", {}, true},
        {"https://vimeo.com/\"a\"", "none", {}, true},
        {"https://www.tiktok.com/%zz", "none", {}, true},
        {"https://notvimeo.com/123", "none", {}},
        {"https://vimeo.com.evil.net/", "none", {}},
        {"not a url", "none", {}},
        {"", "none", {}},
    };
    for (const bool canImpersonate : {true, false}) {
        const CommandBuilder builder(tools, plugins, canImpersonate);
        for (const Case &c : cases) {
            QStringList expected = c.expected;
            if (c.impersonates && canImpersonate)
                expected << u"--impersonate"_s << u"chrome"_s;
            EXPECT_EQ(builder.networkArguments(QString::fromUtf8(c.url), QString::fromUtf8(c.cookiesBrowser),
                                               std::nullopt, std::nullopt),
                      expected)
                << c.url << " / " << c.cookiesBrowser << " / can impersonate: " << canImpersonate;
        }
    }
    EXPECT_EQ(CommandBuilder(tools, plugins, true).networkArguments(u"https://x.org/"_s, u"none"_s, u"R"_s, u""_s),
              (QStringList{u"--referer"_s, u"R"_s, u"--user-agent"_s, u""_s}));
}

TEST(CommandBuilder, SessionGroupReplacesBrowserCookies)
{
    DownloadOptions options = baseOptions();
    options.url = u"https://vimeo.com/1"_s;
    options.cookiesBrowser = u"chrome"_s;
    const QString cookies = u"/tmp/kestro-session-X/cookies.txt"_s;
    const QStringList group{u"--plugin-dirs"_s, plugins, u"--use-postprocessor"_s, u"KestroSessionGuard"_s,
                            u"--cookies"_s, cookies};
    for (const bool canImpersonate : {true, false}) {
        const QStringList arguments = CommandBuilder(tools, plugins, canImpersonate).downloadArguments(options, cookies);
        EXPECT_FALSE(arguments.contains(u"--cookies-from-browser"_s));
        EXPECT_EQ(countOf(arguments, u"--impersonate"_s), canImpersonate ? 2 : 0);
        const qsizetype at = arguments.indexOf(u"--plugin-dirs"_s);
        ASSERT_GE(at, 0);
        const QStringList expected =
            canImpersonate ? group + QStringList{u"--impersonate"_s, u"chrome"_s} : group;
        EXPECT_EQ(arguments.mid(at, expected.size()), expected);
        EXPECT_NE(arguments.value(at + expected.size()), u"--impersonate"_s);
    }
    EXPECT_TRUE(CommandBuilder(tools, plugins, true).sessionArguments(std::nullopt).isEmpty());
}

TEST(CommandBuilder, ReadsTheImpersonationTargetTable)
{
    const QString header = u"[info] Available impersonate targets\nClient    OS   Source\n-------------------\n"_s;
    const std::pair<QString, bool> cases[] = {
        // What the engine prints without curl_cffi.
        {header + u"Tor       -    curl_cffi>=0.11 (unavailable)\nChrome    -    curl_cffi (unavailable)\n"_s, false},
        {header + u"Chrome-131  Macos-14  curl_cffi\nEdge-101  Windows-10  curl_cffi\n"_s, true},
        {header + u"Chrome    -    curl_cffi\n"_s, true},
        {header + u"Safari-15.5  Macos-12  curl_cffi\nChrome    -    curl_cffi (unavailable)\n"_s, false},
        {header + u"Chromium-1  -  other\n"_s, false},
        {u"Chrome-131  Macos-14  curl_cffi\n"_s, false}, // no table
        {QString(), false},
    };
    for (const auto &[table, expected] : cases)
        EXPECT_EQ(CommandBuilder::listsChromeTarget(table), expected) << table.toStdString();
}

TEST(CommandBuilder, FilenameTemplateCheck)
{
    const std::pair<const char *, bool> cases[] = {
        {"", false}, {"-", false}, {"/etc/x", false}, {"~/x", false}, {"~", false},
        {"../x", false}, {"a/../b", false}, {"a/..", false}, {"..", false}, {"a//../b", false},
        {"%(title)s.%(ext)s", true}, {"%(uploader)s/%(title)s.%(ext)s", true}, {"a/.../b", true},
        {"..x/y", true}, {"a/b~", true}, {"--", true}, {"./x", true},
    };
    for (const auto &[text, accepted] : cases)
        EXPECT_EQ(CommandBuilder::isAcceptedTemplate(QString::fromUtf8(text)), accepted) << text;
}
