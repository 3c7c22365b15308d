#include "app/DesktopIntegration.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QSvgRenderer>

#include <gtest/gtest.h>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>

using namespace Qt::StringLiterals;

namespace {

const QByteArray ours = "x-scheme-handler/kestro=brisvane-download.desktop";

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

struct Identity
{
    ino_t inode = 0;
    timespec modified{};
    bool operator==(const Identity &other) const
    {
        return inode == other.inode && modified.tv_sec == other.modified.tv_sec && modified.tv_nsec == other.modified.tv_nsec;
    }
};

Identity identityOf(const QString &path)
{
    struct stat info{};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return {};
    return {info.st_ino, info.st_mtim};
}

} // namespace

TEST(DesktopIntegration, DefaultHandlerLeavesEveryOtherLineAlone)
{
    struct Case
    {
        const char *name;
        QByteArray before;
        QByteArray after;
    } cases[] = {
        {"no file", "", "[Default Applications]\n" + ours + "\n"},
        {"other groups only", "[Added Associations]\nimage/png=viewer.desktop;\n",
         "[Added Associations]\nimage/png=viewer.desktop;\n\n[Default Applications]\n" + ours + "\n"},
        {"after the group's last key, before the next group",
         "# mine\n[Default Applications]\ntext/html=firefox.desktop\n\n[Added Associations]\nx-scheme-handler/kestro=old.desktop;\n",
         "# mine\n[Default Applications]\ntext/html=firefox.desktop\n" + ours
             + "\n\n[Added Associations]\nx-scheme-handler/kestro=old.desktop;\n"},
        {"another handler is replaced in place, repeats dropped",
         "[Default Applications]\nx-scheme-handler/kestro = other.desktop;\ntext/html=f.desktop\nx-scheme-handler/kestro=x.desktop\n",
         "[Default Applications]\n" + ours + "\ntext/html=f.desktop\n"},
        {"commented out is not ours", "[Default Applications]\n#x-scheme-handler/kestro=x.desktop\n",
         "[Default Applications]\n#x-scheme-handler/kestro=x.desktop\n" + ours + "\n"},
        {"no final newline", "[Default Applications]\ntext/html=f.desktop", "[Default Applications]\ntext/html=f.desktop\n" + ours + "\n"},
        {"already there", "[Default Applications]\n" + ours + "\n", "[Default Applications]\n" + ours + "\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const QByteArray after = DesktopIntegration::withDefaultHandler(c.before);
        EXPECT_EQ(after, c.after);
        EXPECT_EQ(DesktopIntegration::withDefaultHandler(after), after);
    }
}

TEST(DesktopIntegration, ExecLineQuotesWhatTheRulesReserve)
{
    const struct
    {
        QString program;
        QString exec;
    } cases[] = {
        {u"/opt/brisvane-download/Contents/Linux/Kestro"_s, u"/opt/brisvane-download/Contents/Linux/Kestro"_s},
        {u"/home/u/Brisvane Download/Contents/Linux/Kestro"_s, u"\"/home/u/Brisvane Download/Contents/Linux/Kestro\""_s},
        // Quoting escapes with a backslash, and the key file escapes that backslash again.
        {u"/a b/$x\"y`z\\w"_s, u"\"/a b/\\\\$x\\\\\"y\\\\`z\\\\\\\\w\""_s},
        {u"/opt/100%/Kestro"_s, u"/opt/100%%/Kestro"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.program.toStdString());
        EXPECT_EQ(DesktopIntegration::execArgument(c.program), c.exec);
        EXPECT_TRUE(DesktopIntegration::desktopEntry(c.program).contains(QByteArray("\nExec=" + c.exec.toUtf8() + " %u\n")));
    }
    EXPECT_TRUE(DesktopIntegration::desktopEntry(u"/opt/a\nb/Kestro"_s).isEmpty());
    const QByteArray entry = DesktopIntegration::desktopEntry(u"/opt/k/Kestro"_s);
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    EXPECT_TRUE(entry.contains("\nMimeType=x-scheme-handler/kestro;\n"));
    EXPECT_TRUE(entry.contains("\nIcon=brisvane-download\n"));
}

TEST(DesktopIntegration, InstallRewritesOnlyWhatChanged)
{
    const QString program = u"/opt/brisvane-download/Contents/Linux/Kestro"_s;
    TestEnvironment::writeFile(DesktopIntegration::mimeAppsPath(), "[Added Associations]\nimage/png=viewer.desktop;\n");
    ASSERT_TRUE(DesktopIntegration::install(program));
    EXPECT_EQ(contentOf(DesktopIntegration::entryPath()), DesktopIntegration::desktopEntry(program));
    EXPECT_TRUE(QSvgRenderer(DesktopIntegration::iconPath()).isValid());
    EXPECT_EQ(contentOf(DesktopIntegration::mimeAppsPath()),
              "[Added Associations]\nimage/png=viewer.desktop;\n\n[Default Applications]\n" + ours + "\n");

    const QString paths[] = {DesktopIntegration::entryPath(), DesktopIntegration::iconPath(), DesktopIntegration::mimeAppsPath()};
    QList<Identity> before;
    for (const QString &path : paths)
        before.append(identityOf(path));
    ASSERT_TRUE(DesktopIntegration::install(program));
    for (qsizetype i = 0; i < before.size(); ++i)
        EXPECT_EQ(identityOf(paths[i]), before[i]) << paths[i].toStdString();

    // A moved bundle gets a new entry.
    ASSERT_TRUE(DesktopIntegration::install(u"/opt/moved/Contents/Linux/Kestro"_s));
    EXPECT_TRUE(contentOf(DesktopIntegration::entryPath()).contains("Exec=/opt/moved/Contents/Linux/Kestro %u"));
}

TEST(DesktopIntegration, FailedWritesLeaveTheOldFile)
{
    const QString path = DesktopIntegration::entryPath();
    TestEnvironment::writeFile(path, "old entry\n");
    const QByteArray entry = DesktopIntegration::desktopEntry(u"/opt/brisvane-download/Contents/Linux/Kestro"_s);

    // A disk that fills up: writes past a few bytes fail.
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit small = saved;
    small.rlim_cur = 16;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const bool written = DesktopIntegration::writeIfChanged(path, entry);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &saved), 0);
    EXPECT_FALSE(written);
    EXPECT_EQ(contentOf(path), "old entry\n");
    EXPECT_EQ(QDir(QFileInfo(path).path()).entryList(QDir::Files | QDir::Hidden), QStringList{u"brisvane-download.desktop"_s});

    // A folder that cannot be made.
    const QString blocked = TestEnvironment::writeFile(TestEnvironment::root() + u"/plain file"_s, "x");
    EXPECT_FALSE(DesktopIntegration::writeIfChanged(blocked + u"/entry.desktop"_s, entry));

    // A mimeapps.list too large to be ours to rewrite stays as it is, and so does the claim.
    const QByteArray huge = "[Default Applications]\n" + QByteArray(DesktopIntegration::maxFileBytes, '#') + "\n";
    TestEnvironment::writeFile(DesktopIntegration::mimeAppsPath(), huge);
    EXPECT_FALSE(DesktopIntegration::install(u"/opt/brisvane-download/Contents/Linux/Kestro"_s));
    EXPECT_EQ(contentOf(DesktopIntegration::mimeAppsPath()), huge);
}
