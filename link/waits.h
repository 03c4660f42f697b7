#pragma once

#include "link/serialport.h"
#include "link/stoptoken.h"

#include <QtGlobal>

// How a wait for controller bytes ended.
enum class WaitOutcome {
    Arrived,  // the awaited bytes are waiting
    TimedOut, // the limit passed, or the device went away
    Stopped,  // a stop was asked for; the caller closes the port and returns
};

// The bounded waits of the transfers. A wait times out once strictly more than its limit has
// passed since it began, measured on the monotonic clock; the count is taken before the time,
// so bytes there by the limit always count. Between counts it sleeps in the kernel until a
// byte arrives, the limit passes or a stop is asked for.
class ByteWaits {
public:
    ByteWaits(SerialPort &port, Clock &clock, const StopToken &stop)
        : port_(port), clock_(clock), stop_(stop) {}

    // The probe wait: succeeds only when exactly `target` bytes wait once it ends.
    WaitOutcome exactly(qint64 target, int seconds);

    // Succeeds when at least `target` bytes wait. A wait for a reply to bytes still on their
    // way counts its limit from when the line will have carried them (startDelayNs from now).
    WaitOutcome atLeast(qint64 target, int seconds, qint64 startDelayNs = 0);

    // atLeast for the next bytes of a stream, told how many the last pass took. When those
    // came no faster than the line carries them, the controller trickles: the wait then sleeps
    // until some 16 ms worth can have arrived instead of waking for each byte, never past the
    // limit. Once the bytes are there, a controller outrunning its line has all it sent so far
    // pulled into the receive buffer.
    WaitOutcome stream(qint64 target, int seconds, qint64 tookLastPass);

    // Takes bytes until a "U" has been read. Bytes before it are ignored; those after it stay.
    WaitOutcome readyMark(int seconds);

private:
    static constexpr qint64 limitNs(int seconds) { return qint64(seconds) * 1'000'000'000; }
    enum class Pace { Bytes, Trickle };
    WaitOutcome countWait(qint64 target, int seconds, qint64 startNs, Pace pace);

    SerialPort &port_;
    Clock &clock_;
    const StopToken &stop_;
    qint64 streamPassNs_ = 0; // when the last pass of a stream began
};
