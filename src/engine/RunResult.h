#pragma once

#include <QByteArray>
#include <QString>

// The outcome of a run whose whole output is needed at once.
struct RunResult
{
    int exitCode = 0;
    QString standardOutput;
    // The last three non-empty lines of standard error, joined with single spaces.
    QString stderrTail;

    static RunResult fromOutput(int exitCode, const QByteArray &standardOutput, const QByteArray &standardError);
    static QString tailOf(const QByteArray &standardError);
};
