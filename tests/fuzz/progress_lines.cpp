// Engine output split at random read boundaries: the buffer must return every byte it was
// given (line feeds aside) and the parser must accept any line without crashing.
#include "engine/ProcessLineBuffer.h"
#include "engine/YtDlpProgress.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    // The first byte chooses the read size, the rest is the output.
    const size_t step = 1 + data[0] % 64;
    const QByteArrayView output(reinterpret_cast<const char *>(data + 1), static_cast<qsizetype>(size - 1));

    ProcessLineBuffer buffer;
    QStringList lines;
    for (qsizetype offset = 0; offset < output.size(); offset += static_cast<qsizetype>(step))
        lines += buffer.append(output.sliced(offset, std::min<qsizetype>(static_cast<qsizetype>(step), output.size() - offset)));
    lines += buffer.append({}, true);

    for (const QString &line : lines) {
        if (line.isEmpty())
            std::abort();
        if (const std::optional<YtDlpProgress> progress = YtDlpProgress::parse(line)) {
            if (progress->downloaded < 0 || progress->total < 0 || progress->speed < 0
                || progress->fragmentIndex < 0 || progress->fragmentCount < 0 || (progress->eta && *progress->eta < 0))
                std::abort();
            if (const std::optional<double> fraction = progress->fraction(); fraction && !(*fraction >= 0 && *fraction <= 1))
                std::abort();
        }
    }
    return 0;
}
