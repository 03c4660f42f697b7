// Backup against an arbitrary controller: any bytes, any timing, device loss, a stop request,
// a transmit buffer that stops draining, an opening that fails, and any image held before.
//
// Input: a setup byte (which opening fails, ControllerType before, port number), the time one
// yield takes, the image held before, then the controller schedule.
//
// Announced lengths from 2^18 to 2^31 - 1 are cut below 2^18: they differ from shorter ones
// only in the size of one allocation, and filling up to 2 GiB per run would starve the fuzzer.
// Lengths of 2^31 and more, which must be refused, stay as the input says.

#include "fuzzcommon.h"
#include "transfers.h"

#include <limits>

namespace {

using namespace fuzz;

constexpr qint64 kStartNs = 1'000 * FakeComm::kSec;

quint32 littleEndianAt(const QByteArray &bytes, qsizetype at) {
    quint32 n = 0;
    for (int i = 0; i < 4; ++i)
        n |= quint32(quint8(bytes.at(at + i))) << (8 * i);
    return n;
}

} // namespace

int fuzzBackup(const uint8_t *data, size_t size) {
    Input in(data, size);
    const quint8 setup = in.byte();
    const qint64 stepNs = (1 + in.byte()) * FakeComm::kUs;
    const quint8 shape = in.byte();
    ConfigImage image;
    if (shape % 8 > 0) {
        image.ConfigData = QByteArray(1, '\0') + patternBytes(shape % 8 - 1, shape, true);
        image.ConfigLength = qint32((shape >> 3) % (shape % 8));
    }
    image.ControllerType = qint16((setup >> 2) % 3);
    Schedule schedule = readSchedule(in, kStartNs);
    QByteArray stream = schedule.streamAfter(kStartNs);
    if (stream.size() >= 4) {
        const quint32 announced = littleEndianAt(stream, 0);
        if (announced >= (1u << 18) && announced <= quint32(std::numeric_limits<qint32>::max())) {
            const qint64 dropped = schedule.totalBytes - stream.size(); // due as the port opens
            schedule.patchByte(dropped + 3, 0);
            schedule.patchByte(dropped + 2, quint8(stream.at(2)) & 0x03);
            stream = schedule.streamAfter(kStartNs);
        }
    }

    FakeComm fake(kStartNs);
    fake.stepNs = stepNs;
    fake.failOpening = setup & 3;
    load(fake, schedule);
    RecordingView view;
    makeLean(view);
    view.selectedPort = qint16((setup >> 4) % 6);

    const ConfigImage before = image;
    const qint64 tickBudget = 1000 + 8 * (schedule.totalBytes + schedule.arrivals.size());
    const qint64 timeBudgetNs = schedule.lastNs + 30 * FakeComm::kSec + tickBudget * stepNs;
    qint64 ticks = 0;
    bool overran = false;
    qsizetype writtenAtStop = -1;
    int refusedAtStop = 0;
    fake.onTick = [&] {
        if (schedule.stopAtNs && fake.nowNs() >= *schedule.stopAtNs && !view.stop) {
            view.stop = true;
            writtenAtStop = fake.written.size();
            refusedAtStop = fake.refusedOutputs;
        }
        expectImageSound(image);
        if (!overran && (++ticks > tickBudget || fake.nowNs() > timeBudgetNs)) {
            overran = true;
            fail("Backup ran past its time budget", __FILE__, __LINE__);
            view.stop = true; // ends any wait, so the run still finishes
        }
    };
    view.onCall = [&] { expectImageSound(image); };
    Transfers(fake, fake, view, image).mnuBackup_Click();

    FUZZ_EXPECT(!fake.portOpen() && fake.props.value(fake.props.size() - 1) == "PortOpen=0");
    expectImageSound(image);
    // "B", then either "U" and one "A" per image byte taken, or "@?".
    const QByteArray &w = fake.written;
    const quint32 announced = stream.size() >= 4 ? littleEndianAt(stream, 0) : 0;
    FUZZ_EXPECT(
        w.isEmpty() || w == "B" || w == "B@?" ||
        (w.startsWith("BU") && quint32(w.size() - 2) <= announced && w.count('A') == w.size() - 2));
    if (view.stopSeen) {
        FUZZ_EXPECT(view.callsAfterStop == 0);
        FUZZ_EXPECT(w.size() == writtenAtStop && fake.refusedOutputs == refusedAtStop);
    } else {
        FUZZ_EXPECT(view.lastWasIdle && view.warnings.size() <= 1 && view.progressValue == 0);
    }
    if (image.ConfigData.constData() == before.ConfigData.constData()) {
        // Untouched, or dropped: never a different count over the old bytes.
        FUZZ_EXPECT(image.ConfigLength == before.ConfigLength || image.ConfigLength == 0);
    } else if (image.ConfigLength > 0) {
        // A held image is a complete upload, and it is shown as such.
        const qint32 n = image.ConfigLength;
        FUZZ_EXPECT(view.configStatus == byteCountText(n));
        if (image.ControllerType == 1) { // the bytes after the length, as they came
            FUZZ_EXPECT(stream.size() >= 4 + qsizetype(n) && announced == quint32(n));
            FUZZ_EXPECT(image.ConfigData.mid(1) == stream.mid(4, n));
            if (view.warnings.isEmpty() && !view.stopSeen)
                FUZZ_EXPECT(stream.size() > 4 + qsizetype(n) &&
                            quint8(stream.at(4 + n)) == xorOf(stream.mid(4, n)));
        } else {
            FUZZ_EXPECT(image.ControllerType == 2 && n == kSecondGenerationLength);
        }
    }
    return 0;
}

#ifndef STOWLINE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzzBackup(data, size);
}
#endif
