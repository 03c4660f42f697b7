#pragma once

// Pieces the fuzz harnesses share: reading structured values out of the fuzzer's bytes, a
// controller schedule with timed events, and failure reporting that either aborts (under the
// fuzzer) or records (under the replay test).

#include "fakecomm.h"
#include "recordingview.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace fuzz {

// ---- failures

// Called for every broken invariant. The default prints and aborts, which is what the fuzzer
// needs to keep the input; the replay test installs one that records.
using FailureHandler = void (*)(const char *what, const char *file, int line);
void setFailureHandler(FailureHandler handler);
void fail(const char *what, const char *file, int line);

#define FUZZ_EXPECT(cond)                                                                          \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::fuzz::fail(#cond, __FILE__, __LINE__);                                               \
    } while (false)

// ---- input

// Reads values from the fuzzer's bytes. Past the end every read yields zeros, so any input,
// however short, describes a complete run.
class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

    bool atEnd() const { return pos_ >= size_; }
    quint8 byte();
    quint32 varint(); // LEB128, at most five bytes
    quint32 below(quint32 bound) { return bound == 0 ? 0 : varint() % bound; }
    QByteArray bytes(qsizetype count); // fewer when the input ends first
    QByteArray rest();

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// A delay: a small number with a unit picked by its two low bits (1 us, 100 us, 10 ms,
// 100 ms), so both byte-level timing and multi-second gaps take only a byte or two. At most
// 8 s, twice the longest wait.
qint64 readGapNs(Input &in);

// Bytes derived from a seed, so a long controller stream costs a few input bytes.
QByteArray patternBytes(qsizetype count, quint8 value, bool varied);

// ---- the controller's side

// What the controller does, decided up front: timed arrivals (nondecreasing in time) and
// timed events. Arrivals due at the moment the port opens are dropped by the port.
struct Schedule {
    struct Arrival {
        qint64 timeNs;
        QByteArray bytes;
    };
    QList<Arrival> arrivals;
    std::optional<qint64> loseAtNs;  // the device is unplugged
    std::optional<qint64> stopAtNs;  // the user closes the window
    std::optional<qint64> stallAtNs; // the transmit buffer stops draining
    qint64 lastNs = 0;               // the latest arrival or event
    qint64 totalBytes = 0;

    // Every byte that arrives after `afterNs`, in arrival order.
    QByteArray streamAfter(qint64 afterNs) const;
    // Rewrites stream byte `index` (counted over all arrivals).
    void patchByte(qint64 index, quint8 value);
};

// Reads operations until the input ends: byte chunks, long runs, device loss, stop, stall.
Schedule readSchedule(Input &in, qint64 startNs);

// ---- the port and the view

// Puts the schedule's arrivals, loss and stall on the port; the stop goes to the view.
void load(FakeComm &fake, const Schedule &schedule);

// A view for fuzz runs: no call log, and status texts that tell "never written" apart.
inline const QString kUnset = QStringLiteral("<unset>");
void makeLean(RecordingView &view);

// ---- image checks

// ConfigLength never counts bytes that ConfigData does not hold and index 0 stays zero. For
// an array the command allocated itself, the terminator must be intact too: a write one past
// the end clobbers it without touching memory the sanitizer guards.
void expectImageSound(const ConfigImage &image, bool ownedArray = true);

} // namespace fuzz

// The harness bodies, callable from the fuzzer entry points and from the replay test.
int fuzzBackup(const uint8_t *data, size_t size);
int fuzzRestore(const uint8_t *data, size_t size);
int fuzzOpen(const uint8_t *data, size_t size);
