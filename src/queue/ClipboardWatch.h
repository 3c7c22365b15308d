#pragma once

#include <QObject>
#include <QString>
#include <QTimer>

class ClipboardSource;

// Polls a clipboard every 1.2 s while on and reports each newly copied text that looks like a
// link. Main thread only.
class ClipboardWatch : public QObject
{
    Q_OBJECT

public:
    static constexpr int intervalMs = 1200;
    static constexpr qsizetype maxLength = 1999;

    explicit ClipboardWatch(QObject *parent = nullptr);

    // The clipboard to watch (not owned; it must outlive the watch or be replaced by null).
    // Whatever it holds now counts as seen.
    void setSource(ClipboardSource *source);
    // Turning it on again replaces the timer; what is on the clipboard then is not taken.
    void setEnabled(bool on);
    bool isEnabled() const { return m_timer.isActive(); }
    // One poll while on; the timer calls it.
    void check();
    QString lastText() const { return m_lastText; }

Q_SIGNALS:
    // A new text to hand to the queue, which decides whether it is a link.
    void copied(const QString &text);

private:
    ClipboardSource *m_source = nullptr;
    QTimer m_timer;
    quint64 m_lastChangeCount = 0;
    QString m_lastText;
};
