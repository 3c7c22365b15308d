#include "YtDlpProgress.h"

#include <algorithm>
#include <charconv>
#include <cmath>

using namespace Qt::StringLiterals;

namespace {

constexpr QStringView downloadMarker = u"[KTPROG]";
constexpr QStringView postprocessMarker = u"[KTPOST]";
constexpr double int64Limit = 9223372036854775808.0; // 2^63

// The whole field must be a decimal floating-point number; "NA", blanks and the like fail.
std::optional<double> number(QStringView field)
{
    char text[64];
    if (field.startsWith(u'+'))
        field = field.mid(1);
    if (field.isEmpty() || field.size() >= qsizetype(sizeof text))
        return std::nullopt;
    for (qsizetype i = 0; i < field.size(); ++i) {
        const char16_t c = field[i].unicode();
        if (c > 0x7f)
            return std::nullopt;
        text[i] = static_cast<char>(c);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text, text + field.size(), value, std::chars_format::general);
    if (error != std::errc() || end != text + field.size())
        return std::nullopt;
    if (!std::isfinite(value) || value < 0 || value >= int64Limit)
        return std::nullopt;
    return value;
}

qint64 bytes(QStringView field)
{
    const std::optional<double> value = number(field);
    return value ? static_cast<qint64>(std::trunc(*value)) : 0;
}

} // namespace

std::optional<double> YtDlpProgress::fraction() const
{
    if (total > 0)
        return std::min(static_cast<double>(downloaded) / static_cast<double>(total), 1.0);
    if (fragmentCount > 0)
        return std::min(static_cast<double>(fragmentIndex) / static_cast<double>(fragmentCount), 1.0);
    return std::nullopt;
}

std::optional<YtDlpProgress> YtDlpProgress::parse(QStringView line)
{
    if (line.startsWith(postprocessMarker)) {
        YtDlpProgress progress;
        progress.phase = Phase::processing;
        return progress;
    }
    if (!line.startsWith(downloadMarker))
        return std::nullopt;

    // Only the first eight fields are read; empty fields count.
    QStringView fields[8];
    qsizetype fieldCount = 0;
    QStringView rest = line.mid(downloadMarker.size());
    while (fieldCount < 8) {
        const qsizetype bar = rest.indexOf(u'|');
        fields[fieldCount++] = bar < 0 ? rest : rest.first(bar);
        if (bar < 0)
            break;
        rest = rest.mid(bar + 1);
    }
    if (fieldCount < 6)
        return std::nullopt;

    YtDlpProgress progress;
    progress.phase = fields[0] == u"finished" ? Phase::finished : Phase::downloading;
    progress.downloaded = bytes(fields[1]);
    const qint64 exact = bytes(fields[2]);
    const qint64 estimate = bytes(fields[3]);
    progress.speed = number(fields[4]).value_or(0);
    progress.eta = number(fields[5]);
    if (fieldCount >= 8) {
        progress.fragmentIndex = bytes(fields[6]);
        progress.fragmentCount = bytes(fields[7]);
    }
    progress.total = exact < 1 ? estimate : exact;
    progress.totalIsEstimated = exact == 0 && estimate > 0;
    return progress;
}
