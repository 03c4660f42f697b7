#include "fuzzcommon.h"

#include <cstdio>
#include <cstdlib>

namespace fuzz {

namespace {
void abortOnFailure(const char *what, const char *file, int line) {
    std::fprintf(stderr, "invariant broken: %s (%s:%d)\n", what, file, line);
    std::abort();
}
FailureHandler failureHandler = abortOnFailure;
// A longer controller stream adds nothing that 2^19 bytes (two second-generation images) can't.
constexpr qint64 kMaxStreamBytes = qint64(1) << 19;

// At most 8 s: a small number in units of 1 us, 100 us, 10 ms or 100 ms.
qint64 readGapNs(Input &in) {
    static constexpr qint64 kUnits[] = {1, 100, 10'000, 100'000};
    const quint32 v = in.varint();
    return std::min(qint64(v >> 2) * kUnits[v & 3] * FakeComm::kUs, 8 * FakeComm::kSec);
}
} // namespace

void setFailureHandler(FailureHandler handler) {
    failureHandler = handler ? handler : abortOnFailure;
}
void fail(const char *what, const char *file, int line) {
    failureHandler(what, file, line);
}

quint32 Input::varint() {
    quint32 value = 0;
    for (int shift = 0, more = 1; shift < 35 && more;
         shift += 7, more = pos_ > 0 && data_[pos_ - 1] & 0x80)
        value |= quint32(byte() & 0x7F) << shift;
    return value;
}

QByteArray Input::bytes(qsizetype count) {
    const size_t n = std::min(size_ - std::min(pos_, size_), size_t(std::max<qsizetype>(0, count)));
    QByteArray out(reinterpret_cast<const char *>(data_ + pos_), qsizetype(n));
    pos_ += n;
    return out;
}

QByteArray patternBytes(qsizetype count, quint8 value, bool varied) {
    QByteArray out(count, char(value));
    for (quint32 x = 0x9E3779B9u ^ value; char &c : out)
        if (varied)
            x ^= x << 13, x ^= x >> 17, x ^= x << 5, c = char(x & 0xFF);
    return out;
}

ConfigImage heldImage(quint8 shape) {
    ConfigImage image;
    if (shape % 8 > 0) {
        image.ConfigData = QByteArray(1, '\0') + patternBytes(shape % 8 - 1, shape);
        image.ConfigLength = qint32((shape >> 3) % (shape % 8));
    }
    return image;
}

Run::Run(Input &in, int portShift) : setup(in.byte()) {
    fake.stepNs = (1 + in.byte()) * FakeComm::kUs;
    fake.failOpening = setup & 3;
    view.keepLog = false;
    view.configStatus = view.fileStatus = QStringLiteral("<unset>");
    view.selectedPort = qint16((setup >> portShift) % 6);
}

void Run::play(Input &in, qint64 extraTicks, const std::function<void()> &edit) {
    qint64 t = kStartNs, total = 0;
    std::optional<qint64> stopAt;
    auto add = [&](const QByteArray &bytes) {
        if (!bytes.isEmpty() && total < kMaxStreamBytes)
            arrivals.append({t, bytes.left(qsizetype(kMaxStreamBytes - total))});
        total += bytes.size();
    };
    for (quint8 op; !in.atEnd();) {
        op = in.byte() % 8;
        t += readGapNs(in);
        if (op <= 2) {
            add(in.bytes(1 + in.byte() % 16));
        } else if (op == 3) { // a run, at once or in chunks
            const qsizetype count = qsizetype(1 + in.below(1u << 18));
            const quint8 value = in.byte(), shape = in.byte();
            const qint64 spacing = shape >> 1 ? readGapNs(in) : 0;
            const QByteArray run = patternBytes(qMin(count, kMaxStreamBytes), value, shape & 1);
            for (qsizetype at = 0, chunk = shape >> 1 ? shape >> 1 : run.size(); at < run.size();
                 at += chunk)
                t += at > 0 ? spacing : 0, add(run.mid(at, chunk));
        } else if (op < 7) {
            std::optional<qint64> &event = op == 4   ? fake.loseAtNs
                                           : op == 5 ? stopAt
                                                     : fake.stallAtNs;
            event = event.value_or(t);
        }
    }
    if (edit)
        edit();
    for (const auto &[at, bytes] : arrivals)
        fake.deliverAt(at, bytes);
    const qint64 tickBudget = 1000 + extraTicks + 8 * (total + arrivals.size());
    const qint64 timeBudget = t + 30 * FakeComm::kSec + tickBudget * fake.stepNs;
    fake.onTick = [this, stopAt, tickBudget, timeBudget, ticks = qint64(0),
                   over = false]() mutable {
        if (stopAt && fake.nowNs() >= *stopAt && !view.stop) {
            view.stop = true;
            writtenAtStop = fake.written.size();
            refusedAtStop = fake.refusedOutputs;
        }
        if (!over && (++ticks > tickBudget || fake.nowNs() > timeBudget)) {
            over = true;
            fail("ran past its time budget", __FILE__, __LINE__);
            view.stop = true; // ends any wait, so the run still finishes
        }
    };
}

void Run::checkEnd() {
    FUZZ_EXPECT(!fake.portOpen());
    if (view.stopSeen) {
        FUZZ_EXPECT(view.callsAfterStop == 0);
        FUZZ_EXPECT(fake.written.size() == writtenAtStop && fake.refusedOutputs == refusedAtStop);
    } else {
        FUZZ_EXPECT(view.lastWasIdle && view.warnings.size() <= 1 && view.progressValue == 0);
    }
}

void expectImageSound(const ConfigImage &image, bool ownedArray) {
    FUZZ_EXPECT(image.ConfigLength >= 0 && image.ControllerType >= 0 && image.ControllerType <= 2);
    FUZZ_EXPECT(image.ConfigLength == 0 || image.ConfigLength <= image.ConfigData.size() - 1);
    if (!image.ConfigData.isEmpty())
        FUZZ_EXPECT(image.ConfigData.at(0) == 0 &&
                    (!ownedArray || image.ConfigData.constData()[image.ConfigData.size()] == 0));
}

QByteArray Run::streamAfterStart() const {
    QByteArray out;
    for (const auto &[at, bytes] : arrivals)
        out += at > kStartNs ? bytes : QByteArray();
    return out;
}

void Run::patchByte(qint64 index, quint8 value) {
    for (auto &[at, bytes] : arrivals) {
        if (index < bytes.size())
            return void(bytes[qsizetype(index)] = char(value));
        index -= bytes.size();
    }
}

} // namespace fuzz
