#pragma once

#include <QString>

#include <optional>

// One progress report of the engine, parsed from a "[KTPROG]" or "[KTPOST]" line.
struct YtDlpProgress
{
    enum class Phase { downloading, processing, finished };

    Phase phase = Phase::downloading;
    qint64 downloaded = 0;
    qint64 total = 0;
    bool totalIsEstimated = false;
    double speed = 0;
    std::optional<double> eta;
    qint64 fragmentIndex = 0;
    qint64 fragmentCount = 0;

    // Share done, from bytes when the size is known, else from fragments.
    std::optional<double> fraction() const;

    // A progress record for a marker line; nothing for every other line.
    static std::optional<YtDlpProgress> parse(QStringView line);

    bool operator==(const YtDlpProgress &) const = default;
};
