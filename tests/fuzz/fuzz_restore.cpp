// Restore of an arbitrary image to an arbitrary controller. Input: setup byte, yield time, the
// image's shape and bytes, then the controller schedule. The image array views a buffer of
// exactly its size: the sanitizer sees a read past it, a write shows as a moved data pointer.

#include "fuzzcommon.h"
#include "transfers.h"

#include <cstring>

using namespace fuzz;

int fuzzRestore(const uint8_t *data, size_t size) {
    Input in(data, size);
    Run run(in, 2);
    const quint8 kind = in.byte() % 8;
    qint32 length = kind <= 2   ? kSecondGenerationLength - 1 + kind
                    : kind <= 4 ? qint32(1 + in.below(64))
                                : qint32(1 + in.below(200'000));
    qsizetype arraySize = length + 1;
    QByteArray content;
    if (kind >= 6) { // a count that does not match the array: never to be trusted
        arraySize = in.below(16);
        const QByteArray raw = in.bytes(4) + QByteArray(4, '\0');
        length = qint32(quint8(raw[0]) | quint8(raw[1]) << 8 | quint8(raw[2]) << 16 |
                        quint32(quint8(raw[3])) << 24);
        content = patternBytes(qMax<qsizetype>(0, arraySize - 1), quint8(length));
    } else {
        const quint8 seed = in.byte();
        content = in.bytes(qMin<qsizetype>(length, seed % 32));
        content += patternBytes(length - content.size(), seed, seed & 1);
    }
    const QByteArray original = (QByteArray(1, '\0') + content).left(arraySize);
    std::unique_ptr<char[]> buffer(new char[size_t(qMax<qsizetype>(1, arraySize))]);
    std::memcpy(buffer.get(), original.constData(), size_t(arraySize));
    ConfigImage image;
    if (arraySize > 0)
        image.ConfigData = QByteArray::fromRawData(buffer.get(), arraySize);
    image.ConfigLength = length;
    image.ControllerType = qint16((run.setup >> 5) % 3);
    const qint16 typeBefore = image.ControllerType;
    const qint64 sendable = image.heldLength();
    run.play(in, 8 * sendable);
    qsizetype writtenAtWarning = -1;
    run.view.onWarning = [&] {
        writtenAtWarning = qMax(writtenAtWarning, run.fake.written.size());
    };
    Transfers(run.fake, run.fake, run.view, image).mnuRestore_Click();

    // The image is read, never written.
    FUZZ_EXPECT(arraySize > 0 ? image.ConfigData.constData() == buffer.get() &&
                                    image.ConfigData.size() == arraySize
                              : image.ConfigData.isEmpty());
    FUZZ_EXPECT(std::memcmp(buffer.get(), original.constData(), size_t(arraySize)) == 0);
    FUZZ_EXPECT(image.ConfigLength == length && image.ControllerType == typeBefore);
    FUZZ_EXPECT(run.view.configStatus == "<unset>" && run.view.fileStatus == "<unset>");
    run.checkEnd();
    const bool guarded = length < 1 || sendable < length;
    const QByteArray &w = run.fake.written;
    FUZZ_EXPECT(!guarded || (run.fake.openings == 0 && w.isEmpty()));
    // The first-generation exchange or, at the second generation's size, the second-generation
    // one, cut off at some point; from "@M" on at the second generation's line settings.
    const QByteArray body = original.mid(1, length), start = "R" + littleEndian32(quint32(length));
    const bool secondSize = length == kSecondGenerationLength && !guarded;
    const QByteArray first = start + body,
                     second = secondSize ? start + "@M@!" + body + char(xorOf(body)) : "";
    const bool asSecond = secondSize && w.size() > start.size() && second.startsWith(w);
    FUZZ_EXPECT(guarded || first.startsWith(w) || asSecond);
    bool inSecond = false;
    for (const FakeComm::Write &write : run.fake.writes) {
        inSecond = inSecond || (asSecond && write.bytes == "@M");
        FUZZ_EXPECT(!inSecond || write.settings == QLatin1String("9600,N,8,1"));
    }
    FUZZ_EXPECT(writtenAtWarning < 0 || w.size() == writtenAtWarning); // nothing after a failure
    if (!guarded && !run.view.stopSeen && run.view.warnings.isEmpty())
        FUZZ_EXPECT(w == first || (secondSize && w == second)); // no report: everything sent
    return 0;
}

#ifndef STOWLINE_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    return fuzzRestore(data, size);
}
#endif
