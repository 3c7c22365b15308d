#include "queue/DownloadStatus.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(DownloadStatus, RawStringsAndActivity)
{
    const struct {
        DownloadStatus status;
        QString raw;
        bool active;
    } cases[] = {
        {DownloadStatus::pending, u"pending"_s, false},
        {DownloadStatus::analyzing, u"analyzing"_s, true},
        {DownloadStatus::downloading, u"downloading"_s, true},
        {DownloadStatus::paused, u"paused"_s, false},
        {DownloadStatus::processing, u"processing"_s, true},
        {DownloadStatus::finished, u"finished"_s, false},
        {DownloadStatus::failed, u"failed"_s, false},
        {DownloadStatus::canceled, u"canceled"_s, false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.raw.toStdString());
        EXPECT_EQ(rawString(c.status), c.raw);
        EXPECT_EQ(isActive(c.status), c.active);
        EXPECT_EQ(downloadStatusFromRaw(c.raw), c.status);
    }
}

TEST(DownloadStatus, DecodingAcceptsOnlyTheExactStrings)
{
    for (const QString &text : {u"Paused"_s, u"PENDING"_s, u""_s, u" pending"_s, u"pending "_s,
                                u"cancelled"_s, u"done"_s, u"0"_s}) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_EQ(downloadStatusFromRaw(text), std::nullopt);
    }
}
