#include "store/HistoryStore.h"

#include "FileSizeLimit.h"
#include "TestEnvironment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTimeZone>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

using namespace Qt::StringLiterals;

// Readable failure messages.
void PrintTo(const HistoryEntry &entry, std::ostream *out)
{
    *out << QJsonDocument(entry.toJson()).toJson(QJsonDocument::Compact).toStdString();
}

void PrintTo(const QJsonArray &array, std::ostream *out)
{
    *out << QJsonDocument(array).toJson(QJsonDocument::Compact).toStdString();
}

namespace {

const QDateTime firstFinish(QDate(2026, 3, 1), QTime(8, 15, 0), Qt::UTC);

HistoryEntry makeEntry(int number)
{
    HistoryEntry entry;
    entry.id = QUuid::createUuid();
    entry.url = u"https://video.example/watch/"_s + QString::number(number);
    entry.title = u"Clip "_s + QString::number(number);
    entry.site = u"video.example"_s;
    entry.resolution = u"1080p"_s;
    entry.ext = u"MP4"_s;
    entry.filePath = u"/home/me/Downloads/Kestro/Clip "_s + QString::number(number) + u".mp4"_s;
    entry.thumbnailURL = u"https://img.example/"_s + QString::number(number) + u".jpg"_s;
    entry.finishedAt = firstFinish.addSecs(number * 60);
    return entry;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QJsonArray fileArray(const QString &path)
{
    return QJsonDocument::fromJson(readAll(path)).array();
}

QJsonArray toArray(const QList<HistoryEntry> &entries)
{
    QJsonArray array;
    for (const HistoryEntry &entry : entries)
        array.append(entry.toJson());
    return array;
}

QStringList asideFiles(const QString &historyPath)
{
    const QFileInfo info(historyPath);
    return QDir(info.absolutePath()).entryList({info.fileName() + u".unreadable-*"_s}, QDir::AllEntries | QDir::Hidden);
}

QString freshPath(const QString &name)
{
    return TestEnvironment::makeDirectory(u"histories/"_s + name) + u"/history.json"_s;
}

} // namespace

TEST(HistoryEntry, JsonForm)
{
    HistoryEntry entry = makeEntry(0);
    entry.id = QUuid::fromString(u"0f8fad5b-d9cb-469f-a165-70867728950e"_s);
    entry.finishedAt = QDateTime(QDate(2026, 3, 1), QTime(16, 15, 0), QTimeZone(8 * 3600));
    entry.thumbnailURL.reset();

    const QJsonObject json = entry.toJson();
    EXPECT_EQ(json.value(u"id"_s).toString(), u"0F8FAD5B-D9CB-469F-A165-70867728950E"_s);
    EXPECT_EQ(json.value(u"finishedAt"_s).toString(), u"2026-03-01T08:15:00Z"_s);
    EXPECT_EQ(json.value(u"filePath"_s).toString(), *entry.filePath);
    EXPECT_FALSE(json.contains(u"thumbnailURL"_s));
    EXPECT_EQ(json.keys().size(), 8);
    EXPECT_EQ(HistoryEntry::fromJson(json), entry);
}

TEST(HistoryStore, FirstLaunchStartsEmptyAndTheFirstAddCreatesTheFile)
{
    const QString path = HistoryStore::defaultFilePath();
    EXPECT_EQ(path, qEnvironmentVariable("XDG_DATA_HOME") + u"/Kestro/history.json"_s);
    ASSERT_FALSE(QFileInfo::exists(QFileInfo(path).absolutePath()));

    HistoryStore store;
    EXPECT_TRUE(store.entries().isEmpty());
    QSignalSpy changed(&store, &HistoryStore::changed);
    const HistoryEntry entry = makeEntry(1);
    store.add(entry);
    EXPECT_EQ(changed.count(), 1);
    EXPECT_EQ(store.entries(), QList<HistoryEntry>{entry});
    EXPECT_EQ(fileArray(path), toArray({entry}));
    EXPECT_TRUE(readAll(path).contains("\n    ")) << "the file is indented";
    EXPECT_EQ(HistoryStore().entries(), QList<HistoryEntry>{entry});
    EXPECT_TRUE(asideFiles(path).isEmpty());
}

TEST(HistoryStore, KeepsTheNewest500NewestFirst)
{
    const QString path = freshPath(u"limit"_s);
    QList<HistoryEntry> added;
    {
        HistoryStore store(path);
        for (int number = 1; number <= 501; ++number) {
            added.prepend(makeEntry(number));
            store.add(added.first());
        }
        ASSERT_EQ(store.entries().size(), 500);
        EXPECT_EQ(store.entries(), added.first(500));
        EXPECT_EQ(store.entries().first().title, u"Clip 501"_s);
        EXPECT_EQ(store.entries().last().title, u"Clip 2"_s);
    }
    EXPECT_EQ(fileArray(path), toArray(added.first(500)));
    EXPECT_EQ(HistoryStore(path).entries(), added.first(500));
}

TEST(HistoryStore, LoadsEveryAcceptedFormInFileOrder)
{
    const QString path = freshPath(u"forms"_s);
    HistoryEntry older = makeEntry(1);
    HistoryEntry newer = makeEntry(2);
    QJsonObject bare = older.toJson();
    bare.remove(u"filePath"_s);
    bare.remove(u"thumbnailURL"_s);
    bare.insert(u"id"_s, bare.value(u"id"_s).toString().toLower());
    bare.insert(u"unknownKey"_s, 42);
    QJsonObject nulls = newer.toJson();
    nulls.insert(u"filePath"_s, QJsonValue::Null);
    nulls.insert(u"thumbnailURL"_s, QJsonValue::Null);
    // File order stands even where the dates say otherwise, and nothing is trimmed.
    QJsonArray array{bare, nulls};
    for (int number = 3; number <= 502; ++number)
        array.append(makeEntry(number).toJson());
    TestEnvironment::writeFile(path, QJsonDocument(array).toJson(QJsonDocument::Compact));

    const HistoryStore store(path);
    ASSERT_EQ(store.entries().size(), 502);
    older.filePath.reset();
    older.thumbnailURL.reset();
    newer.filePath.reset();
    newer.thumbnailURL.reset();
    EXPECT_EQ(store.entries().at(0), older);
    EXPECT_EQ(store.entries().at(1), newer);
    EXPECT_EQ(store.entries().at(2).title, u"Clip 3"_s);
}

TEST(HistoryStore, UndecodableFileGivesAnEmptyHistoryAndIsMovedAsideBeforeTheFirstSave)
{
    const QJsonObject good = makeEntry(1).toJson();
    const auto with = [&good](const QString &key, const QJsonValue &value) {
        QJsonObject object = good;
        if (value.isUndefined())
            object.remove(key);
        else
            object.insert(key, value);
        return QJsonDocument(QJsonArray{good, object}).toJson();
    };
    static const char garbage[] = "\x00\xff\xfe not json at all";
    const struct
    {
        const char *name;
        QByteArray content;
    } cases[] = {
        {"entry lacking title", with(u"title"_s, QJsonValue::Undefined)},
        {"entry lacking finishedAt", with(u"finishedAt"_s, QJsonValue::Undefined)},
        {"fractional seconds", with(u"finishedAt"_s, u"2026-03-01T08:15:00.250Z"_s)},
        {"no time zone", with(u"finishedAt"_s, u"2026-03-01T08:15:00"_s)},
        {"non-UTC offset", with(u"finishedAt"_s, u"2026-03-01T16:15:00+08:00"_s)},
        {"zero offset spelled out", with(u"finishedAt"_s, u"2026-03-01T08:15:00+00:00"_s)},
        {"date only", with(u"finishedAt"_s, u"2026-03-01"_s)},
        {"lower-case separators", with(u"finishedAt"_s, u"2026-03-01t08:15:00z"_s)},
        {"no such day", with(u"finishedAt"_s, u"2026-02-30T08:15:00Z"_s)},
        {"hour 24", with(u"finishedAt"_s, u"2026-03-01T24:00:00Z"_s)},
        {"date as a number", with(u"finishedAt"_s, 1772352900)},
        {"id in braces", with(u"id"_s, u"{0F8FAD5B-D9CB-469F-A165-70867728950E}"_s)},
        {"id not a UUID", with(u"id"_s, u"clip-1"_s)},
        {"title a number", with(u"title"_s, 7)},
        {"site null", with(u"site"_s, QJsonValue::Null)},
        {"filePath a number", with(u"filePath"_s, 3)},
        {"thumbnailURL an object", with(u"thumbnailURL"_s, QJsonObject())},
        {"entry not an object", QJsonDocument(QJsonArray{good, u"entry"_s}).toJson()},
        {"object instead of array", QJsonDocument(good).toJson()},
        {"truncated", QJsonDocument(QJsonArray{good}).toJson().chopped(3)},
        {"trailing text", QJsonDocument(QJsonArray{good}).toJson() + "x"},
        {"garbage", QByteArray(garbage, sizeof garbage - 1)},
        {"empty file", QByteArray()},
        {"oversized", "[" + QByteArray(HistoryStore::maxFileSize, ' ') + "]"},
    };
    static const QRegularExpression asideName(u"^history\\.json\\.unreadable-[0-9]{8}T[0-9]{6}Z$"_s);

    int index = 0;
    for (const auto &c : cases) {
        const QString path = freshPath(QString::number(index++));
        TestEnvironment::writeFile(path, c.content);
        HistoryStore store(path);
        EXPECT_TRUE(store.entries().isEmpty()) << c.name;
        // Left alone until something changes.
        EXPECT_EQ(readAll(path), c.content) << c.name;
        EXPECT_TRUE(asideFiles(path).isEmpty()) << c.name;

        const HistoryEntry entry = makeEntry(2);
        store.add(entry);
        EXPECT_EQ(store.entries(), QList<HistoryEntry>{entry}) << c.name;
        EXPECT_EQ(fileArray(path), toArray({entry})) << c.name;
        const QStringList aside = asideFiles(path);
        ASSERT_EQ(aside.size(), 1) << c.name;
        EXPECT_TRUE(asideName.match(aside.first()).hasMatch()) << aside.first().toStdString();
        EXPECT_EQ(readAll(QFileInfo(path).absolutePath() + u'/' + aside.first()), c.content) << c.name;

        // Once moved, later saves do not move anything again.
        store.add(makeEntry(3));
        EXPECT_EQ(asideFiles(path).size(), 1) << c.name;
    }
}

TEST(HistoryStore, EachUndecodableFileKeepsItsOwnCopy)
{
    const QString path = freshPath(u"twice"_s);
    const QByteArray contents[] = {"not json, first", "not json, second", "not json, third"};
    for (const QByteArray &content : contents) {
        TestEnvironment::writeFile(path, content);
        HistoryStore(path).clear();
        EXPECT_EQ(fileArray(path), QJsonArray());
    }
    QList<QByteArray> kept;
    for (const QString &name : asideFiles(path))
        kept.append(readAll(QFileInfo(path).absolutePath() + u'/' + name));
    std::sort(kept.begin(), kept.end());
    EXPECT_EQ(kept, (QList<QByteArray>{contents[0], contents[1], contents[2]}));
}

TEST(HistoryStore, RemoveAndClearRewriteTheFile)
{
    const QString path = freshPath(u"remove"_s);
    const HistoryEntry first = makeEntry(1);
    HistoryEntry sameLink = makeEntry(2);
    sameLink.url = first.url;
    const HistoryEntry third = makeEntry(3);
    // The same id twice can only come from the file.
    TestEnvironment::writeFile(path, QJsonDocument(toArray({third, sameLink, first, sameLink})).toJson());

    HistoryStore store(path);
    ASSERT_EQ(store.entries().size(), 4);
    QSignalSpy changed(&store, &HistoryStore::changed);
    store.remove(sameLink.id);
    EXPECT_EQ(store.entries(), (QList<HistoryEntry>{third, first}));
    EXPECT_EQ(fileArray(path), toArray({third, first}));
    store.remove(QUuid::createUuid());
    EXPECT_EQ(store.entries(), (QList<HistoryEntry>{third, first}));

    // Downloading the same link again is a new entry.
    const HistoryEntry again = makeEntry(4);
    store.add(again);
    HistoryEntry repeat = again;
    repeat.id = QUuid::createUuid();
    store.add(repeat);
    EXPECT_EQ(store.entries(), (QList<HistoryEntry>{repeat, again, third, first}));

    store.clear();
    EXPECT_TRUE(store.entries().isEmpty());
    EXPECT_EQ(QJsonDocument::fromJson(readAll(path)), QJsonDocument(QJsonArray()));
    EXPECT_EQ(changed.count(), 5);
}

TEST(HistoryStore, FailedSaveKeepsTheListAndTheNextSaveWritesAll)
{
    // A file where the folder should be makes every save fail.
    const QString blocker = TestEnvironment::writeFile(TestEnvironment::root() + u"/blocked"_s, "file");
    const QString path = blocker + u"/history.json"_s;
    HistoryStore store(path);
    const HistoryEntry first = makeEntry(1);
    store.add(first);
    EXPECT_EQ(store.entries(), QList<HistoryEntry>{first});
    EXPECT_FALSE(QFileInfo::exists(path));

    QFile::remove(blocker);
    const HistoryEntry second = makeEntry(2);
    store.add(second);
    EXPECT_EQ(fileArray(path), toArray({second, first}));
}

TEST(HistoryStore, FullDiskKeepsTheOldFile)
{
    const QString path = freshPath(u"full"_s);
    const QList<HistoryEntry> stored{makeEntry(2), makeEntry(1)};
    TestEnvironment::writeFile(path, QJsonDocument(toArray(stored)).toJson());
    const QByteArray before = readAll(path);

    HistoryStore store(path);
    const HistoryEntry third = makeEntry(3);
    {
        // The new file cannot grow past a few bytes, as on a disk that is full.
        const FileSizeLimit limit(64);
        store.add(third);
    }
    EXPECT_EQ(readAll(path), before);
    EXPECT_EQ(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files | QDir::Hidden),
              QStringList{u"history.json"_s})
        << "no temporary file is left behind";
    EXPECT_EQ(store.entries(), (QList<HistoryEntry>{third, stored[0], stored[1]}));

    const HistoryEntry fourth = makeEntry(4);
    store.add(fourth);
    EXPECT_EQ(fileArray(path), toArray({fourth, third, stored[0], stored[1]}));
}

TEST(HistoryStore, DatesAreKeptToTheSecond)
{
    const QString path = freshPath(u"dates"_s);
    HistoryStore store(path);

    HistoryEntry undated = makeEntry(1);
    undated.finishedAt = QDateTime();
    store.add(undated);
    EXPECT_TRUE(store.entries().isEmpty()) << "an entry without a date would spoil the file";
    EXPECT_FALSE(QFileInfo::exists(path));

    HistoryEntry precise = makeEntry(2);
    precise.finishedAt = firstFinish.addMSecs(750);
    store.add(precise);
    ASSERT_EQ(store.entries().size(), 1);
    EXPECT_EQ(store.entries().first().finishedAt, firstFinish);
    EXPECT_EQ(HistoryStore(path).entries(), store.entries());
}

TEST(HistoryStore, EachSaveAppliesOnlyItsOwnChangesToWhatIsOnDisk)
{
    const QString path = freshPath(u"shared"_s);
    const HistoryEntry older = makeEntry(1);
    const HistoryEntry newer = makeEntry(2);
    TestEnvironment::writeFile(path, QJsonDocument(toArray({newer, older})).toJson());
    // Two programs that both loaded the same file.
    HistoryStore window(path);
    HistoryStore commandLine(path);

    const HistoryEntry third = makeEntry(3);
    commandLine.add(third);
    window.remove(newer.id);
    EXPECT_EQ(fileArray(path), toArray({third, older})) << "the other program's entry survives";
    EXPECT_EQ(window.entries(), (QList<HistoryEntry>{third, older}));

    // A removal elsewhere is not undone by the next save here.
    const HistoryEntry fourth = makeEntry(4);
    commandLine.add(fourth);
    EXPECT_EQ(fileArray(path), toArray({fourth, third, older}));

    // Clearing clears what is on disk, whoever wrote it.
    commandLine.add(makeEntry(5));
    window.clear();
    EXPECT_EQ(fileArray(path), QJsonArray());
    const HistoryEntry sixth = makeEntry(6);
    commandLine.add(sixth);
    EXPECT_EQ(fileArray(path), toArray({sixth}));
    EXPECT_EQ(commandLine.entries(), QList<HistoryEntry>{sixth});
}

TEST(HistoryStore, SeesWhatAnotherProgramAdds)
{
    const QString path = freshPath(u"watched"_s);
    HistoryStore window(path);
    QSignalSpy changed(&window, &HistoryStore::changed);
    HistoryStore other(path);
    const HistoryEntry entry = makeEntry(1);
    other.add(entry);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return !changed.isEmpty(); }));
    EXPECT_EQ(window.entries(), QList<HistoryEntry>{entry});

    const HistoryEntry second = makeEntry(2);
    other.add(second);
    ASSERT_TRUE(TestEnvironment::waitFor([&] { return window.entries().size() == 2; }));
    EXPECT_EQ(window.entries(), (QList<HistoryEntry>{second, entry}));
}

TEST(HistoryStore, TwoProgramsWritingAtOnceKeepEveryEntry)
{
    const QString path = freshPath(u"parallel"_s);
    const HistoryEntry earlier = makeEntry(1);
    TestEnvironment::writeFile(path, QJsonDocument(toArray({earlier})).toJson());
    constexpr int perProgram = 60;
    std::vector<std::unique_ptr<QProcess>> writers;
    for (const QString &tag : {u"first"_s, u"second"_s}) {
        auto writer = std::make_unique<QProcess>();
        writer->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        writer->start(QString::fromUtf8(KESTRO_HISTORY_WRITER), {path, QString::number(perProgram), tag});
        ASSERT_TRUE(writer->waitForStarted());
        writers.push_back(std::move(writer));
    }
    // Both have loaded the file before either writes.
    for (const auto &writer : writers) {
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return writer->canReadLine(); }));
        EXPECT_EQ(writer->readLine(), "ready\n");
    }
    for (const auto &writer : writers)
        writer->write("go\n");
    for (const auto &writer : writers) {
        ASSERT_TRUE(TestEnvironment::waitFor([&] { return writer->state() == QProcess::NotRunning; }, 60000));
        EXPECT_EQ(writer->exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(writer->exitCode(), 0);
    }

    const HistoryStore store(path);
    ASSERT_EQ(store.entries().size(), 2 * perProgram + 1);
    EXPECT_EQ(store.entries().last(), earlier);
    // Each program's entries are all there, newest first.
    for (const QString &tag : {u"first"_s, u"second"_s}) {
        QStringList titles;
        for (const HistoryEntry &entry : store.entries())
            if (entry.title.startsWith(tag + u'-'))
                titles.append(entry.title);
        QStringList expected;
        for (int n = perProgram - 1; n >= 0; --n)
            expected.append(tag + u'-' + QString::number(n));
        EXPECT_EQ(titles, expected) << tag.toStdString();
    }
}
