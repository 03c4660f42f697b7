#pragma once

#include <QtGlobal>
#include <optional>

// The two descriptor calls behind a serial driver's flags (on Linux TIOCGSERIAL and
// TIOCSSERIAL), so the sequence around them can be tried without hardware.
class SerialFlagsIo {
public:
    virtual ~SerialFlagsIo() = default;
    virtual std::optional<int> flags(qintptr fd) = 0; // nothing: the driver refuses
    virtual bool setFlags(qintptr fd, int flags) = 0;
};

// The system's calls, or nullptr where there are none (every system but Linux).
SerialFlagsIo *systemSerialFlags();

// A USB adapter holds received bytes until its latency timer runs out (16 ms by default on
// FTDI chips). The lock-step exchanges wait for each byte before answering it, so the timer,
// not the line, would set their pace. Low-latency mode is held while the port is open and the
// driver's previous flags are put back before it closes. A driver that refuses (a
// pseudo-terminal, no permission) is left as it is.
class LowLatency {
public:
    static constexpr int kFlag = 1 << 13; // ASYNC_LOW_LATENCY

    explicit LowLatency(SerialFlagsIo *io) : io_(io) {}
    void setIo(SerialFlagsIo *io) { io_ = io; }

    void engage(qintptr fd); // right after opening
    void release();          // before every close

private:
    SerialFlagsIo *io_;
    qintptr fd_ = -1;
    std::optional<int> previous_; // set only while this object changed the flags
};
