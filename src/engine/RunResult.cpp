#include "RunResult.h"

#include <QRegularExpression>
#include <QStringList>

using namespace Qt::StringLiterals;

RunResult RunResult::fromOutput(int exitCode, const QByteArray &standardOutput, const QByteArray &standardError)
{
    return {exitCode, QString::fromUtf8(standardOutput), tailOf(standardError)};
}

QString RunResult::tailOf(const QByteArray &standardError)
{
    static const QRegularExpression newline(u"[\\n\\r\\x{0B}\\x{0C}\\x{85}\\x{2028}\\x{2029}]"_s);
    const QStringList lines = QString::fromUtf8(standardError).split(newline, Qt::SkipEmptyParts);
    return lines.mid(std::max<qsizetype>(0, lines.size() - 3)).join(u' ');
}
