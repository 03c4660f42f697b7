// Backup against an arbitrary controller, over any image held before. Input: setup byte, yield
// time, held-image shape, then the controller schedule. Announced lengths from 2^18 to 2^31 - 1
// are cut below 2^18 (they differ only in one allocation's size); 2^31 and more stay.

#include "fuzzcommon.h"
#include "transfers.h"

using namespace fuzz;

static quint32 le32(const QByteArray &b) {
    return b.size() < 4 ? 0
                        : quint32(quint8(b[0]) | quint8(b[1]) << 8 | quint8(b[2]) << 16) |
                              quint32(quint8(b[3])) << 24;
}

int fuzzBackup(const uint8_t *data, size_t size) {
    Input in(data, size);
    Run run(in, 4);
    ConfigImage image = heldImage(in.byte());
    image.ControllerType = qint16((run.setup >> 2) % 3);
    QByteArray stream;
    run.play(in, 0, [&] {
        stream = run.streamAfterStart();
        const quint32 n = le32(stream);
        if (n >= (1u << 18) && n < (1u << 31)) {
            qint64 total = 0; // bytes due before the port opens are dropped
            for (const auto &[at, bytes] : run.arrivals)
                total += bytes.size();
            run.patchByte(total - stream.size() + 3, 0);
            run.patchByte(total - stream.size() + 2, quint8(stream[2]) & 3);
            stream = run.streamAfterStart();
        }
    });
    const ConfigImage before = image;
    run.view.onCall = [&] { expectImageSound(image); };
    Transfers(run.fake, run.fake, run.view, image).mnuBackup_Click();

    run.checkEnd();
    expectImageSound(image);
    // "B", then either "U" and one "A" per image byte taken, or "@?".
    const QByteArray &w = run.fake.written;
    const quint32 announced = le32(stream);
    FUZZ_EXPECT(
        w.isEmpty() || w == "B" || w == "B@?" ||
        (w.startsWith("BU") && quint32(w.size() - 2) <= announced && w.count('A') == w.size() - 2));
    const qint32 n = image.ConfigLength;
    if (image.ConfigData.constData() == before.ConfigData.constData()) {
        FUZZ_EXPECT(n == before.ConfigLength || n == 0); // untouched or dropped, never recounted
    } else if (n > 0) { // a held image is a complete upload, shown as such
        FUZZ_EXPECT(run.view.configStatus == byteCountText(n));
        if (image.ControllerType == 2)
            FUZZ_EXPECT(n == kSecondGenerationLength);
        else
            FUZZ_EXPECT(image.ControllerType == 1 && announced == quint32(n) &&
                        image.ConfigData.mid(1) == stream.mid(4, n));
        if (image.ControllerType == 1 && run.view.warnings.isEmpty() && !run.view.stopSeen)
            FUZZ_EXPECT(stream.size() > 4 + n && quint8(stream[4 + n]) == xorOf(stream.mid(4, n)));
    }
    return 0;
}

#ifndef STOWLINE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzzBackup(data, size);
}
#endif
