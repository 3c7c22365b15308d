#include "platform/Workspace.h"
#include "ArgumentRecorder.h"
#include "TestEnvironment.h"

#include <QFile>
#include <QFileInfo>
#include <QThread>

#include <gtest/gtest.h>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

using Recorder = ArgumentRecorder;

struct Outcome
{
    bool done = false;
    std::optional<QString> error;
};

std::shared_ptr<Outcome> track(Workspace::Completion &completion)
{
    auto outcome = std::make_shared<Outcome>();
    completion = [outcome](std::optional<QString> error) {
        outcome->done = true;
        outcome->error = error;
    };
    return outcome;
}

// Points the default opener at a stand-in for the lifetime of the object.
struct OpenerOverride
{
    explicit OpenerOverride(const QString &program) { qputenv(Workspace::openCommandVariable, program.toUtf8()); }
    ~OpenerOverride() { qunsetenv(Workspace::openCommandVariable); }
};

const QString media = u"/media/clips/clip 1 – ü.mp4"_s;

} // namespace

TEST(Workspace, ExecLineBecomesACommandForTheFile)
{
    const struct
    {
        QString exec;
        std::optional<QStringList> command;
    } cases[] = {
        {u"vlc --started-from-file %U"_s, QStringList{u"vlc"_s, u"--started-from-file"_s, media}},
        {u"mpv --player-operation-mode=pseudo-gui -- %U"_s,
         QStringList{u"mpv"_s, u"--player-operation-mode=pseudo-gui"_s, u"--"_s, media}},
        {u"totem %f"_s, QStringList{u"totem"_s, media}},
        {u"player %F"_s, QStringList{u"player"_s, media}},
        {u"player --file=%u"_s, QStringList{u"player"_s, u"--file="_s + media}},
        // No file code: the file goes at the end.
        {u"player --fullscreen"_s, QStringList{u"player"_s, u"--fullscreen"_s, media}},
        // Other field codes disappear; alone they leave no empty argument behind.
        {u"player %i --name=%c %k %f"_s, QStringList{u"player"_s, u"--name="_s, media}},
        {u"player --rate 100%% %f"_s, QStringList{u"player"_s, u"--rate"_s, u"100%"_s, media}},
        {u"  player \t  %f  "_s, QStringList{u"player"_s, media}},
        // Quoting: spaces kept, the four escapable characters unescaped, others left alone.
        {u"\"/opt/My Player/play\" %f"_s, QStringList{u"/opt/My Player/play"_s, media}},
        {uR"(sh -c "echo \\"\\$1\\" \\`x\\` a\\\\b \\q" %f)"_s,
         QStringList{u"sh"_s, u"-c"_s, uR"(echo "$1" `x` a\b \q)"_s, media}},
        {uR"(player "" %f)"_s, QStringList{u"player"_s, QString(), media}},
        // The general escapes of a desktop entry value come first: \s is a plain separator.
        {uR"(my\splayer %f)"_s, QStringList{u"my"_s, u"player"_s, media}},
        {uR"("my\splayer" %f)"_s, QStringList{u"my player"_s, media}},
        // No shell: its characters are plain text.
        {u"player $HOME ; rm -rf x | y %f"_s,
         QStringList{u"player"_s, u"$HOME"_s, u";"_s, u"rm"_s, u"-rf"_s, u"x"_s, u"|"_s, u"y"_s, media}},
        {u"player \"unterminated %f"_s, std::nullopt},
        {QString(), std::nullopt},
        {u"   "_s, std::nullopt},
        {u"%i %c"_s, std::nullopt},
        {u"\"\" %f"_s, std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Workspace::execCommand(c.exec, media), c.command) << c.exec.toStdString();
}

TEST(Workspace, PathIsInsertedAsItIs)
{
    // A path that looks like a field code or holds quotes is not expanded again.
    const QString path = u"/tmp/100%f \"a\" $x.mp4"_s;
    EXPECT_EQ(Workspace::execCommand(u"player %f %u"_s, path), (QStringList{u"player"_s, path, path}));
}

TEST(Workspace, ExecValueComesFromTheMainGroup)
{
    const struct
    {
        const char *name;
        QByteArray content;
        std::optional<QString> exec;
    } cases[] = {
        {"plain", "[Desktop Entry]\nType=Application\nName=Player\nExec=player %U\n", u"player %U"_s},
        {"spaces around the sign, CRLF, comments",
         "# comment\r\n[Desktop Entry]\r\n# Exec=wrong\r\nExec  =  player --x %f  \r\n", u"player --x %f"_s},
        {"action group first", "[Desktop Action New]\nExec=player --new\n[Desktop Entry]\nExec=player %f\n",
         u"player %f"_s},
        {"action group after", "[Desktop Entry]\nName=P\n[Desktop Action New]\nExec=player --new\n", std::nullopt},
        {"localized key only", "[Desktop Entry]\nExec[de]=spieler %f\n", std::nullopt},
        {"first Exec wins", "[Desktop Entry]\nExec=one %f\nExec=two %f\n", u"one %f"_s},
        {"no group", "Exec=player %f\n", std::nullopt},
        {"other group name", "[Desktop Entry Extra]\nExec=player %f\n", std::nullopt},
        {"UTF-8", "[Desktop Entry]\nExec=/opt/Plāyer/run %f\n", u"/opt/Plāyer/run %f"_s},
        {"empty", "", std::nullopt},
    };
    for (const auto &c : cases)
        EXPECT_EQ(Workspace::desktopEntryExec(c.content), c.exec) << c.name;
}

TEST(Workspace, ChosenApplicationReceivesTheFile)
{
    const Recorder executable(u"player"_s);
    const Recorder viaEntry(u"entry-player"_s);
    const QString entry = TestEnvironment::writeFile(
        TestEnvironment::root() + u"/share/applications/player.desktop"_s,
        "[Desktop Entry]\nType=Application\nName=Player\nIcon=player\nExec=\"" + viaEntry.program.toUtf8()
            + "\" --fullscreen %i %U\n");

    const struct
    {
        QString application;
        const Recorder &recorder;
        QStringList arguments;
    } cases[] = {
        {executable.program, executable, {media}},
        {entry, viaEntry, {u"--fullscreen"_s, media}},
    };
    for (const auto &c : cases) {
        Workspace::Completion done;
        const auto outcome = track(done);
        Workspace::openWithApplication(media, c.application, nullptr, done);
        EXPECT_FALSE(outcome->done) << "completion must not run inside the call";
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return outcome->done && c.recorder.called(); }));
        EXPECT_EQ(outcome->error, std::nullopt) << outcome->error.value_or(QString()).toStdString();
        EXPECT_EQ(c.recorder.arguments(), c.arguments);
    }
}

TEST(Workspace, ChosenApplicationThatCannotStartIsAnError)
{
    const QString folder = TestEnvironment::makeDirectory(u"broken"_s);
    const QString notExecutable = TestEnvironment::writeFile(folder + u"/player"_s, "#!/bin/sh\n");
    QFile::setPermissions(notExecutable, QFile::ReadOwner | QFile::WriteOwner);
    const QString noExec = TestEnvironment::writeFile(folder + u"/noexec.desktop"_s, "[Desktop Entry]\nName=X\n");
    const QString badQuote =
        TestEnvironment::writeFile(folder + u"/quote.desktop"_s, "[Desktop Entry]\nExec=\"player %f\n");
    const QString missingProgram = TestEnvironment::writeFile(
        folder + u"/missing.desktop"_s, "[Desktop Entry]\nExec=" + folder.toUtf8() + "/no-such-player %f\n");

    const QString applications[] = {
        folder + u"/no-such-player"_s, notExecutable, folder + u"/absent.desktop"_s,
        noExec, badQuote, missingProgram, folder,
    };
    for (const QString &application : applications) {
        Workspace::Completion done;
        const auto outcome = track(done);
        Workspace::openWithApplication(media, application, nullptr, done);
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return outcome->done; })) << application.toStdString();
        ASSERT_TRUE(outcome->error) << application.toStdString();
        EXPECT_FALSE(outcome->error->isEmpty());
    }
}

TEST(Workspace, DefaultOpenerReportsItsOutcome)
{
    const Recorder succeeding(u"opener"_s);
    const Recorder failing(u"failing-opener"_s, 4);
    const struct
    {
        QString program;
        const Recorder *recorder;
        bool fails;
    } cases[] = {
        {succeeding.program, &succeeding, false},
        {failing.program, &failing, true},
        {TestEnvironment::root() + u"/no-such-opener"_s, nullptr, true},
    };
    for (const auto &c : cases) {
        const OpenerOverride opener(c.program);
        Workspace::Completion done;
        const auto outcome = track(done);
        Workspace::openWithDefault(media, nullptr, done);
        EXPECT_FALSE(outcome->done);
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return outcome->done; })) << c.program.toStdString();
        EXPECT_EQ(outcome->error.has_value(), c.fails) << c.program.toStdString();
        if (c.recorder) {
            EXPECT_EQ(c.recorder->arguments(), QStringList{media});
        }
    }
}

TEST(Workspace, NoCompletionOnceTheContextIsGone)
{
    const Recorder opener(u"opener"_s);
    const OpenerOverride override(opener.program);
    bool called = false;
    {
        QObject context;
        Workspace::openWithDefault(media, &context, [&called](std::optional<QString>) { called = true; });
        Workspace::openWithApplication(media, opener.program, &context,
                                       [&called](std::optional<QString>) { called = true; });
    }
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return opener.called(); }));
    QThread::msleep(200);
    TestEnvironment::waitFor([] { return false; }, 300);
    EXPECT_FALSE(called);
}

TEST(Workspace, RevealWithoutFileManagerOpensTheFolder)
{
    // No session bus: the D-Bus request cannot be made and the folder is opened instead.
    qunsetenv("DBUS_SESSION_BUS_ADDRESS");
    const Recorder opener(u"opener"_s);
    const OpenerOverride override(opener.program);
    const QString file = TestEnvironment::writeFile(TestEnvironment::root() + u"/shown/App.AppImage"_s, "x");
    Workspace::Completion done;
    const auto outcome = track(done);
    Workspace::reveal(file, nullptr, done);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return outcome->done; }));
    EXPECT_FALSE(outcome->error.has_value());
    EXPECT_EQ(opener.arguments(), QStringList{TestEnvironment::root() + u"/shown"_s});
}
