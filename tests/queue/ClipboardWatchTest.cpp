#include "queue/ClipboardSource.h"
#include "queue/ClipboardWatch.h"

#include "QueueFixture.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

namespace {

class FakeClipboard : public ClipboardSource
{
public:
    quint64 changeCount() const override { return count; }
    std::optional<QString> text() const override { return content; }

    void copy(const std::optional<QString> &value)
    {
        content = value;
        ++count;
    }

    quint64 count = 40;
    std::optional<QString> content;
};

QStringList taken(const QSignalSpy &spy)
{
    QStringList texts;
    for (const QList<QVariant> &arguments : spy)
        texts.append(arguments.at(0).toString());
    return texts;
}

} // namespace

// Each copy is followed by one poll; the table lists what the watch reports for a sequence.
TEST(ClipboardWatch, ReportsOnlyNewLinkLikeTexts)
{
    const QString longLink = u"http://example.com/"_s + QString(1999 - 19, u'a');
    struct Case
    {
        const char *name;
        QList<std::optional<QString>> copies;
        QStringList expected;
    } cases[] = {
        {"same link twice", {u"https://a.example/v"_s, u"https://a.example/v"_s}, {u"https://a.example/v"_s}},
        {"A, B, A", {u"http://a.example/"_s, u"http://b.example/"_s, u"http://a.example/"_s},
         {u"http://a.example/"_s, u"http://b.example/"_s, u"http://a.example/"_s}},
        {"trimmed", {u" \n https://a.example/v \t\n"_s}, {u"https://a.example/v"_s}},
        {"1999 characters", {longLink}, {longLink}},
        {"2000 characters", {QString(longLink + u'a')}, {}},
        {"capital scheme", {u"HTTPS://a.example/"_s}, {}},
        {"not a link", {u"hello http://a.example/"_s}, {}},
        {"no text", {std::nullopt}, {}},
        // The queue rejects this as one link; the watch passes it on.
        {"two lines", {u"https://a.example/1\nhttps://a.example/2"_s},
         {u"https://a.example/1\nhttps://a.example/2"_s}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeClipboard clipboard;
        ClipboardWatch watch;
        watch.setSource(&clipboard);
        watch.setEnabled(true);
        QSignalSpy spy(&watch, &ClipboardWatch::copied);
        for (const std::optional<QString> &copy : c.copies) {
            clipboard.copy(copy);
            watch.check();
            watch.check(); // nothing new since the last poll
        }
        EXPECT_EQ(taken(spy), c.expected);
    }
}

TEST(ClipboardWatch, IgnoresWhatWasThereWhenTurnedOnAndStopsWhenOff)
{
    FakeClipboard clipboard;
    ClipboardWatch watch;
    clipboard.copy(u"https://before.example/"_s);
    watch.setSource(&clipboard);
    clipboard.copy(u"https://while-off.example/"_s);
    QSignalSpy spy(&watch, &ClipboardWatch::copied);

    watch.check();
    watch.setEnabled(true);
    watch.setEnabled(true); // a second start replaces the timer, still nothing taken
    watch.check();
    EXPECT_TRUE(spy.isEmpty());

    // The timer polls by itself.
    clipboard.copy(u"https://new.example/"_s);
    ASSERT_TRUE(spy.wait(10000));
    EXPECT_EQ(taken(spy), QStringList{u"https://new.example/"_s});

    watch.setEnabled(false);
    EXPECT_FALSE(watch.isEnabled());
    // The last text survives turning the watch off and on.
    clipboard.copy(u"https://new.example/"_s);
    watch.setEnabled(true);
    clipboard.copy(u"https://new.example/"_s);
    watch.check();
    EXPECT_EQ(taken(spy), QStringList{u"https://new.example/"_s});
}

TEST_F(QueueFixture, CopiedLinksReachTheQueueOnlyWhenValid)
{
    server.addGenerated(u"/media/copied.mp4"_s, 1000);
    startManager();
    FakeClipboard clipboard;
    manager->setClipboard(&clipboard);
    manager->setClipboardWatch(true);

    const QString url = server.url(u"/media/copied.mp4"_s);
    clipboard.copy(QString(url + u"\n"_s + url));
    manager->clipboardWatch().check();
    EXPECT_TRUE(manager->items().isEmpty());

    clipboard.copy(url);
    manager->clipboardWatch().check();
    ASSERT_EQ(manager->items().size(), 1);
    EXPECT_EQ(manager->items().first()->url(), url);
    manager->setClipboard(nullptr);
}
