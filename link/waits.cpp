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

WaitOutcome ByteWaits::atLeast(qint16 target, int seconds, qint64 startDelayNs, bool prompt) {
    return countWait(target, seconds, startDelayNs, prompt ? Pace::Prompt : Pace::Events);
}

WaitOutcome ByteWaits::stream(qint16 target, int seconds, qint64 tookLastPass) {
    const qint64 now = clock_.nowNs();
    const double rate = port_.lineRate();
    const bool trickles = tookLastPass > 0 && rate > 0 &&
                          double(tookLastPass) <= 2.0 * rate * double(now - streamPassNs_) * 1e-9;
    streamPassNs_ = now;
    const WaitOutcome outcome =
        countWait(target, seconds, 0, trickles ? Pace::Trickle : Pace::Events);
    // A controller outrunning its line leaves more in the system than one read of the event
    // loop takes: the pass is to see it all.
    if (outcome == WaitOutcome::Arrived && !trickles)
        port_.gatherInput();
    return outcome;
}

WaitOutcome ByteWaits::countWait(qint16 target, int seconds, qint64 startDelayNs, Pace pace) {
    const qint64 start = clock_.nowNs() + qMax<qint64>(0, startDelayNs);
    for (;;) {
        // A pass held past the limit may find its bytes there already: they count.
        if (timedOut(start, seconds))
            return port_.portOpen() && port_.InBufferCount() >= target ? WaitOutcome::Arrived
                                                                       : WaitOutcome::TimedOut;
        if (!yield())
            return WaitOutcome::Stopped;
        if (!port_.portOpen())
            return WaitOutcome::TimedOut;
        if (port_.InBufferCount() >= target)
            return WaitOutcome::Arrived;
        if (!pause(start, seconds, pace))
            return WaitOutcome::Stopped;
    }
}

bool ByteWaits::pause(qint64 startNs, int seconds, Pace pace) {
    // Both sleeps end by the limit itself, never after it: a byte that comes just before the
    // limit is still found by the next pass.
    constexpr qint64 kPromptNs = 50'000'000, kSliceMs = 5, kNapNs = 16'000'000;
    const qint64 now = clock_.nowNs();
    const qint64 deadline = startNs + limitNs(seconds);
    if (pace == Pace::Prompt && now - startNs < kPromptNs) {
        const qint64 sliceMs = qMin(kSliceMs, (deadline - now) / 1'000'000);
        if (sliceMs > 0 && port_.waitForBytes(int(sliceMs)))
            return true;
    } else if (pace == Pace::Trickle && deadline > now) {
        clock_.napUntil(qMin(now + kNapNs, deadline));
        return !ui_.stopRequested();
    }
    return idle(startNs, seconds);
}

WaitOutcome ByteWaits::readyMark(int seconds) {
    const qint64 start = clock_.nowNs();
    for (;;) {
        if (timedOut(start, seconds)) {
            for (qint16 waiting = port_.InBufferCount(); waiting > 0; --waiting)
                if (port_.Input().contains('U'))
                    return WaitOutcome::Arrived;
            return WaitOutcome::TimedOut;
        }
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
