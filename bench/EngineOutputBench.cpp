// Feeds one million realistic engine lines, in reads of random sizes, through the line
// splitter and the progress parser; prints nanoseconds per line (median of 5 runs).
#include "engine/ProcessLineBuffer.h"
#include "engine/YtDlpProgress.h"

#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int lineCount = 1'000'000;
constexpr int runs = 5;

QByteArray engineOutput()
{
    QByteArray output;
    output.reserve(lineCount * 80);
    QRandomGenerator random(42);
    qint64 downloaded = 0;
    const qint64 total = 734003200;
    for (int i = 0; i < lineCount; ++i) {
        switch (i % 20) {
        case 0:
            output += "[download] Destination: /home/user/Downloads/Kestro/.kestro-partials/0F6C/A video title \xe2\x80\x94 part "
                      + QByteArray::number(i) + ".f137.mp4\n";
            break;
        case 1:
            output += "[youtube] Extracting URL: https://www.example.com/watch?v=dQw4w9WgXcQ\n";
            break;
        case 2:
            output += "[KTPOST]started\n";
            break;
        default:
            downloaded = std::min(total, downloaded + random.bounded(1 << 16));
            output += "[KTPROG]downloading|" + QByteArray::number(downloaded) + '|' + QByteArray::number(total)
                      + "|NA|" + QByteArray::number(random.bounded(9e6), 'f', 3) + '|'
                      + QByteArray::number(random.bounded(900)) + "|NA|NA\n";
        }
    }
    return output;
}

double runOnce(const QByteArray &output, const std::vector<int> &readSizes, qint64 *sink)
{
    ProcessLineBuffer buffer;
    QElapsedTimer timer;
    timer.start();
    qsizetype offset = 0;
    std::size_t next = 0;
    qint64 lines = 0;
    while (offset < output.size()) {
        const qsizetype size = std::min<qsizetype>(readSizes[next++ % readSizes.size()], output.size() - offset);
        const QStringList complete = buffer.append(QByteArrayView(output).sliced(offset, size));
        offset += size;
        for (const QString &line : complete) {
            if (const std::optional<YtDlpProgress> progress = YtDlpProgress::parse(line))
                *sink += progress->downloaded;
            ++lines;
        }
    }
    lines += buffer.append({}, true).size();
    const double nanoseconds = static_cast<double>(timer.nsecsElapsed());
    if (lines != lineCount)
        std::fprintf(stderr, "expected %d lines, got %lld\n", lineCount, static_cast<long long>(lines));
    return nanoseconds / lineCount;
}

} // namespace

int main()
{
    const QByteArray output = engineOutput();
    std::vector<int> readSizes(4096);
    QRandomGenerator random(7);
    for (int &size : readSizes)
        size = 1 + random.bounded(65536); // pipe reads: 1 B to 64 KiB

    qint64 sink = 0;
    std::vector<double> results;
    for (int run = 0; run < runs; ++run)
        results.push_back(runOnce(output, readSizes, &sink));
    std::sort(results.begin(), results.end());
    std::printf("engine output: %d lines, %.1f MB, %d runs\n", lineCount, output.size() / 1e6, runs);
    std::printf("ns per line: median %.1f (min %.1f, max %.1f)\n", results[runs / 2], results.front(), results.back());
    return sink == 0 ? 1 : 0;
}
