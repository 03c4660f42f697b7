// Restore of an arbitrary image to an arbitrary controller: any replies, any timing, device
// loss, a stop request, a stalled transmit buffer and failing openings.
//
// Input: a setup byte (which opening fails, port number, ControllerType), the time one yield
// takes, the image's shape and bytes, then the controller schedule.
//
// The image array is a view on a buffer of exactly its size, so the sanitizer sees any read
// past it, and a write (which would detach the view) shows as a moved data pointer.

#include "fuzzcommon.h"
#include "transfers.h"

#include <cstring>
#include <memory>

namespace {

using namespace fuzz;

constexpr qint64 kStartNs = 1'000 * FakeComm::kSec;

struct ImageShape {
    qint32 length = 0;
    qsizetype arraySize = 0; // ConfigLength + 1 for a sound image
    QByteArray content;      // image bytes 1..n of the array
};

ImageShape readShape(Input &in) {
    ImageShape s;
    const quint8 kind = in.byte() % 8;
    if (kind <= 2) { // the second-generation size and its neighbours
        s.length = kSecondGenerationLength - 1 + kind;
    } else if (kind <= 4) {
        s.length = qint32(1 + in.below(64));
    } else if (kind == 5) {
        s.length = qint32(1 + in.below(200'000));
    } else { // a count that does not match the array: never to be trusted
        s.arraySize = qsizetype(in.below(16));
        const QByteArray raw = in.bytes(4) + QByteArray(4, '\0');
        s.length = qint32(quint8(raw[0]) | quint8(raw[1]) << 8 | quint8(raw[2]) << 16 |
                          quint32(quint8(raw[3])) << 24);
        s.content = patternBytes(qMax<qsizetype>(0, s.arraySize - 1), quint8(s.length), true);
        return s;
    }
    s.arraySize = qsizetype(s.length) + 1;
    const quint8 seed = in.byte();
    s.content = in.bytes(qMin<qsizetype>(s.length, seed % 32));
    s.content += patternBytes(s.length - s.content.size(), seed, seed & 1);
    return s;
}

} // namespace

int fuzzRestore(const uint8_t *data, size_t size) {
    Input in(data, size);
    const quint8 setup = in.byte();
    const qint64 stepNs = (1 + in.byte()) * FakeComm::kUs;
    const ImageShape shape = readShape(in);
    const Schedule schedule = readSchedule(in, kStartNs);

    std::unique_ptr<char[]> buffer(new char[size_t(qMax<qsizetype>(1, shape.arraySize))]);
    if (shape.arraySize > 0) {
        buffer[0] = '\0';
        std::memcpy(buffer.get() + 1, shape.content.constData(), size_t(shape.arraySize - 1));
    }
    const QByteArray original(buffer.get(), shape.arraySize);
    ConfigImage image;
    if (shape.arraySize > 0)
        image.ConfigData = QByteArray::fromRawData(buffer.get(), shape.arraySize);
    image.ConfigLength = shape.length;
    image.ControllerType = qint16((setup >> 5) % 3);
    const qint16 typeBefore = image.ControllerType;

    FakeComm fake(kStartNs);
    fake.stepNs = stepNs;
    fake.failOpening = setup & 3;
    load(fake, schedule);
    RecordingView view;
    makeLean(view);
    view.selectedPort = qint16((setup >> 2) % 6);

    const qint64 sendable = image.heldLength();
    const qint64 tickBudget =
        1000 + 8 * (schedule.totalBytes + schedule.arrivals.size() + sendable);
    const qint64 timeBudgetNs = schedule.lastNs + 30 * FakeComm::kSec + tickBudget * stepNs;
    qint64 ticks = 0;
    bool overran = false;
    qsizetype writtenAtStop = -1, writtenAtWarning = -1;
    int refusedAtStop = 0;
    fake.onTick = [&] {
        if (schedule.stopAtNs && fake.nowNs() >= *schedule.stopAtNs && !view.stop) {
            view.stop = true;
            writtenAtStop = fake.written.size();
            refusedAtStop = fake.refusedOutputs;
        }
        if (!overran && (++ticks > tickBudget || fake.nowNs() > timeBudgetNs)) {
            overran = true;
            fail("Restore ran past its time budget", __FILE__, __LINE__);
            view.stop = true;
        }
    };
    view.onWarning = [&] {
        if (writtenAtWarning < 0)
            writtenAtWarning = fake.written.size();
    };
    Transfers(fake, fake, view, image).mnuRestore_Click();

    // The image is read, never written: same array, same bytes, same counts.
    FUZZ_EXPECT(shape.arraySize > 0 ? image.ConfigData.constData() == buffer.get() &&
                                          image.ConfigData.size() == shape.arraySize
                                    : image.ConfigData.isEmpty());
    FUZZ_EXPECT(std::memcmp(buffer.get(), original.constData(), size_t(shape.arraySize)) == 0);
    FUZZ_EXPECT(image.ConfigLength == shape.length && image.ControllerType == typeBefore);
    FUZZ_EXPECT(view.configStatus == kUnset && view.fileStatus == kUnset);
    FUZZ_EXPECT(!fake.portOpen());
    const bool guarded = shape.length < 1 || sendable < shape.length;
    FUZZ_EXPECT(guarded ? fake.props.isEmpty() && fake.written.isEmpty()
                        : fake.props.value(fake.props.size() - 1) == "PortOpen=0");

    // What went out is the first-generation exchange or, for an image of the second
    // generation's size, the second-generation one, cut off at some point.
    const QByteArray image1 = original.mid(1, shape.length);
    const QByteArray start = "R" + littleEndian32(quint32(shape.length));
    const QByteArray firstGen = start + image1;
    const bool secondGenSize = shape.length == kSecondGenerationLength && !guarded;
    const QByteArray secondGen =
        secondGenSize ? start + "@M@!" + image1 + char(xorOf(image1)) : QByteArray();
    const QByteArray &w = fake.written;
    const bool asSecond = secondGenSize && w.size() > start.size() && secondGen.startsWith(w);
    FUZZ_EXPECT(guarded || firstGen.startsWith(w) || asSecond);
    // Everything from "@M" on goes out at the second generation's line settings.
    bool second = false;
    for (const FakeComm::Write &write : fake.writes) {
        second = second || (asSecond && write.bytes == "@M");
        FUZZ_EXPECT(!second || write.settings == QLatin1String("9600,N,8,1"));
    }
    if (writtenAtWarning >= 0)
        FUZZ_EXPECT(w.size() == writtenAtWarning); // nothing sent once a failure is shown
    if (view.stopSeen) {
        FUZZ_EXPECT(view.callsAfterStop == 0);
        FUZZ_EXPECT(w.size() == writtenAtStop && fake.refusedOutputs == refusedAtStop);
    } else {
        FUZZ_EXPECT(view.lastWasIdle && view.warnings.size() <= 1 && view.progressValue == 0);
        // A restore that ended without a report sent everything, checksum included.
        if (!guarded && view.warnings.isEmpty())
            FUZZ_EXPECT(w == firstGen || (secondGenSize && w == secondGen));
    }
    return 0;
}

#ifndef STOWLINE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzzRestore(data, size);
}
#endif
