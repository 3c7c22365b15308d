#pragma once

#include <QString>

// What the user is told about an engine run that ended with a non-zero exit status.
struct DownloadFailure
{
    QString summary; // one line, for the item's error message
    QString details; // the cleaned log, for the item's error details

    // From the run's log (engine output lines, standard-error ones prefixed "ERR:") and its
    // exit status: the summary is the text of the last "ERROR:" line, or a sentence naming the
    // exit code when that line is missing or empty.
    static DownloadFailure fromLog(const QString &log, int exitCode);

    bool operator==(const DownloadFailure &) const = default;
};
