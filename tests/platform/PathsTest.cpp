#include "platform/Paths.h"
#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(Paths, FollowTheXdgVariables)
{
    const QString root = TestEnvironment::root();
    EXPECT_EQ(Paths::home(), root + u"/home"_s);
    EXPECT_EQ(Paths::dataHome(), root + u"/home/.local/share"_s);
    EXPECT_EQ(Paths::configHome(), root + u"/home/.config"_s);
    EXPECT_EQ(Paths::runtimeDir(), root + u"/runtime"_s);
    EXPECT_EQ(Paths::tempDir(), root + u"/tmp"_s);
    EXPECT_EQ(Paths::applicationData(), root + u"/home/.local/share/Kestro"_s);

    // A relative value is not a base directory.
    qputenv("XDG_DATA_HOME", "relative/share");
    EXPECT_EQ(Paths::dataHome(), root + u"/home/.local/share"_s);
}
