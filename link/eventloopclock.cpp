#include "eventloopclock.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <chrono>

EventLoopClock::EventLoopClock() {
    elapsed_.start();
}

qint64 EventLoopClock::nowNs() {
    return elapsed_.nsecsElapsed();
}

void EventLoopClock::yieldOnce() {
    QCoreApplication::processEvents();
}

void EventLoopClock::idleUntil(qint64 deadlineNs) {
    const qint64 leftNs = deadlineNs - nowNs();
    if (leftNs <= 0)
        return;
    // Timers count whole milliseconds: rounding down keeps the wake-up at or before the
    // deadline. The last fraction of a millisecond is slept off plainly; polling it away
    // would spin.
    const qint64 leftMs = leftNs / 1'000'000;
    if (leftMs == 0) {
        QThread::usleep(static_cast<unsigned long>(leftNs / 1000));
        QCoreApplication::processEvents();
        return;
    }
    QTimer wake;
    wake.setSingleShot(true);
    wake.setTimerType(Qt::PreciseTimer);
    wake.start(std::chrono::milliseconds(leftMs));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void EventLoopClock::napUntil(qint64 deadlineNs) {
    constexpr qint64 kSliceNs = 16'000'000;
    // The caller yields once the nap is over, so the last slice ends without a turn.
    for (qint64 leftNs = deadlineNs - nowNs(); leftNs >= 1000;) {
        QThread::usleep(static_cast<unsigned long>(qMin(leftNs, kSliceNs) / 1000));
        if ((leftNs = deadlineNs - nowNs()) >= 1000)
            QCoreApplication::processEvents();
    }
}
