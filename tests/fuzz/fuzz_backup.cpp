// Backup against an arbitrary controller, over any image held before. Input: setup byte, yield
// time, held-image shape, then the controller schedule. Announced lengths from 2^18 to 2^31 - 1
// are cut below 2^18 (they differ only in one allocation's size); 2^31 and more stay.

#include "fuzzcommon.h"

FUZZ_HARNESS(fuzzBackup)(const uint8_t *data, size_t size) {
    Input in{data, size};
    Run run(in, 4);
    ConfigImage image = heldImage(in.byte(), qint16((run.setup >> 2) % 3));
    QByteArray &stream = run.stream;
    quint32 announced = 0; // the first generation's length field
    run.play(in, 0, [&] {
        announced = stream.size() < 4 ? 0 : qFromLittleEndian<quint32>(stream.constData());
        if (announced >= (1u << 18) && announced < (1u << 31))
            stream[3] = 0, stream[2] = char(stream[2] & 3), announced &= 0x3FFFF;
    });
    const ConfigImage before = image;
    run.view.onCall = [&] { expectImageSound(image); };
    Transfers(run.fake, run.fake, run.view, image).mnuBackup_Click();

    run.checkEnd();
    expectImageSound(image);
    // "B", then either "U" and one "A" per image byte taken, or "@?".
    const QByteArray &w = run.fake.written, acks(w.count('A'), 'A');
    FUZZ_EXPECT(QList<QByteArray>{"", "B", "B@?", "BU" + acks}.contains(w) &&
                quint32(acks.size()) <= announced);
    const qint32 n = image.ConfigLength;
    if (image.ConfigData.constData() == before.ConfigData.constData()) {
        FUZZ_EXPECT(n == before.ConfigLength || n == 0); // untouched or dropped, never recounted
    } else if (n > 0) { // a complete upload, shown as such; with its checksum unless cut short
        const QByteArray body = stream.mid(4, n), sum(1, char(xorOf(body)));
        FUZZ_EXPECT(run.view.configStatus == byteCountText(n) &&
                    (image.ControllerType == 2
                         ? n == kSecondGenerationLength
                         : image.ControllerType == 1 && announced == quint32(n) &&
                               image.ConfigData.mid(1) == body &&
                               (!run.view.warnings.isEmpty() || run.view.stopSeen ||
                                stream.mid(4 + n, 1) == sum)));
    }
    return 0;
}
