#pragma once

// What the fuzz harnesses share: values read from the fuzzer's bytes, a controller schedule
// with timed events, and failures that abort (under the fuzzer) or are recorded (under the
// replay test).

#include "fakecomm.h"
#include "recordingview.h"

#include <QByteArray>
#include <QList>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace fuzz {

using FailureHandler = void (*)(const char *what, const char *file, int line);
void setFailureHandler(FailureHandler handler);
void fail(const char *what, const char *file, int line);
#define FUZZ_EXPECT(cond)                                                                          \
    do {                                                                                           \
        if (!(cond))                                                                               \
            ::fuzz::fail(#cond, __FILE__, __LINE__);                                               \
    } while (false)

// Past the end every read yields zeros, so any input, however short, describes a whole run.
class Input {
public:
    Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    bool atEnd() const { return pos_ >= size_; }
    quint8 byte() { return pos_ < size_ ? quint8(data_[pos_++]) : quint8(0); }
    quint32 varint(); // LEB128, at most five bytes
    quint32 below(quint32 bound) { return bound == 0 ? 0 : varint() % bound; }
    QByteArray bytes(qsizetype count); // fewer when the input ends first
    QByteArray rest() { return bytes(qsizetype(size_ - std::min(pos_, size_))); }

private:
    const uint8_t *data_;
    size_t size_, pos_ = 0;
};

// A delay of at most 8 s: a small number in units of 1 us, 100 us, 10 ms or 100 ms.
qint64 readGapNs(Input &in);
// Bytes derived from a seed, so a long controller stream costs a few input bytes.
QByteArray patternBytes(qsizetype count, quint8 value, bool varied);

// What the controller does, decided up front: timed arrivals and events.
struct Schedule {
    struct Arrival {
        qint64 timeNs;
        QByteArray bytes;
    };
    QList<Arrival> arrivals;
    std::optional<qint64> loseAtNs, stopAtNs, stallAtNs; // unplugged, window closed, stalled
    qint64 lastNs = 0, totalBytes = 0;
    QByteArray streamAfter(qint64 afterNs) const; // every byte arriving after afterNs
    void patchByte(qint64 index, quint8 value);   // counted over all arrivals
};
Schedule readSchedule(Input &in, qint64 startNs);
// The schedule's arrivals, loss and stall on the port; the stop is the harness's to apply.
void load(FakeComm &fake, const Schedule &schedule);

// A view for long runs: no call log, and status texts that tell "never written" apart.
inline const QString kUnset = QStringLiteral("<unset>");
void makeLean(RecordingView &view);

// ConfigLength never counts bytes ConfigData does not hold and index 0 stays zero; an array
// the command allocated keeps its terminator (a write one past the end clobbers it).
void expectImageSound(const ConfigImage &image, bool ownedArray = true);

} // namespace fuzz

int fuzzBackup(const uint8_t *data, size_t size);
int fuzzRestore(const uint8_t *data, size_t size);
int fuzzOpen(const uint8_t *data, size_t size);
