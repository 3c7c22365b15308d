#pragma once

#include <QString>

#include <optional>

// Moves the finished files of a download out of its temporary folder into the output folder.
// The engine puts them below "complete" in the temporary folder and appends the path of each
// to "output.jsonl"; the last one listed is the download's main file.
class CompletedFiles
{
public:
    // The path the engine reported last, when something exists there. None when the list is
    // missing, unreadable or empty, when its last non-empty line is not one JSON string, or when
    // that string is not an absolute path.
    static std::optional<QString> completedFile(const QString &temporaryDirectory);

    // Moves every regular file below "complete" to the same relative path in the output folder,
    // never replacing anything: a taken name gets "（1）", "（2）", … before its extension. Returns
    // where the reported file went. All or nothing: on failure the moved files go back and the
    // folders made in the output folder are removed again. Throws YtDlpError (no main file) or
    // FileError (a file-system call failed).
    static QString publishCompletedFiles(const QString &temporaryDirectory, const QString &outputDirectory);
};
