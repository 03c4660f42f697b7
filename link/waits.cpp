#include "waits.h"

bool ByteWaits::yield() {
    clock_.yieldOnce();
    return !ui_.stopRequested();
}

bool ByteWaits::idle(qint64 startNs, int seconds) {
    if (timedOut(startNs, seconds))
        return true;
    clock_.idleUntil(startNs + limitNs(seconds) + 1);
    return !ui_.stopRequested();
}

WaitOutcome ByteWaits::exactly(qint16 target, int seconds) {
    const qint64 start = clock_.nowNs();
    for (;;) {
        if (!yield())
            return WaitOutcome::Stopped;
        if (!port_.portOpen())
            return WaitOutcome::TimedOut;
        if (port_.InBufferCount() == target || timedOut(start, seconds))
            break;
        if (!idle(start, seconds))
            return WaitOutcome::Stopped;
    }
    return port_.InBufferCount() == target ? WaitOutcome::Arrived : WaitOutcome::TimedOut;
}

WaitOutcome ByteWaits::atLeast(qint16 target, int seconds, qint64 startDelayNs) {
    const qint64 start = clock_.nowNs() + qMax<qint64>(0, startDelayNs);
    for (;;) {
        if (timedOut(start, seconds))
            return WaitOutcome::TimedOut;
        if (!yield())
            return WaitOutcome::Stopped;
        if (!port_.portOpen())
            return WaitOutcome::TimedOut;
        if (port_.InBufferCount() >= target)
            return WaitOutcome::Arrived;
        if (!idle(start, seconds))
            return WaitOutcome::Stopped;
    }
}

WaitOutcome ByteWaits::readyMark(int seconds) {
    const qint64 start = clock_.nowNs();
    for (;;) {
        if (timedOut(start, seconds))
            return WaitOutcome::TimedOut;
        // Only the characters just read can complete the mark, so no reply text is kept:
        // a chattering controller cannot make it grow.
        if (port_.Input().contains('U'))
            return WaitOutcome::Arrived;
        if (!yield())
            return WaitOutcome::Stopped;
        if (!port_.portOpen())
            return WaitOutcome::TimedOut;
        if (port_.InBufferCount() == 0 && !idle(start, seconds))
            return WaitOutcome::Stopped;
    }
}
