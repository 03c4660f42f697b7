#pragma once

#include "clock.h"
#include "commcontrol.h"
#include "transferui.h"

#include <QtGlobal>

// How a wait for controller bytes ended.
enum class WaitOutcome {
    Arrived,  // the awaited bytes are waiting
    TimedOut, // the limit passed, or the device went away
    Stopped,  // the user asked to stop; the caller closes the port and returns
};

// The bounded waits of the transfers. A wait times out once strictly more than its limit has
// passed since it began; it measures with the monotonic clock, so the time of day never
// matters. Between passes that found too few bytes it sleeps until a byte arrives or the
// limit passes, instead of spinning.
class ByteWaits {
public:
    ByteWaits(CommControl &port, Clock &clock, TransferUi &ui)
        : port_(port), clock_(clock), ui_(ui) {}

    // The probe wait: succeeds only when exactly `target` bytes wait once it ends. The count
    // is read once more after the loop, so bytes that arrive right at the limit still count.
    WaitOutcome exactly(qint16 target, int seconds);

    // Succeeds when at least `target` bytes wait. The timer is tested before each count, and
    // the count is read only after a yield, so the window gets at least one turn per wait.
    // A wait for a reply to bytes still on their way counts its limit from when the line will
    // have carried them (startDelayNs from now).
    // A reply due at once (prompt) is first awaited on the port itself, in slices of a few
    // milliseconds with the window's turn between them, then in the event loop.
    WaitOutcome atLeast(qint16 target, int seconds, qint64 startDelayNs = 0, bool prompt = false);

    // atLeast for the next bytes of a stream, told how many the last pass took. When those
    // came no faster than the line carries them, the controller trickles: between passes the
    // wait sleeps until some 16 ms worth can have arrived instead of waking for each byte.
    // Never past the limit, so the bytes that make it still count. Once the bytes are there,
    // a controller outrunning its line has all it sent so far pulled into the receive buffer.
    WaitOutcome stream(qint16 target, int seconds, qint64 tookLastPass);

    // Takes text from the port until a "U" has been read. Characters before it are ignored;
    // those after it stay unread.
    WaitOutcome readyMark(int seconds);

    // One turn to the window system. False when the user asked to stop.
    bool yield();

private:
    static qint64 limitNs(int seconds) { return qint64(seconds) * 1'000'000'000; }
    bool timedOut(qint64 startNs, int seconds) {
        return clock_.nowNs() - startNs > limitNs(seconds);
    }
    // Sleeps until a byte arrives or the limit passes. False when the user asked to stop.
    bool idle(qint64 startNs, int seconds);
    enum class Pace { Events, Prompt, Trickle };
    WaitOutcome countWait(qint16 target, int seconds, qint64 startDelayNs, Pace pace);
    // Between passes of a count wait; false when the user asked to stop.
    bool pause(qint64 startNs, int seconds, Pace pace);

    CommControl &port_;
    Clock &clock_;
    TransferUi &ui_;
    qint64 streamPassNs_ = 0; // when the last pass of a stream began
};
