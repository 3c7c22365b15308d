#include "DownloadFailure.h"

#include "shared/L10n.h"

#include <QList>
#include <QStringView>

using namespace Qt::StringLiterals;

namespace {

bool isNewline(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= 0x0A && u <= 0x0D) || u == 0x85 || u == 0x2028 || u == 0x2029;
}

// Tab and the Unicode space separators; line breaks are not white space here.
bool isBlank(QChar c)
{
    return c == u'\t' || c.category() == QChar::Separator_Space;
}

QStringView trimmed(QStringView text, bool (*strip)(QChar))
{
    qsizetype begin = 0;
    qsizetype end = text.size();
    while (begin < end && strip(text[begin]))
        ++begin;
    while (end > begin && strip(text[end - 1]))
        --end;
    return text.sliced(begin, end - begin);
}

QStringView trimmedBlanks(QStringView text)
{
    return trimmed(text, isBlank);
}

// A line without blanks around it and without the standard-error mark.
QStringView cleaned(QStringView raw)
{
    QStringView line = trimmedBlanks(raw);
    if (line.startsWith(u"ERR:"))
        line = trimmedBlanks(line.sliced(4));
    return line;
}

// Every separator ends a line, so "\r\n" leaves an empty line between the two. Only a lone
// carriage return inside an error line does not: the engine writes "ERROR: \r[download] Got
// error: …" and the reason follows the return. It becomes a space there.
QStringList cleanedLines(QStringView text)
{
    QStringList lines;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !isNewline(text[i]))
            continue;
        if (i < text.size() && text[i] == u'\r' && (i + 1 == text.size() || text[i + 1] != u'\n')
            && cleaned(text.sliced(start, i - start)).startsWith(u"ERROR:"))
            continue;
        const QString raw = text.sliced(start, i - start).toString().replace(u'\r', u' ');
        lines.append(cleaned(raw).toString());
        start = i + 1;
    }
    return lines;
}

} // namespace

DownloadFailure DownloadFailure::fromLog(const QString &log, int exitCode)
{
    const QStringList lines = cleanedLines(log);

    QString summary;
    for (qsizetype i = lines.size() - 1; i >= 0; --i) {
        if (lines[i].startsWith(u"ERROR:")) {
            // Only the last error line counts, even when its text is empty.
            summary = trimmedBlanks(QStringView(lines[i]).sliced(6)).toString();
            break;
        }
    }
    if (summary.isEmpty())
        summary = L10n::tr(u"下载程序退出（代码 %d）"_s, exitCode);

    const QString joined = lines.join(u'\n');
    QString details = trimmed(joined, [](QChar c) { return isBlank(c) || isNewline(c); }).toString();
    if (details.isEmpty())
        details = summary;
    return {summary, details};
}
