#pragma once

#include <QString>
#include <QStringView>

#include <optional>

// Where a queue entry stands. The raw strings are also how a status leaves the program
// (agent exchange), so they never change.
enum class DownloadStatus {
    pending,
    analyzing,
    downloading,
    paused,
    processing,
    finished,
    failed,
    canceled,
};

// True while a job (analysis or engine run) may be running for the item.
bool isActive(DownloadStatus status);

// "pending", "analyzing", … as exchanged with other programs.
QString rawString(DownloadStatus status);

// Exact, case-sensitive inverse of rawString(); nothing for any other text.
std::optional<DownloadStatus> downloadStatusFromRaw(QStringView raw);
