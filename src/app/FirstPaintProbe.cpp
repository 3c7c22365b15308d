#include "FirstPaintProbe.h"

#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>

void FirstPaintProbe::installIfAsked(QWidget *window)
{
    if (qEnvironmentVariableIsSet("KESTRO_STARTUP_PROBE"))
        new FirstPaintProbe(window);
}

FirstPaintProbe::FirstPaintProbe(QWidget *window)
    : QObject(window)
    , m_window(window)
{
    window->installEventFilter(this);
}

bool FirstPaintProbe::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_window && event->type() == QEvent::Paint) {
        m_window->removeEventFilter(this);
        // Reported after the paint event is done, so the figure includes the painting itself.
        QTimer::singleShot(0, this, &FirstPaintProbe::report);
    }
    return false;
}

void FirstPaintProbe::report()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    std::printf("painted %lld\n", static_cast<long long>(now.tv_sec) * 1000000000LL + now.tv_nsec);
    std::fflush(stdout);
    deleteLater();
}
