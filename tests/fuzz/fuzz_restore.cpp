// Restore of an arbitrary image to an arbitrary controller. Input: setup byte, yield time, the
// image's shape and bytes, then the controller schedule. The image array views a buffer of
// exactly its size: the sanitizer sees a read past it, a write shows as a moved data pointer.

#include "fuzzcommon.h"

FUZZ_HARNESS(fuzzRestore)(const uint8_t *data, size_t size) {
    Input in{data, size};
    Run run(in, 2);
    const quint8 kind = in.byte() % 8;
    qint32 length = kind <= 2   ? kSecondGenerationLength - 1 + kind
                    : kind <= 4 ? qint32(1 + in.varint() % 64)
                                : qint32(1 + in.varint() % 200'000);
    qsizetype arraySize = length + 1;
    QByteArray content;
    if (kind >= 6) { // a count that does not match the array: never to be trusted
        arraySize = in.varint() % 16;
        length = qFromLittleEndian<qint32>((in.bytes(4) + QByteArray(4, '\0')).constData());
        content = patternBytes(qMax<qsizetype>(0, arraySize - 1), quint8(length));
    } else {
        const quint8 seed = in.byte();
        content = in.bytes(qMin<qsizetype>(length, seed % 32));
        content += patternBytes(length - content.size(), seed, seed & 1);
    }
    const QByteArray original = (QByteArray(1, '\0') + content).left(arraySize);
    std::vector<char> buffer(original.begin(), original.end());
    ConfigImage image{arraySize ? QByteArray::fromRawData(buffer.data(), arraySize) : QByteArray(),
                      length, qint16((run.setup >> 5) % 3)};
    const ConfigImage before = image;
    const qint64 sendable = image.heldLength();
    run.play(in, 8 * sendable, [] {});
    qsizetype atWarning = -1; // bytes written when a box showed
    run.view.onWarning = [&] { atWarning = run.fake.written.size(); };
    Transfers(run.fake, run.fake, run.view, image).mnuRestore_Click();

    // The image is read, never written.
    FUZZ_EXPECT(sameImage(image, before) && QByteArrayView(buffer.data(), arraySize) == original &&
                run.view.configStatus == "<unset>" && run.view.fileStatus == "<unset>");
    run.checkEnd();
    // A length the array cannot back opens nothing; otherwise the first-generation exchange or,
    // at the second generation's size, the second-generation one, cut off at some point.
    const bool guarded = length < 1 || sendable < length;
    const QByteArray &w = run.fake.written;
    const QByteArray body = original.mid(1, length), start = "R" + littleEndian32(quint32(length));
    const QByteArray first = start + body, second = length == kSecondGenerationLength
                                                        ? start + "@M@!" + body + char(xorOf(body))
                                                        : first;
    FUZZ_EXPECT(guarded ? run.fake.openings == 0 && w.isEmpty()
                        : first.startsWith(w) || second.startsWith(w));
    FUZZ_EXPECT(atWarning < 0 || w.size() == atWarning); // nothing after a failure
    if (!guarded && !run.view.stopSeen && run.view.warnings.isEmpty())
        FUZZ_EXPECT(w == first || w == second); // no report: everything sent
    return 0;
}
