#include "link/waits.h"

WaitOutcome ByteWaits::exactly(qint64 target, int seconds) {
    const qint64 deadline = clock_.nowNs() + limitNs(seconds);
    for (;;) {
        if (stop_.requested())
            return WaitOutcome::Stopped;
        if (!port_.isOpen())
            return WaitOutcome::TimedOut;
        // More than the target can only grow: the wait runs out its limit as a time-out.
        if (port_.bytesWaiting() == target)
            return WaitOutcome::Arrived;
        const qint64 left = deadline - clock_.nowNs();
        if (left < 0)
            return WaitOutcome::TimedOut;
        port_.waitForBytes(left + 1);
    }
}

WaitOutcome ByteWaits::atLeast(qint64 target, int seconds, qint64 startDelayNs) {
    return countWait(target, seconds, clock_.nowNs() + qMax<qint64>(0, startDelayNs), Pace::Bytes);
}

WaitOutcome ByteWaits::stream(qint64 target, int seconds, qint64 tookLastPass) {
    const qint64 now = clock_.nowNs();
    const double rate = port_.lineRate();
    const bool trickles = tookLastPass > 0 && rate > 0 &&
                          double(tookLastPass) <= 2.0 * rate * double(now - streamPassNs_) * 1e-9;
    streamPassNs_ = now;
    const WaitOutcome outcome =
        countWait(target, seconds, now, trickles ? Pace::Trickle : Pace::Bytes);
    if (outcome == WaitOutcome::Arrived && !trickles)
        port_.gatherInput();
    return outcome;
}

WaitOutcome ByteWaits::countWait(qint64 target, int seconds, qint64 startNs, Pace pace) {
    constexpr qint64 kNapNs = 16'000'000;
    const qint64 deadline = startNs + limitNs(seconds);
    for (;;) {
        if (stop_.requested())
            return WaitOutcome::Stopped;
        if (!port_.isOpen())
            return WaitOutcome::TimedOut;
        if (port_.bytesWaiting() >= target)
            return WaitOutcome::Arrived;
        const qint64 now = clock_.nowNs();
        if (now > deadline)
            return WaitOutcome::TimedOut;
        // Both sleeps end by the limit itself, never after it: a byte that comes just before
        // the limit is still counted.
        if (pace == Pace::Trickle) {
            clock_.sleepUntil(qMin(now + kNapNs, deadline + 1), stop_);
            // The nap moved nothing into the receive buffer, and a port that still holds bytes
            // counts those without asking the system.
            port_.gatherInput();
        } else
            port_.waitForBytes(deadline + 1 - now);
    }
}

WaitOutcome ByteWaits::readyMark(int seconds) {
    const qint64 deadline = clock_.nowNs() + limitNs(seconds);
    for (;;) {
        if (stop_.requested())
            return WaitOutcome::Stopped;
        // Only the byte just read can complete the mark, so no reply text is kept: a
        // chattering controller cannot make it grow.
        for (qint64 n = port_.bytesWaiting(); n > 0; --n)
            if (port_.read(1) == "U")
                return WaitOutcome::Arrived;
        if (!port_.isOpen())
            return WaitOutcome::TimedOut;
        const qint64 now = clock_.nowNs();
        if (now > deadline)
            return WaitOutcome::TimedOut;
        port_.waitForBytes(deadline + 1 - now);
    }
}
