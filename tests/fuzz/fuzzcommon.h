#pragma once

// The fuzz harnesses' driver: values read from the fuzzer's bytes, a controller schedule played
// on a FakeComm within a time budget, and invariants that fail the test or abort the fuzzer.

#include "fakecomm.h"
#include "recordingview.h"
#include "transfers.h"

#include <QTest>
#include <QtEndian>

inline void fuzzFail(const char *what, const char *file, int line) {
    if (!QTest::currentTestFunction())
        qFatal("invariant broken: %s (%s:%d)", what, file, line);
    QTest::qFail(what, file, line);
}
#define FUZZ_EXPECT(...) ((__VA_ARGS__) ? void() : fuzzFail(#__VA_ARGS__, __FILE__, __LINE__))

// Past the end every read yields zeros, so any input, however short, describes a whole run.
struct Input {
    const uint8_t *data;
    size_t size, pos = 0;
    bool atEnd() const { return pos >= size; }
    quint8 byte() { return pos < size ? quint8(data[pos++]) : quint8(0); }
    quint32 varint();                   // LEB128, at most five bytes
    QByteArray bytes(qsizetype count) { // fewer when the input ends first
        const size_t n = std::min(size - pos, size_t(std::max<qsizetype>(0, count)));
        return QByteArray(reinterpret_cast<const char *>(data + std::exchange(pos, pos + n)),
                          qsizetype(n));
    }
};

// Bytes derived from a seed, so a long controller stream costs a few input bytes.
QByteArray patternBytes(qsizetype count, quint8 value, bool varied = true);
ConfigImage heldImage(quint8 shape, qint16 type);                    // held before the command
bool sameImage(const ConfigImage &image, const ConfigImage &before); // array, length and type
// ConfigLength never counts bytes ConfigData does not hold, index 0 stays zero and the array
// keeps its terminator (a write one past the end clobbers it).
void expectImageSound(const ConfigImage &image);

// One transfer against a controller the input describes: a setup byte (which opening fails,
// port number), the time one yield takes, then (after the harness's own bytes) timed arrivals,
// a device loss, a stop request and a stalled transmit buffer.
struct Run {
    static constexpr qint64 kStartNs = 1'000 * FakeComm::kSec;
    Run(Input &in, int portShift) : setup(in.byte()) {
        fake.stepNs = (1 + in.byte()) * FakeComm::kUs;
        fake.failOpening = setup & 3;
        view.keepLog = false;
        view.configStatus = view.fileStatus = QStringLiteral("<unset>");
        view.selectedPort = qint16((setup >> portShift) % 6);
    }
    // Reads the schedule, lets `edit` change `stream`, plays it and arms the budget.
    void play(Input &in, qint64 extraTicks, const std::function<void()> &edit);
    void checkEnd() { // the port is closed and idle; a stop is obeyed
        FUZZ_EXPECT(!fake.portOpen() &&
                    (view.stopSeen ? view.callsAfterStop == 0 &&
                                         fake.written.size() + fake.refusedOutputs == outputsAtStop
                                   : view.lastWasIdle && view.warnings.size() <= 1 &&
                                         view.progressValue == 0));
    }

    quint8 setup;
    FakeComm fake{kStartNs};
    RecordingView view;
    QByteArray stream;         // what arrives once the port is open
    qint64 outputsAtStop = -1; // accepted bytes plus refused outputs when the stop came
};

// A harness's definition: called by name in the replay test, by libFuzzer through its entry point.
#ifdef STOWLINE_FUZZ_REPLAY
#define FUZZ_HARNESS(name) int name
#else
#define FUZZ_HARNESS(name) extern "C" int LLVMFuzzerTestOneInput
#endif
using Harness = int(const uint8_t *data, size_t size);
Harness fuzzBackup, fuzzRestore, fuzzOpen;
