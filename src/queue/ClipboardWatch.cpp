#include "ClipboardWatch.h"

#include "queue/ClipboardSource.h"

using namespace Qt::StringLiterals;

ClipboardWatch::ClipboardWatch(QObject *parent)
    : QObject(parent)
{
    m_timer.setInterval(intervalMs);
    connect(&m_timer, &QTimer::timeout, this, &ClipboardWatch::check);
}

void ClipboardWatch::setSource(ClipboardSource *source)
{
    m_source = source;
    m_lastChangeCount = source ? source->changeCount() : 0;
}

void ClipboardWatch::setEnabled(bool on)
{
    m_timer.stop();
    if (!on)
        return;
    if (m_source)
        m_lastChangeCount = m_source->changeCount();
    m_timer.start();
}

void ClipboardWatch::check()
{
    if (!m_source || !isEnabled())
        return;
    const quint64 count = m_source->changeCount();
    if (count == m_lastChangeCount)
        return;
    m_lastChangeCount = count;
    const std::optional<QString> content = m_source->text();
    if (!content)
        return;
    const QString text = content->trimmed();
    // Case-sensitive on purpose: "https" passes, "HTTP://" does not.
    if (!text.startsWith(u"http"_s) || text.size() > maxLength)
        return;
    if (text == m_lastText)
        return;
    m_lastText = text;
    Q_EMIT copied(text);
}
