#include "ProgressPrinter.h"

#include "cli/LiveFrame.h"
#include "cli/OutputStream.h"
#include "queue/DownloadManager.h"

#include <sys/ioctl.h>

#include <algorithm>

using namespace Qt::StringLiterals;

namespace {

constexpr int redrawIntervalMs = 200;

struct TerminalSize
{
    int rows = 24;
    int columns = 80;
};

TerminalSize terminalSize(int fd)
{
    TerminalSize result;
    struct winsize size {};
    if (::ioctl(fd, TIOCGWINSZ, &size) == 0) {
        if (size.ws_col > 20)
            result.columns = size.ws_col;
        if (size.ws_row > 0)
            result.rows = size.ws_row;
    }
    return result;
}

} // namespace

ProgressPrinter::ProgressPrinter(DownloadManager &manager, OutputStream &stream, bool live, QObject *parent)
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

void ProgressPrinter::redraw()
{
    m_dirty = false;
    if (m_stream.isClosed())
        return;
    const TerminalSize size = terminalSize(m_stream.fd());
    const QStringList lines = LiveFrame::lines(m_manager.items(), size.rows, size.columns);
    // Lines left over from a longer frame are blanked, but never more than the screen holds.
    const int height = std::max(static_cast<int>(lines.size()), std::min(m_drawnLines, std::max(1, size.rows - 1)));
    QByteArray out;
    // Back to the first line we drew, then rewrite every line.
    if (m_drawnLines > 0)
        out += "\r\x1b[" + QByteArray::number(std::min(m_drawnLines, std::max(1, size.rows - 1))) + "A";
    for (const QString &line : lines)
        out += "\r\x1b[2K" + line.toUtf8() + '\n';
    for (int extra = static_cast<int>(lines.size()); extra < height; ++extra)
        out += "\r\x1b[2K\n";
    m_drawnLines = height;
    m_stream.write(out);
}

void ProgressPrinter::reportChanges()
{
    if (m_stream.isClosed())
        return;
    const QList<DownloadItem *> &items = m_manager.items();
    QByteArray out;
    for (qsizetype i = items.size() - 1; i >= 0; --i) {
        const DownloadItem *item = items[i];
        // One line per status; progress alone is not news on a pipe. A failure's text may come
        // after its status, so it is part of what makes a failure line new.
        QString key = rawString(item->status()) + u'|' + item->displayTitle();
        if (item->status() == DownloadStatus::failed)
            key += u'|' + item->errorMessage().value_or(QString());
        if (m_reported.value(item->id()) == key)
            continue;
        m_reported.insert(item->id(), key);
        out += OutputStream::escaped(item->displayTitle() + u" — "_s + item->statusLine()).toUtf8() + '\n';
    }
    m_stream.write(out);
}

void ProgressPrinter::flush()
{
    if (m_live)
        redraw();
    else
        reportChanges();
}
