#include "engine/CompletedFiles.h"

#include "engine/YtDlpError.h"
#include "shared/Error.h"
#include "shared/L10n.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QMap>

#include <gtest/gtest.h>

#include <cerrno>
#include <functional>
#include <optional>

using namespace Qt::StringLiterals;

namespace {

const QString notFoundText = u"下载完成，但未找到输出文件"_s;

// One download: its output folder O, and its temporary folder T inside O as the queue lays it out.
struct Job
{
    QString output;
    QString temporary;
    QString complete;

    explicit Job(const QString &name)
    {
        static int counter = 0;
        output = TestEnvironment::makeDirectory(name + u'-' + QString::number(++counter));
        temporary = output + u"/.kestro-partials/job"_s;
        complete = temporary + u"/complete"_s;
        QDir().mkpath(complete);
    }

    QString finished(const QString &relative, const QByteArray &content = "data") const
    {
        return TestEnvironment::writeFile(complete + u'/' + relative, content);
    }
    QString existing(const QString &relative, const QByteArray &content) const
    {
        return TestEnvironment::writeFile(output + u'/' + relative, content);
    }
    void writeList(const QByteArray &content) const
    {
        TestEnvironment::writeFile(temporary + u"/output.jsonl"_s, content);
    }
    // The list as the engine writes it: one JSON string per line.
    void report(const QStringList &paths) const
    {
        QByteArray content;
        for (const QString &path : paths) {
            const QByteArray array = QJsonDocument(QJsonArray{path}).toJson(QJsonDocument::Compact);
            content += array.mid(1, array.size() - 2) + '\n';
        }
        writeList(content);
    }
    QString publish() const { return CompletedFiles::publishCompletedFiles(temporary, output); }
};

// Every entry below `root` with its content ("<dir>" for folders, "-> target" for links).
QMap<QString, QString> tree(const QString &root, const QString &skip = u".kestro-partials"_s)
{
    QMap<QString, QString> entries;
    QDirIterator iterator(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                          QDirIterator::Subdirectories);
    while (iterator.hasNext()) {
        const QString path = iterator.next();
        const QString relative = path.mid(root.size() + 1);
        if (relative == skip || relative.startsWith(skip + u'/'))
            continue;
        const QFileInfo info(path);
        if (info.isSymLink()) {
            entries[relative] = u"-> "_s + QFile::symLinkTarget(path);
        } else if (info.isDir()) {
            entries[relative] = u"<dir>"_s;
        } else {
            QFile file(path);
            EXPECT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
            entries[relative] = QString::fromUtf8(file.readAll());
        }
    }
    return entries;
}

void expectNotFound(const std::function<void()> &call)
{
    try {
        call();
        ADD_FAILURE() << "no error";
    } catch (const YtDlpError &error) {
        EXPECT_EQ(error.code(), YtDlpError::Code::extractionFailed);
        EXPECT_EQ(error.message(), L10n::tr(notFoundText));
    }
}

// A title of `count` CJK characters, three UTF-8 bytes each.
QString cjk(int count)
{
    return QString(count, QChar(0x6F22));
}

} // namespace

TEST(CompletedFiles, ReportsTheLastListedPathWhenItExists)
{
    const Job job(u"reported"_s);
    const QByteArray t = QFile::encodeName(job.temporary);
    job.finished(u"a.mp4"_s);
    job.finished(u"b.mp4"_s);
    job.finished(u"\uFFFD.mp4"_s);
    QFile::link(job.complete + u"/nowhere"_s, job.complete + u"/dangling.mp4"_s);

    struct Case
    {
        const char *name;
        std::optional<QByteArray> list; // "@" stands for T; none: no list at all
        std::optional<QString> expected; // relative to T
    };
    const Case cases[] = {
        {"no list", std::nullopt, std::nullopt},
        {"empty list", "", std::nullopt},
        {"only line feeds", "\n\n\n", std::nullopt},
        {"last of several lines", "\"@/complete/a.mp4\"\n\"@/complete/b.mp4\"\n", u"complete/b.mp4"_s},
        {"empty lines after the last", "\"@/complete/a.mp4\"\n\n\n", u"complete/a.mp4"_s},
        {"no final line feed", "\"@/complete/a.mp4\"", u"complete/a.mp4"_s},
        {"carriage return before the line feed", "\"@/complete/a.mp4\"\r\n", u"complete/a.mp4"_s},
        {"escapes decoded", "\"@\\/complete\\/\\u0062.mp4\"\n", u"complete/b.mp4"_s},
        {"invalid UTF-8 replaced", "\"@/complete/\xff.mp4\"\n", u"complete/\uFFFD.mp4"_s},
        {"a link to nothing is still something", "\"@/complete/dangling.mp4\"\n", u"complete/dangling.mp4"_s},
        {"last line names a missing file", "\"@/complete/a.mp4\"\n\"@/complete/gone.mp4\"\n", std::nullopt},
        {"last line garbled", "\"@/complete/a.mp4\"\n{not json\n", std::nullopt},
        {"unquoted path", "@/complete/a.mp4\n", std::nullopt},
        {"a number", "\"@/complete/a.mp4\"\n42\n", std::nullopt},
        {"an array holding the path", "[\"@/complete/a.mp4\"]\n", std::nullopt},
        {"two strings on one line", "\"@/complete/a.mp4\", \"@/complete/b.mp4\"\n", std::nullopt},
        {"text after the string", "\"@/complete/a.mp4\"],[\"x\"\n", std::nullopt},
        {"relative path", "\"complete/a.mp4\"\n", std::nullopt},
        {"NUL inside the path", "\"@/complete/a.mp4\\u0000.part\"\n", std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        QFile::remove(job.temporary + u"/output.jsonl"_s);
        if (c.list)
            job.writeList(QByteArray(*c.list).replace('@', t));
        const std::optional<QString> expected =
            c.expected ? std::optional<QString>(job.temporary + u'/' + *c.expected) : std::nullopt;
        EXPECT_EQ(CompletedFiles::completedFile(job.temporary), expected);
    }

    QFile::remove(job.temporary + u"/output.jsonl"_s);
    QDir().mkpath(job.temporary + u"/output.jsonl"_s);
    EXPECT_EQ(CompletedFiles::completedFile(job.temporary), std::nullopt) << "a folder as the list";
}

TEST(CompletedFiles, TakenNamesGetANumberBeforeTheExtension)
{
    struct Case
    {
        QString name;
        // Names already in O: "dir:" makes a folder, "link:" a link to nothing.
        QStringList taken;
        QString expected;
    };
    const Case cases[] = {
        {u"v.mp4"_s, {}, u"v.mp4"_s},
        {u"v.mp4"_s, {u"v.mp4"_s}, u"v（1）.mp4"_s},
        {u"v.mp4"_s, {u"v.mp4"_s, u"v（1）.mp4"_s}, u"v（2）.mp4"_s},
        {u"v.mp4"_s, {u"v.mp4"_s, u"v（2）.mp4"_s}, u"v（1）.mp4"_s},
        {u"v.mp4"_s,
         {u"v.mp4"_s, u"v（1）.mp4"_s, u"v（2）.mp4"_s, u"v（3）.mp4"_s, u"v（4）.mp4"_s, u"v（5）.mp4"_s,
          u"v（6）.mp4"_s, u"v（7）.mp4"_s, u"v（8）.mp4"_s, u"v（9）.mp4"_s},
         u"v（10）.mp4"_s},
        {u"a.tar.gz"_s, {u"a.tar.gz"_s}, u"a.tar（1）.gz"_s},
        {u"README"_s, {u"README"_s}, u"README（1）"_s},
        {u".hidden"_s, {u".hidden"_s}, u".hidden（1）"_s},
        {u".hidden.txt"_s, {u".hidden.txt"_s}, u".hidden（1）.txt"_s},
        {u"end."_s, {u"end."_s}, u"end.（1）"_s},
        {u"v.mp4"_s, {u"dir:v.mp4"_s}, u"v（1）.mp4"_s},
        {u"v.mp4"_s, {u"link:v.mp4"_s}, u"v（1）.mp4"_s},
        // At the 255-byte limit the stem gives way, a whole character at a time (3 bytes each here).
        {cjk(83) + u".mp4"_s, {cjk(83) + u".mp4"_s}, cjk(81) + u"（1）.mp4"_s},
        {cjk(85), {cjk(85)}, cjk(82) + u"（1）"_s},
        {cjk(82) + u"a.mp4"_s, {cjk(82) + u"a.mp4"_s}, cjk(81) + u"（1）.mp4"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(QString(c.name + u" taken: "_s + c.taken.join(u", "_s)).toStdString());
        const Job job(u"collision"_s);
        for (const QString &taken : c.taken) {
            if (taken.startsWith(u"dir:"_s))
                QDir().mkpath(job.output + u'/' + taken.mid(4));
            else if (taken.startsWith(u"link:"_s))
                QFile::link(job.output + u"/missing-target"_s, job.output + u'/' + taken.mid(5));
            else
                job.existing(taken, "earlier download");
        }
        job.report({job.finished(c.name, "new")});
        QMap<QString, QString> expectedOutput = tree(job.output);
        expectedOutput.insert(c.expected, u"new"_s);

        EXPECT_EQ(job.publish(), QString(job.output + u'/' + c.expected));
        EXPECT_EQ(tree(job.output), expectedOutput);
        EXPECT_TRUE(tree(job.complete).isEmpty());
    }
}

TEST(CompletedFiles, PublishesTheWholeTreeResolvingCollisionsPerFolder)
{
    const Job job(u"tree"_s);
    const QString video = job.finished(u"Show/S01/ep1.mp4"_s, "video");
    const QString subtitles = job.finished(u"Show/S01/ep1.en.vtt"_s, "subtitles");
    job.finished(u"Show/cover.jpg"_s, "cover");
    job.finished(u".info"_s, "info");
    QFile::link(video, job.complete + u"/Show/link.mp4"_s);
    QDir().mkpath(job.complete + u"/Empty"_s);
    job.existing(u"ep1.mp4"_s, "same name, other folder");
    job.existing(u"Show/cover.jpg"_s, "old cover");
    job.existing(u"Show/S01/ep1.en.vtt"_s, "old subtitles");
    // Only the last non-empty line decides the result.
    job.writeList(QFile::encodeName(u"\""_s + subtitles + u"\"\n\n\""_s + video + u"\"\n\n"_s));

    EXPECT_EQ(job.publish(), QString(job.output + u"/Show/S01/ep1.mp4"_s));
    const QMap<QString, QString> expectedOutput = {
        {u".info"_s, u"info"_s},
        {u"ep1.mp4"_s, u"same name, other folder"_s},
        {u"Show"_s, u"<dir>"_s},
        {u"Show/cover.jpg"_s, u"old cover"_s},
        {u"Show/cover（1）.jpg"_s, u"cover"_s},
        {u"Show/S01"_s, u"<dir>"_s},
        {u"Show/S01/ep1.mp4"_s, u"video"_s},
        {u"Show/S01/ep1.en.vtt"_s, u"old subtitles"_s},
        {u"Show/S01/ep1.en（1）.vtt"_s, u"subtitles"_s},
    };
    EXPECT_EQ(tree(job.output), expectedOutput);
    // Links and folders are not files to publish.
    const QMap<QString, QString> expectedLeft = {
        {u"Empty"_s, u"<dir>"_s},
        {u"Show"_s, u"<dir>"_s},
        {u"Show/S01"_s, u"<dir>"_s},
        {u"Show/link.mp4"_s, u"-> "_s + video},
    };
    EXPECT_EQ(tree(job.complete), expectedLeft);
}

TEST(CompletedFiles, ReportedPathIsCleanedBeforeTheCheck)
{
    const char *const reported[] = {"Show/../v.mp4", "./v.mp4", "Show//.././v.mp4"};
    for (const char *path : reported) {
        SCOPED_TRACE(path);
        const Job job(u"dots"_s);
        job.finished(u"v.mp4"_s, "video");
        QDir().mkpath(job.complete + u"/Show"_s);
        job.report({job.complete + u'/' + QString::fromUtf8(path)});
        EXPECT_EQ(job.publish(), QString(job.output + u"/v.mp4"_s));
    }
}

TEST(CompletedFiles, WithoutTheReportedFileInsideCompleteNothingIsPublished)
{
    struct Case
    {
        const char *name;
        std::function<void(const Job &)> prepare;
    };
    const Case cases[] = {
        {"no list", [](const Job &) {}},
        {"empty list", [](const Job &job) { job.writeList("\n"); }},
        {"garbled list", [](const Job &job) { job.writeList("{\"path\": 1}\n"); }},
        {"reported file missing", [](const Job &job) { job.report({job.complete + u"/gone.mp4"_s}); }},
        {"reported file outside complete",
         [](const Job &job) { job.report({TestEnvironment::writeFile(job.temporary + u"/v.mp4"_s, "x")}); }},
        {"'..' leads out of complete",
         [](const Job &job) {
             TestEnvironment::writeFile(job.temporary + u"/v.mp4"_s, "x");
             job.report({job.complete + u"/Sub/../../v.mp4"_s});
         }},
        {"folder sharing the name's beginning",
         [](const Job &job) {
             job.report({TestEnvironment::writeFile(job.temporary + u"/complete-old/v.mp4"_s, "x")});
         }},
        {"complete itself", [](const Job &job) { job.report({job.complete}); }},
        {"a folder inside complete", [](const Job &job) { job.report({job.complete + u"/Sub"_s}); }},
        // Every file is moved first, so this also shows the undo.
        {"a link inside complete",
         [](const Job &job) {
             QFile::link(job.complete + u"/v.mp4"_s, job.complete + u"/link.mp4"_s);
             job.report({job.complete + u"/link.mp4"_s});
         }},
        // "complete" through a link would publish files from another place.
        {"complete is a link",
         [](const Job &job) {
             QDir(job.complete).removeRecursively();
             const QString real = job.temporary + u"/real"_s;
             TestEnvironment::writeFile(real + u"/v.mp4"_s, "x");
             QFile::link(real, job.complete);
             job.report({job.complete + u"/v.mp4"_s});
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Job job(u"not-found"_s);
        job.existing(u"v.mp4"_s, "earlier download");
        job.finished(u"v.mp4"_s, "video");
        job.finished(u"Sub/New/v.en.vtt"_s, "subtitles");
        c.prepare(job);
        const QMap<QString, QString> outputBefore = tree(job.output);
        const QMap<QString, QString> temporaryBefore = tree(job.temporary);

        expectNotFound([&] { job.publish(); });
        EXPECT_EQ(tree(job.output), outputBefore);
        EXPECT_EQ(tree(job.temporary), temporaryBefore);
    }
}

TEST(CompletedFiles, AFailureHalfWayPutsEverythingBack)
{
    // Both fail for root too. Files are taken in sorted order, so "Sub/…" and "a.mp4" are already
    // in place when the failing one comes.
    // 250 bytes, nearly all extension: even a one-letter stem with "（1）" is over the limit.
    const QString longName = u"x."_s + QString(248, u'e');
    struct Case
    {
        const char *name;
        QString failing; // below complete
        QString blocker; // an existing file in O
        int errorNumber;
        QString errorPath; // relative to O
    };
    const Case cases[] = {
        {"the numbered name is too long", longName, longName, ENAMETOOLONG, u"x（1）."_s + QString(248, u'e')},
        {"a file where a folder is needed", u"zed/inner/c.vtt"_s, u"zed"_s, ENOTDIR, u"zed"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const Job job(u"failure"_s);
        job.existing(u"a.mp4"_s, "earlier download");
        job.existing(c.blocker, "blocker");
        job.finished(u"Sub/Deeper/b.jpg"_s, "thumbnail");
        job.finished(c.failing, "failing");
        job.report({job.finished(u"a.mp4"_s, "video")});
        const QMap<QString, QString> outputBefore = tree(job.output);
        const QMap<QString, QString> completeBefore = tree(job.complete);

        try {
            job.publish();
            ADD_FAILURE() << "no error";
        } catch (const FileError &error) {
            EXPECT_EQ(error.errorNumber(), c.errorNumber);
            EXPECT_EQ(error.path(), QString(job.output + u'/' + c.errorPath));
        }
        EXPECT_EQ(tree(job.output), outputBefore);
        EXPECT_EQ(tree(job.complete), completeBefore);
    }
}
