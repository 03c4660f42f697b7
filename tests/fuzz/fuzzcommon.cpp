#include "fuzzcommon.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {

void abortOnFailure(const char *what, const char *file, int line) {
    std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", what, file, line);
    std::fflush(stderr);
    std::abort();
}

FailureHandler failureHandler = abortOnFailure;

// Keeps one input from describing gigabytes of controller traffic: a longer stream adds
// nothing that 2^19 bytes (more than two second-generation images) cannot show.
constexpr qint64 kMaxStreamBytes = qint64(1) << 19;
constexpr quint32 kMaxRun = quint32(1) << 18;

} // namespace

void setFailureHandler(FailureHandler handler) {
    failureHandler = handler ? handler : abortOnFailure;
}

void fail(const char *what, const char *file, int line) {
    failureHandler(what, file, line);
}

quint32 Input::varint() {
    quint32 value = 0;
    for (int shift = 0; shift < 35; shift += 7) {
        const quint8 b = byte();
        value |= quint32(b & 0x7F) << shift;
        if (!(b & 0x80))
            break;
    }
    return value;
}

QByteArray Input::bytes(qsizetype count) {
    const size_t n = std::min(size_ - std::min(pos_, size_), size_t(std::max<qsizetype>(0, count)));
    QByteArray out(reinterpret_cast<const char *>(data_ + pos_), qsizetype(n));
    pos_ += n;
    return out;
}

qint64 readGapNs(Input &in) {
    static constexpr qint64 kUnits[] = {FakeComm::kUs, 100 * FakeComm::kUs, 10 * FakeComm::kMs,
                                        100 * FakeComm::kMs};
    const quint32 v = in.varint();
    return std::min(qint64(v >> 2) * kUnits[v & 3], 8 * FakeComm::kSec);
}

QByteArray patternBytes(qsizetype count, quint8 value, bool varied) {
    QByteArray out(count, char(value));
    if (varied) {
        quint32 x = 0x9E3779B9u ^ value;
        for (char &c : out) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = char(x & 0xFF);
        }
    }
    return out;
}

QByteArray Schedule::streamAfter(qint64 afterNs) const {
    QByteArray out;
    for (const Arrival &a : arrivals)
        if (a.timeNs > afterNs)
            out += a.bytes;
    return out;
}

void Schedule::patchByte(qint64 index, quint8 value) {
    for (Arrival &a : arrivals) {
        if (index < a.bytes.size()) {
            a.bytes[qsizetype(index)] = char(value);
            return;
        }
        index -= a.bytes.size();
    }
}

Schedule readSchedule(Input &in, qint64 startNs) {
    Schedule s;
    qint64 t = startNs;
    auto add = [&s, &t](const QByteArray &bytes) {
        const qint64 room = kMaxStreamBytes - s.totalBytes;
        if (bytes.isEmpty() || room <= 0)
            return;
        s.arrivals.append({t, bytes.left(qsizetype(room))});
        s.totalBytes += s.arrivals.last().bytes.size();
    };
    while (!in.atEnd()) {
        const quint8 op = in.byte() % 8;
        t += readGapNs(in);
        switch (op) {
        case 0:
        case 1:
        case 2:
            add(in.bytes(1 + in.byte() % 16));
            break;
        case 3: {
            const qsizetype count = qsizetype(1 + in.below(kMaxRun));
            const quint8 value = in.byte();
            const quint8 shape = in.byte();
            const qsizetype chunk = shape >> 1; // 0: the whole run at once
            const qint64 spacing = chunk > 0 ? readGapNs(in) : 0;
            const QByteArray run = patternBytes(
                std::min<qint64>(count, kMaxStreamBytes - s.totalBytes), value, shape & 1);
            if (chunk == 0) {
                add(run);
                break;
            }
            for (qsizetype at = 0; at < run.size(); at += chunk) {
                if (at > 0)
                    t += spacing;
                add(run.mid(at, chunk));
            }
            break;
        }
        case 4:
            if (!s.loseAtNs)
                s.loseAtNs = t;
            break;
        case 5:
            if (!s.stopAtNs)
                s.stopAtNs = t;
            break;
        case 6:
            if (!s.stallAtNs)
                s.stallAtNs = t;
            break;
        default: // a pause
            break;
        }
    }
    s.lastNs = t;
    return s;
}

void load(FakeComm &fake, const Schedule &schedule) {
    for (const Schedule::Arrival &a : schedule.arrivals)
        fake.deliverAt(a.timeNs, a.bytes);
    fake.loseAtNs = schedule.loseAtNs;
    fake.stallAtNs = schedule.stallAtNs;
}

void makeLean(RecordingView &view) {
    view.keepLog = false;
    view.configStatus = view.fileStatus = kUnset;
}

void expectImageSound(const ConfigImage &image, bool ownedArray) {
    FUZZ_EXPECT(image.ConfigLength >= 0);
    FUZZ_EXPECT(image.ConfigLength == 0 || image.ConfigLength <= image.ConfigData.size() - 1);
    FUZZ_EXPECT(image.ControllerType >= 0 && image.ControllerType <= 2);
    if (image.ConfigData.isEmpty())
        return;
    FUZZ_EXPECT(image.ConfigData.at(0) == 0);
    if (ownedArray)
        FUZZ_EXPECT(image.ConfigData.constData()[image.ConfigData.size()] == 0);
}

} // namespace fuzz
