#pragma once

#include <QObject>

class QWidget;

// For the start-up benchmark: once `window` has painted for the first time, writes
// "painted <CLOCK_MONOTONIC nanoseconds>" as one line to standard output. Qt Widgets only, so
// the bare comparison program uses the same code.
class FirstPaintProbe : public QObject
{
    Q_OBJECT

public:
    // Installs a probe when the environment variable KESTRO_STARTUP_PROBE is set.
    static void installIfAsked(QWidget *window);

    explicit FirstPaintProbe(QWidget *window);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void report();

    QWidget *m_window;
};
