// Restore of an arbitrary image to an arbitrary controller. Input: setup byte, wake-up delay,
// the image's shape and bytes, then the controller schedule. The image views a buffer of
// exactly its size: the sanitizer sees a read past it.

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
    if (kind >= 6) { // a few bytes (the count read here once stood apart from them)
        arraySize = in.varint() % 16;
        length = qFromLittleEndian<qint32>((in.bytes(4) + QByteArray(4, '\0')).constData());
        content = patternBytes(qMax<qsizetype>(0, arraySize - 1), quint8(length));
    } else {
        const quint8 seed = in.byte();
        content = in.bytes(qMin<qsizetype>(length, seed % 32));
        content += patternBytes(length - content.size(), seed, seed & 1);
    }
    const QByteArray body = (QByteArray(1, '\0') + content).left(arraySize).mid(1);
    std::vector<char> buffer(body.begin(), body.end());
    run.request.image = {body.isEmpty() ? QByteArray()
                                        : QByteArray::fromRawData(buffer.data(), body.size()),
                         Generation((run.setup >> 5) % 3)};
    run.play(in, 8 * body.size(), [] {});
    const JobResult result = run.run(JobRequest::Kind::Restore);

    // The image is read, never written.
    FUZZ_EXPECT(QByteArrayView(buffer.data(), qsizetype(buffer.size())) == body);
    // Nothing to send opens nothing; otherwise the first-generation exchange or, at the second
    // generation's size, the second-generation one, cut off at some point.
    const qsizetype n = body.size();
    const QByteArray &w = run.fake.written, start = "R" + littleEndian32(quint32(n));
    const QByteArray first = start + body, second = n == kSecondGenerationLength
                                                        ? start + "@M@!" + body + char(xorOf(body))
                                                        : first;
    FUZZ_EXPECT(n == 0 ? run.fake.openings == 0 && w.isEmpty()
                       : first.startsWith(w) || second.startsWith(w));
    if (result.outcome == Outcome::Succeeded)
        FUZZ_EXPECT(w == first || w == second); // no box: everything sent
    return 0;
}
