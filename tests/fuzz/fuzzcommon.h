#pragma once

// The fuzz harnesses' shared driver: values read from the fuzzer's bytes, a controller schedule
// with timed events played on a FakeComm, a time budget, and failures that abort (under the
// fuzzer) or are recorded (under the replay test).

#include "fakecomm.h"
#include "recordingview.h"

#include <cstdint>
#include <functional>

namespace fuzz {

using FailureHandler = void (*)(const char *what, const char *file, int line);
void setFailureHandler(FailureHandler handler);
void fail(const char *what, const char *file, int line);
#define FUZZ_EXPECT(cond) ((cond) ? void() : ::fuzz::fail(#cond, __FILE__, __LINE__))

// Past the end every read yields zeros, so any input, however short, describes a whole run.
class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool atEnd() const { return pos_ >= size_; }
    quint8 byte() { return pos_ < size_ ? quint8(data_[pos_++]) : quint8(0); }
    quint32 varint(); // LEB128, at most five bytes
    quint32 below(quint32 bound) { return bound == 0 ? 0 : varint() % bound; }
    QByteArray bytes(qsizetype count); // fewer when the input ends first
    QByteArray rest() { return bytes(qsizetype(size_)); }

private:
    const uint8_t *data_;
    size_t size_, pos_ = 0;
};

// Bytes derived from a seed, so a long controller stream costs a few input bytes.
QByteArray patternBytes(qsizetype count, quint8 value, bool varied = true);
// An image held before the command, from one shape byte.
ConfigImage heldImage(quint8 shape);

// ConfigLength never counts bytes ConfigData does not hold and index 0 stays zero; an array
// the command allocated keeps its terminator (a write one past the end clobbers it).
void expectImageSound(const ConfigImage &image, bool ownedArray = true);

// One transfer against a controller the input describes: a setup byte (which opening fails,
// port number), the time one yield takes, then (after the harness's own bytes) timed arrivals,
// a device loss, a stop request and a stalled transmit buffer.
struct Run {
    static constexpr qint64 kStartNs = 1'000 * FakeComm::kSec;
    Run(Input &in, int portShift);
    // Reads the schedule, lets `edit` change its arrivals, plays it and arms the budget.
    void play(Input &in, qint64 extraTicks = 0, const std::function<void()> &edit = {});
    void checkEnd(); // the port is closed; a stop is obeyed
    QByteArray streamAfterStart() const;
    void patchByte(qint64 index, quint8 value); // counted over all arrivals

    quint8 setup;
    FakeComm fake{kStartNs};
    RecordingView view;
    QList<std::pair<qint64, QByteArray>> arrivals;
    qsizetype writtenAtStop = -1;
    int refusedAtStop = 0;
};

} // namespace fuzz

int fuzzBackup(const uint8_t *data, size_t size);
int fuzzRestore(const uint8_t *data, size_t size);
int fuzzOpen(const uint8_t *data, size_t size);
