#include "ProgressPrinter.h"

#include "queue/DownloadManager.h"

#include <sys/ioctl.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

namespace {

constexpr int redrawIntervalMs = 200;
constexpr int barWidth = 20;

int terminalWidth(std::FILE *stream)
{
    struct winsize size {};
    if (::ioctl(::fileno(stream), TIOCGWINSZ, &size) == 0 && size.ws_col > 20)
        return size.ws_col;
    return 80;
}

QString bar(const DownloadItem *item)
{
    const int filled = item->progressKnown() ? static_cast<int>(item->progress() * barWidth) : 0;
    return u'[' + QString(filled, u'#') + QString(barWidth - filled, u'-') + u']';
}

// Cuts to a number of terminal columns (wide CJK characters count twice).
QString fitted(const QString &text, int columns)
{
    int used = 0;
    QString result;
    for (const QChar c : text) {
        const int width = c.unicode() >= 0x1100 && (c.unicode() <= 0x115f || c.unicode() >= 0x2e80) ? 2 : 1;
        if (used + width > columns)
            break;
        used += width;
        result.append(c);
    }
    return result;
}

} // namespace

ProgressPrinter::ProgressPrinter(DownloadManager &manager, std::FILE *stream, bool live, QObject *parent)
    : QObject(parent)
    , m_manager(manager)
    , m_stream(stream)
    , m_live(live)
{
    connect(&m_manager, &DownloadManager::changed, this, [this] {
        if (m_live)
            m_dirty = true;
        else
            reportChanges();
    });
    if (m_live) {
        m_timer.setInterval(redrawIntervalMs);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            if (m_dirty)
                redraw();
        });
        m_timer.start();
    }
}

QString ProgressPrinter::lineFor(const DownloadItem *item, int width) const
{
    const QString text = item->displayTitle() + u" — "_s + item->statusLine();
    if (!m_live)
        return text;
    return fitted(bar(item) + u' ' + text, width - 1);
}

void ProgressPrinter::redraw()
{
    m_dirty = false;
    const int width = terminalWidth(m_stream);
    QByteArray out;
    // Back to the first line we drew, then rewrite every line.
    if (m_drawnLines > 0)
        out += "\r\x1b[" + QByteArray::number(m_drawnLines) + "A";
    const QList<DownloadItem *> &items = m_manager.items();
    for (qsizetype i = items.size() - 1; i >= 0; --i)
        out += "\r\x1b[2K" + lineFor(items[i], width).toUtf8() + '\n';
    // Lines left from a longer list (a playlist item replaced by its entries is never shorter).
    for (int extra = static_cast<int>(items.size()); extra < m_drawnLines; ++extra)
        out += "\r\x1b[2K\n";
    m_drawnLines = std::max(m_drawnLines, static_cast<int>(items.size()));
    std::fwrite(out.constData(), 1, static_cast<size_t>(out.size()), m_stream);
    std::fflush(m_stream);
}

void ProgressPrinter::reportChanges()
{
    const QList<DownloadItem *> &items = m_manager.items();
    for (qsizetype i = items.size() - 1; i >= 0; --i) {
        const DownloadItem *item = items[i];
        // One line per status; progress alone is not news on a pipe.
        const QString key = rawString(item->status()) + u'|' + item->displayTitle();
        if (m_reported.value(item->id()) == key)
            continue;
        m_reported.insert(item->id(), key);
        const QByteArray line = lineFor(item, 0).toUtf8() + '\n';
        std::fwrite(line.constData(), 1, static_cast<size_t>(line.size()), m_stream);
    }
    std::fflush(m_stream);
}

void ProgressPrinter::flush()
{
    if (m_live)
        redraw();
    else
        reportChanges();
}
