// Backup against an arbitrary controller: any bytes, any timing, device loss, a stop request,
// a transmit buffer that stops draining, an opening that fails, and any image held before.
//
// Input: a setup byte (which opening fails, ControllerType before, port number), the time one
// yield takes, the image held before, then the controller schedule.
//
// Announced lengths from 2^18 to 2^31 - 1 are cut below 2^18 here: they differ from shorter
// ones only in the size of one allocation, and letting each run fill up to 2 GiB would make
// the fuzzer spend its time in memset (or stop at its malloc limit). Lengths of 2^31 and more,
// which must be refused, stay as the input says.

#include "fuzzcommon.h"
#include "transfers.h"

#include <limits>

namespace {

using namespace fuzz;

constexpr qint64 kStartNs = 1'000 * FakeComm::kSec;
constexpr quint32 kLargestAnnounced = (quint32(1) << 18) - 1;

ConfigImage imageBefore(quint8 shape, qint16 controllerType) {
    ConfigImage image;
    const qsizetype size = shape % 8;
    if (size > 0) {
        image.ConfigData = QByteArray(1, '\0') + patternBytes(size - 1, shape, true);
        image.ConfigLength = qint32((shape >> 3) % size);
    }
    image.ControllerType = controllerType;
    return image;
}

quint32 littleEndianAt(const QByteArray &bytes, qsizetype at) {
    quint32 n = 0;
    for (int i = 0; i < 4; ++i)
        n |= quint32(quint8(bytes.at(at + i))) << (8 * i);
    return n;
}

// Keeps the length a first-generation controller announces (its first four bytes) below
// kLargestAnnounced unless it is 2^31 or more.
void capAnnouncedLength(Schedule &schedule) {
    const QByteArray stream = schedule.streamAfter(kStartNs);
    if (stream.size() < 4)
        return;
    const quint32 announced = littleEndianAt(stream, 0);
    if (announced <= kLargestAnnounced || announced > quint32(std::numeric_limits<qint32>::max()))
        return;
    const qint64 dropped = schedule.totalBytes - stream.size(); // due as the port opens
    schedule.patchByte(dropped + 3, 0);
    schedule.patchByte(dropped + 2, quint8(stream.at(2)) & 0x03);
}

// "B", then either "U" and one "A" per image byte taken, or "@?".
bool plausibleBackupOutput(const QByteArray &written, quint32 announced) {
    if (written.isEmpty() || written == "B" || written == "B@?")
        return true;
    if (!written.startsWith("BU"))
        return false;
    const qsizetype acks = written.size() - 2;
    return quint32(acks) <= announced && written.count('A') == acks;
}

} // namespace

int fuzzBackup(const uint8_t *data, size_t size) {
    Input in(data, size);
    const quint8 setup = in.byte();
    const qint64 stepNs = (1 + in.byte()) * FakeComm::kUs;
    ConfigImage image = imageBefore(in.byte(), qint16((setup >> 2) % 3));
    Schedule schedule = readSchedule(in, kStartNs);
    capAnnouncedLength(schedule);

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
        ++ticks;
        if (schedule.stopAtNs && fake.nowNs() >= *schedule.stopAtNs && !view.stop) {
            view.stop = true;
            writtenAtStop = fake.written.size();
            refusedAtStop = fake.refusedOutputs;
        }
        expectImageSound(image);
        if (!overran && (ticks > tickBudget || fake.nowNs() > timeBudgetNs)) {
            overran = true;
            fail("Backup ran past its time budget", __FILE__, __LINE__);
            view.stop = true; // ends any wait, so the run still finishes
        }
    };
    view.onCall = [&] { expectImageSound(image); };

    Transfers transfers(fake, fake, view, image);
    transfers.mnuBackup_Click();

    FUZZ_EXPECT(!fake.portOpen());
    FUZZ_EXPECT(!fake.props.isEmpty() && fake.props.last() == QLatin1String("PortOpen=0"));
    expectImageSound(image);
    const QByteArray stream = schedule.streamAfter(kStartNs);
    FUZZ_EXPECT(
        plausibleBackupOutput(fake.written, stream.size() >= 4 ? littleEndianAt(stream, 0) : 0));
    if (view.stopSeen) {
        FUZZ_EXPECT(view.callsAfterStop == 0);
        FUZZ_EXPECT(fake.written.size() == writtenAtStop && fake.refusedOutputs == refusedAtStop);
    } else {
        FUZZ_EXPECT(view.lastWasIdle);
        FUZZ_EXPECT(view.warnings.size() <= 1);
        FUZZ_EXPECT(view.progressValue == 0);
    }

    const bool replaced = image.ConfigData.constData() != before.ConfigData.constData();
    if (!replaced) {
        // Untouched, or dropped: never a different count over the old bytes.
        FUZZ_EXPECT(image.ConfigLength == before.ConfigLength || image.ConfigLength == 0);
    } else if (image.ConfigLength > 0) {
        // A held image is a complete upload, and it is shown as such.
        FUZZ_EXPECT(view.configStatus == byteCountText(image.ConfigLength));
        if (image.ControllerType == 1) {
            // First generation: the bytes after the four length bytes, as they came.
            const qint32 n = image.ConfigLength;
            FUZZ_EXPECT(stream.size() >= 4 + qsizetype(n));
            FUZZ_EXPECT(littleEndianAt(stream, 0) == quint32(n));
            FUZZ_EXPECT(image.ConfigData.mid(1) == stream.mid(4, n));
            if (view.warnings.isEmpty() && !view.stopSeen)
                FUZZ_EXPECT(stream.size() > 4 + qsizetype(n) &&
                            quint8(stream.at(4 + n)) == xorOf(stream.mid(4, n)));
        } else {
            FUZZ_EXPECT(image.ControllerType == 2 && image.ConfigLength == kSecondGenerationLength);
        }
    }
    return 0;
}

#ifndef STOWLINE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzzBackup(data, size);
}
#endif
