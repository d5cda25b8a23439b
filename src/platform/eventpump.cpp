#include "eventpump.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

void QtEventPump::processEvents()
{
    QCoreApplication::processEvents(QEventLoop::AllEvents);
}

void QtEventPump::waitForEvents(int maxMs)
{
    // A one-shot timer bounds the wait: processEvents(WaitForMoreEvents) sleeps in the event
    // dispatcher until something arrives, and the timer is the latest such thing.
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(maxMs < 0 ? 0 : maxMs);
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}
