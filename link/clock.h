#pragma once

#include <QtGlobal>

// Time and the event loop as the transfers see them: a monotonic clock, one yield to the
// window system, and an idle sleep that ends when an event (a byte, input, a timer) arrives
// or the deadline passes. Tests substitute a simulated clock.
class Clock {
public:
    virtual ~Clock() = default;
    virtual qint64 nowNs() = 0;
    virtual void yieldOnce() = 0;
    virtual void idleUntil(qint64 deadlineNs) = 0;
    // Sleeps until the deadline without waking for port bytes, giving the window its turn at
    // least every 20 ms. By default an idle, which may end early.
    virtual void napUntil(qint64 deadlineNs) { idleUntil(deadlineNs); }
};
