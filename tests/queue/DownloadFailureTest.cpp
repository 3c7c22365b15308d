#include "queue/DownloadFailure.h"

#include "TestEnvironment.h"

#include <gtest/gtest.h>

using namespace Qt::StringLiterals;

TEST(DownloadFailure, SummaryAndDetailsFromTheLog)
{
    const struct {
        const char *name;
        QString log;
        int exitCode;
        QString summary;
        QString details; // empty: same as the summary
    } cases[] = {
        {"standard-error error line", u"[download]  10.0%\nERR: ERROR: [generic] Unable to download: HTTP Error 404\n"_s, 1,
         u"[generic] Unable to download: HTTP Error 404"_s,
         u"[download]  10.0%\nERROR: [generic] Unable to download: HTTP Error 404"_s},
        {"no error line", u"[info] one\n[info] two"_s, 2, u"下载程序退出（代码 2）"_s, u"[info] one\n[info] two"_s},
        {"empty log", u""_s, 1, u"下载程序退出（代码 1）"_s, u""_s},
        {"blank log", u"  \n\t\n\u3000"_s, 1, u"下载程序退出（代码 1）"_s, u""_s},
        {"negative exit code", u"killed"_s, -9, u"下载程序退出（代码 -9）"_s, u"killed"_s},
        {"last error line wins", u"ERROR: first\nsomething\nERR: ERROR: second"_s, 1, u"second"_s,
         u"ERROR: first\nsomething\nERROR: second"_s},
        {"empty last error line hides earlier ones", u"ERROR: first\nERR: ERROR:  "_s, 3, u"下载程序退出（代码 3）"_s,
         u"ERROR: first\nERROR:"_s},
        {"no space after the prefixes", u"ERR:ERROR:tight"_s, 1, u"tight"_s, u"ERROR:tight"_s},
        {"blanks around the prefixes", u"  ERR:\t ERROR:  spaced out \u3000"_s, 1, u"spaced out"_s,
         u"ERROR:  spaced out"_s},
        {"lower-case error is not an error line", u"error: nope"_s, 4, u"下载程序退出（代码 4）"_s, u"error: nope"_s},
        {"prefix only at the start of a line", u"xERR: ERROR: nope\nsay ERROR: nope"_s, 5,
         u"下载程序退出（代码 5）"_s, u"xERR: ERROR: nope\nsay ERROR: nope"_s},
        {"CRLF leaves an empty line", u"a\r\nERROR: b\r\n"_s, 1, u"b"_s, u"a\n\nERROR: b"_s},
        {"every Unicode line break splits", u"a\u2028ERROR: x\u0085b\u2029c\vd\fe\rf"_s, 1, u"x"_s,
         u"a\nERROR: x\nb\nc\nd\ne\nf"_s},
        // The engine's retry errors put a carriage return between "ERROR:" and the reason.
        {"carriage return inside an error line", u"[download]  1.0%\rERR: ERROR: \r[download] Got error: timed out. Giving up after 10 retries\n"_s,
         1, u"[download] Got error: timed out. Giving up after 10 retries"_s,
         u"[download]  1.0%\nERROR:  [download] Got error: timed out. Giving up after 10 retries"_s},
        {"several returns and one at the end", u"ERROR: a\rb\r"_s, 1, u"a b"_s, u"ERROR: a b"_s},
        {"details trimmed at both ends", u"\n\n  hello  \n ERR: warn \n\n"_s, 1, u"下载程序退出（代码 1）"_s,
         u"hello\nwarn"_s},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        const DownloadFailure failure = DownloadFailure::fromLog(c.log, c.exitCode);
        EXPECT_EQ(failure.summary, c.summary);
        EXPECT_EQ(failure.details, c.details.isEmpty() ? c.summary : c.details);
    }
}
