#include "WindowFixture.h"

#include "app/AddDownloadDialog.h"
#include "app/MainWindow.h"

#include <QClipboard>
#include <QComboBox>
#include <QGuiApplication>
#include <QTest>

using namespace Qt::StringLiterals;

TEST(AddDownloadDialogCount, CountsLinesThatStartWithHttp)
{
    const struct
    {
        QString text;
        int count;
    } cases[] = {
        {u""_s, 0},
        {u"  https://a.example/1"_s, 1},
        {u"\thttp://a.example/1\t"_s, 1},
        {u"HTTPS://a.example/1"_s, 0},
        {u"https://a.example/1\n\nhttps://b.example/2\nnot a link"_s, 2},
        {u"\u00a0https://a.example/1"_s, 0}, // only spaces and tabs are trimmed
        {u"httpfoo"_s, 1},                   // the start button only needs a likely link
    };
    for (const auto &c : cases)
        EXPECT_EQ(AddDownloadDialog::urlCount(c.text), c.count) << c.text.toStdString();
}

TEST_F(WindowFixture, AddSheetPrefillsFromTheClipboardOnlyWithALink)
{
    MainWindow window(*manager, *settings, *history);
    QGuiApplication::clipboard()->setText(u"  https://a.example/1\nhttps://b.example/2"_s);
    {
        AddDownloadDialog sheet(*manager, *settings, &window);
        EXPECT_EQ(sheet.text(), u"  https://a.example/1\nhttps://b.example/2"_s) << "taken untrimmed";
        EXPECT_TRUE(sheet.canStart());
        EXPECT_EQ(sheet.windowModality(), Qt::WindowModal);
    }
    QGuiApplication::clipboard()->setText(u"just some words"_s);
    AddDownloadDialog sheet(*manager, *settings, &window);
    EXPECT_EQ(sheet.text(), QString());
    EXPECT_FALSE(sheet.canStart());
    QTest::mouseClick(sheet.findChild<QWidget *>(u"fillFromClipboardButton"_s), Qt::LeftButton);
    EXPECT_EQ(sheet.text(), u"just some words"_s);
    EXPECT_FALSE(sheet.canStart());
    sheet.setText(u"  https://a.example/1"_s);
    EXPECT_TRUE(sheet.canStart());
}

TEST_F(WindowFixture, StartingStoresTheQualityBeforeTheLinksAreAdded)
{
    settings->setDefaultQuality(1080);
    MainWindow window(*manager, *settings, *history);
    AddDownloadDialog sheet(*manager, *settings, &window);
    auto *picker = sheet.findChild<QComboBox *>(u"qualityPicker"_s);
    EXPECT_EQ(picker->currentData().toInt(), 1080);
    const int audio = picker->findData(-1);
    ASSERT_GE(audio, 0);
    picker->setCurrentIndex(audio);
    Q_EMIT picker->activated(audio);
    sheet.setText(u"https://a.example/1\n  https://b.example/2  \nnonsense"_s);
    QTest::mouseClick(sheet.findChild<QWidget *>(u"startButton"_s), Qt::LeftButton);
    EXPECT_EQ(settings->defaultQuality(), -1);
    ASSERT_EQ(manager->items().size(), 2);
    for (const DownloadItem *item : manager->items()) {
        EXPECT_TRUE(item->audioOnly()) << "the new items use the chosen quality";
        EXPECT_EQ(item->formatSelector(), AppSettings::formatSelector(-1));
    }
    EXPECT_EQ(sheet.result(), QDialog::Accepted);
}

TEST_F(WindowFixture, CancelLeavesTheDefaultQuality)
{
    settings->setDefaultQuality(720);
    MainWindow window(*manager, *settings, *history);
    AddDownloadDialog sheet(*manager, *settings, &window);
    EXPECT_EQ(sheet.quality(), 720);
    auto *picker = sheet.findChild<QComboBox *>(u"qualityPicker"_s);
    picker->setCurrentIndex(0);
    Q_EMIT picker->activated(0);
    sheet.setText(u"https://a.example/1"_s);
    QTest::mouseClick(sheet.findChild<QWidget *>(u"cancelButton"_s), Qt::LeftButton);
    EXPECT_EQ(settings->defaultQuality(), 720);
    EXPECT_TRUE(manager->items().isEmpty());
}
