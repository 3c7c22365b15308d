#include "DownloadStatus.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<DownloadStatus, QStringView>, 8> rawStrings{{
    {DownloadStatus::pending, u"pending"},
    {DownloadStatus::analyzing, u"analyzing"},
    {DownloadStatus::downloading, u"downloading"},
    {DownloadStatus::paused, u"paused"},
    {DownloadStatus::processing, u"processing"},
    {DownloadStatus::finished, u"finished"},
    {DownloadStatus::failed, u"failed"},
    {DownloadStatus::canceled, u"canceled"},
}};

} // namespace

bool isActive(DownloadStatus status)
{
    switch (status) {
    case DownloadStatus::analyzing:
    case DownloadStatus::downloading:
    case DownloadStatus::processing:
        return true;
    case DownloadStatus::pending:
    case DownloadStatus::paused:
    case DownloadStatus::finished:
    case DownloadStatus::failed:
    case DownloadStatus::canceled:
        return false;
    }
    return false;
}

QString rawString(DownloadStatus status)
{
    for (const auto &[value, raw] : rawStrings) {
        if (value == status)
            return raw.toString();
    }
    return QString();
}

std::optional<DownloadStatus> downloadStatusFromRaw(QStringView raw)
{
    for (const auto &[value, text] : rawStrings) {
        if (text == raw)
            return value;
    }
    return std::nullopt;
}
