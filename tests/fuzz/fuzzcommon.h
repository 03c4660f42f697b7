#pragma once

// The fuzz harnesses' driver: values read from the fuzzer's bytes, a controller schedule played
// on a FakePort within a time budget, and invariants that fail the test or abort the fuzzer.

#include "fakeport.h"
#include "link/transfer.h"
#include "recorder.h"

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
HeldImage heldImage(quint8 shape, Generation generation); // held before the command
bool sameImage(const HeldImage &image, const HeldImage &before);

// One job against a controller the input describes: a setup byte (which opening fails, port
// number), how late each wait wakes, then (after the harness's own bytes) timed arrivals, a
// device loss, a stop request and a stalled transmit buffer.
struct Run {
    static constexpr qint64 kStartNs = 1'000 * FakePort::kSec;
    Run(Input &in, int portShift) : setup(in.byte()) {
        fake.idleOvershootNs = (1 + in.byte()) * FakePort::kUs;
        fake.failOpening = setup & 3;
        rec.keepLog = false;
        rec.stop = &stop;
        const qint16 port = qint16((setup >> portShift) % 6);
        request.port = {port, port ? QStringLiteral("/dev/ttyS%1").arg(port - 1) : QString()};
        request.inventory = {};
    }
    // Reads the schedule, lets `edit` change `stream`, plays it and arms the budget.
    void play(Input &in, qint64 extraTicks, const std::function<void()> &edit);
    // Runs the job; the port is closed at its end, a box comes with a failure only, and a stop
    // is obeyed: nothing reported or written after it.
    JobResult run(JobRequest::Kind kind) {
        request.kind = kind;
        const JobResult result = runJob(request, fake, fake, stop, rec);
        const Outcome o = result.outcome;
        FUZZ_EXPECT(!fake.isOpen() &&
                    result.hasBox() == (o != Outcome::Succeeded && o != Outcome::Stopped &&
                                        o != Outcome::NothingHeld));
        FUZZ_EXPECT(!stop.requested() ||
                    (o == Outcome::Stopped && rec.callsAfterStop == 0 &&
                     fake.written.size() + fake.refusedWrites == outputsAtStop));
        return result;
    }

    quint8 setup;
    FakePort fake{kStartNs};
    Recorder rec;
    StopToken stop;
    JobRequest request;
    QByteArray stream;         // what arrives once the port is open
    qint64 outputsAtStop = -1; // accepted bytes plus refused writes when the stop came
};

// A harness's definition: called by name in the replay test, by libFuzzer through its entry point.
#ifdef STOWLINE_FUZZ_REPLAY
#define FUZZ_HARNESS(name) int name
#else
#define FUZZ_HARNESS(name) extern "C" int LLVMFuzzerTestOneInput
#endif
using Harness = int(const uint8_t *data, size_t size);
Harness fuzzBackup, fuzzRestore, fuzzOpen;
