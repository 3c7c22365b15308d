#include "platform/Bundle.h"
#include "TestEnvironment.h"

#include <QFileInfo>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(Bundle, FoundFromTheProgramsOwnPath)
{
    const QString root = TestEnvironment::root() + u"/opt/brisvane download"_s;
    TestEnvironment::writeFile(root + u"/Contents/Info.json"_s,
                               R"({"CFBundleShortVersionString":"1.0.0","CFBundleVersion":"12"})");
    const struct
    {
        QString program;
        QString bundle;
    } cases[] = {
        {root + u"/Contents/Linux/Kestro"_s, root},
        {root + u"/Contents/Helpers/KestroBridge"_s, root},
        {root + u"/Contents/Other/Kestro"_s, QString()},
        {root + u"/Linux/Kestro"_s, QString()},
        {u"/usr/bin/yt-dlp"_s, QString()},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Bundle::containing(c.program).path(), c.bundle) << c.program.toStdString();

    const Bundle bundle = Bundle::containing(root + u"/Contents/Linux/Kestro"_s);
    EXPECT_EQ(bundle.helpers(), root + u"/Contents/Helpers"_s);
    EXPECT_EQ(bundle.resources(), root + u"/Contents/Resources"_s);
    EXPECT_EQ(bundle.infoValue(u"CFBundleVersion"_s).toString(), u"12"_s);
    EXPECT_TRUE(bundle.infoValue(u"Missing"_s).isUndefined());
}

TEST(Bundle, BuildTreeBundleCarriesItsInfoAndTools)
{
    const Bundle bundle(QStringLiteral(KESTRO_BUILD_BUNDLE_DIR));
    EXPECT_EQ(bundle.infoValue(u"CFBundleShortVersionString"_s).toString(), u"1.0.0"_s);
    EXPECT_TRUE(bundle.infoValue(u"CFBundleVersion"_s).isString());
    EXPECT_TRUE(QFileInfo(bundle.resources() + u"/Language.json"_s).isFile());
    EXPECT_TRUE(QFileInfo(bundle.resources() + u"/en.lproj/Localizable.json"_s).isFile());
    // Debian's programs are linked; what comes from the build tree is copied, so that an
    // installed bundle never points into it.
    for (const QString &tool : {u"ffmpeg"_s, u"ffprobe"_s})
        EXPECT_TRUE(QFileInfo(bundle.helpers() + u'/' + tool).isSymLink()) << tool.toStdString();
    for (const QString &tool : {u"yt-dlp"_s, u"deno"_s}) {
        const QFileInfo file(bundle.helpers() + u'/' + tool);
        EXPECT_TRUE(!file.isSymLink() && file.isFile() && file.isExecutable()) << tool.toStdString();
    }
}
