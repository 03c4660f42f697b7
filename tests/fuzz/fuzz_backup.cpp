// Backup against an arbitrary controller, over any image held before. Input: setup byte,
// wake-up delay, held-image shape, then the controller schedule. Announced lengths from 2^18 to
// 2^31 - 1 are cut below 2^18 (they differ only in one allocation's size); 2^31 and more stay.

#include "fuzzcommon.h"

FUZZ_HARNESS(fuzzBackup)(const uint8_t *data, size_t size) {
    Input in{data, size};
    Run run(in, 4);
    HeldImage held = heldImage(in.byte(), Generation((run.setup >> 2) % 3));
    QByteArray &stream = run.stream;
    quint32 announced = 0; // the first generation's length field
    run.play(in, 0, [&] {
        announced = stream.size() < 4 ? 0 : qFromLittleEndian<quint32>(stream.constData());
        if (announced >= (1u << 18) && announced < (1u << 31))
            stream[3] = 0, stream[2] = char(stream[2] & 3), announced &= 0x3FFFF;
    });
    const HeldImage before = held;
    const JobResult result = run.run(JobRequest::Kind::Backup);
    applyToHeld(held, JobRequest::Kind::Backup, result);

    // "B", then either "U" and one "A" per image byte taken, or "@?".
    const QByteArray &w = run.fake.written, acks(w.count('A'), 'A');
    FUZZ_EXPECT(QList<QByteArray>{"", "B", "B@?", "BU" + acks}.contains(w) &&
                quint32(acks.size()) <= announced);
    const qint32 n = held.length();
    if (result.held == HeldEffect::Kept) {
        FUZZ_EXPECT(sameImage(held, before));
    } else if (result.held == HeldEffect::Dropped) {
        FUZZ_EXPECT(held.isEmpty() && held.generation == Generation::Unknown &&
                    !held.unsavedBackup);
    } else { // a complete upload; with its checksum unless cut short
        const QByteArray body = stream.mid(4, n), sum(1, char(xorOf(body)));
        FUZZ_EXPECT(
            n > 0 && held.unsavedBackup &&
            (held.generation == Generation::Second
                 ? n == kSecondGenerationLength && w == "B@?"
                 : held.generation == Generation::First && announced == quint32(n) &&
                       held.bytes == body &&
                       (result.hasBox() || run.stop.requested() || stream.mid(4 + n, 1) == sum)));
    }
    return 0;
}
