#pragma once

#include "clock.h"

#include <QElapsedTimer>

// The clock of the running program: monotonic time, and waiting that sleeps in the event loop
// so that a transfer waiting for a slow controller costs next to no CPU.
class EventLoopClock : public Clock {
public:
    EventLoopClock();

    qint64 nowNs() override;
    void yieldOnce() override;
    // Returns after the first batch of events, or at the deadline when none arrive; never
    // later than the deadline, and at once when it has passed.
    void idleUntil(qint64 deadlineNs) override;
    // Plain sleeps of at most 16 ms with a turn of the event loop after each: bytes that
    // arrive meanwhile wait in the system's buffer instead of waking the program one by one.
    void napUntil(qint64 deadlineNs) override;

private:
    QElapsedTimer elapsed_;
};
