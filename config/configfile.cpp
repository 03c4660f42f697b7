#include "config/configfile.h"

#include <QIODevice>

namespace ConfigFile {

namespace {

// Large enough that a 64 MiB image moves in a few dozen calls, small enough that a slow
// device is not handed one enormous request.
constexpr qint64 kChunk = qint64(1) << 20;

// A short write (a disk filling up) is tried again for the rest, so that the write that fails
// outright leaves the system's reason on the device.
bool writeAll(QIODevice &device, const char *bytes, qint64 length) {
    while (length > 0) {
        const qint64 written = device.write(bytes, qMin(length, kChunk));
        if (written <= 0)
            return false;
        bytes += written;
        length -= written;
    }
    return true;
}

bool readAll(QIODevice &device, char *bytes, qint64 length) {
    while (length > 0) {
        const qint64 got = device.read(bytes, qMin(length, kChunk));
        if (got <= 0)
            return false;
        bytes += got;
        length -= got;
    }
    return true;
}

// Moves bytes [done, upTo) with `move`, reporting each progress point on the way.
template <typename Move> bool copyPaced(qint64 length, const Progress &progress, Move move) {
    const qint64 step = progressStep(length);
    qint64 done = 0;
    // A point i sits in front of byte i; the first byte never has one.
    for (qint64 point = step < 2 ? 2 : step; point <= length; point += step) {
        if (!move(done, point - 1 - done))
            return false;
        done = point - 1;
        if (progress)
            progress(done);
    }
    return move(done, length - done);
}

} // namespace

qint64 progressStep(qint64 length) {
    if (length <= 0)
        return 1;
    qint64 step = length / 10;
    const qint64 tenths = length % 10;
    if (tenths > 5 || (tenths == 5 && step % 2 != 0))
        ++step;
    return step > 0 ? step : 1;
}

bool writePaced(QIODevice &device, const char *bytes, qint64 length, const Progress &progress) {
    if (length < 0)
        return false;
    return copyPaced(length, progress, [&](qint64 from, qint64 count) {
        return writeAll(device, bytes + from, count);
    });
}

bool readPaced(QIODevice &device, char *bytes, qint64 length, const Progress &progress) {
    if (length < 0)
        return false;
    return copyPaced(length, progress, [&](qint64 from, qint64 count) {
        return readAll(device, bytes + from, count);
    });
}

QString pathTail(const QString &path, qsizetype count) {
    qsizetype start = path.size();
    for (qsizetype taken = 0; taken < count && start > 0; ++taken) {
        --start;
        if (start > 0 && path.at(start).isLowSurrogate() && path.at(start - 1).isHighSurrogate())
            --start;
    }
    return path.mid(start);
}

} // namespace ConfigFile
