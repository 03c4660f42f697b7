#include "fuzzcommon.h"

// A longer controller stream adds nothing that 2^19 bytes (two second-generation images) can't.
constexpr qint64 kMaxStreamBytes = qint64(1) << 19;

// At most 8 s: a small number in units of 1 us, 100 us, 10 ms or 100 ms.
static qint64 readGapNs(Input &in) {
    static constexpr qint64 kUnits[] = {1, 100, 10'000, 100'000};
    const quint32 v = in.varint();
    return std::min(qint64(v >> 2) * kUnits[v & 3] * FakePort::kUs, 8 * FakePort::kSec);
}

quint32 Input::varint() {
    quint32 value = 0;
    for (int shift = 0, more = 1; shift < 35 && more;
         shift += 7, more = pos > 0 && data[pos - 1] & 0x80)
        value |= quint32(byte() & 0x7F) << shift;
    return value;
}

QByteArray patternBytes(qsizetype count, quint8 value, bool varied) {
    QByteArray out(count, char(value));
    for (quint32 x = 0x9E3779B9u ^ value; char &c : out)
        if (varied)
            x ^= x << 13, x ^= x >> 17, x ^= x << 5, c = char(x & 0xFF);
    return out;
}

HeldImage heldImage(quint8 shape, Generation generation) {
    HeldImage image;
    image.bytes = patternBytes(shape % 8, shape);
    image.generation = generation;
    image.unsavedBackup = shape & 8;
    return image;
}

bool sameImage(const HeldImage &image, const HeldImage &before) {
    return image.bytes.constData() == before.bytes.constData() && image.bytes == before.bytes &&
           image.generation == before.generation && image.unsavedBackup == before.unsavedBackup;
}

void Run::play(Input &in, qint64 extraTicks, const std::function<void()> &edit) {
    qint64 t = kStartNs, total = 0;
    QList<std::pair<qint64, QByteArray>> arrivals;
    std::optional<qint64> stopAt, *events[] = {&fake.loseAtNs, &stopAt, &fake.stallAtNs};
    auto add = [&](const QByteArray &bytes) {
        if (!bytes.isEmpty() && total < kMaxStreamBytes) {
            arrivals.append({t, bytes.left(qsizetype(kMaxStreamBytes - total))});
            stream += t > kStartNs ? arrivals.last().second : QByteArray();
        }
        total += bytes.size();
    };
    while (!in.atEnd()) {
        const quint8 op = in.byte() % 8;
        t += readGapNs(in);
        if (op <= 2) {
            add(in.bytes(1 + in.byte() % 16));
        } else if (op == 3) { // a run, at once or in chunks
            const qsizetype count = qsizetype(1 + in.varint() % (1u << 18));
            const quint8 value = in.byte(), shape = in.byte();
            const qint64 spacing = shape >> 1 ? readGapNs(in) : 0;
            const QByteArray run = patternBytes(count, value, shape & 1);
            for (qsizetype at = 0, chunk = shape >> 1 ? shape >> 1 : count; at < count; at += chunk)
                t += at > 0 ? spacing : 0, add(run.mid(at, chunk));
        } else if (op < 7) {
            *events[op - 4] = events[op - 4]->value_or(t);
        }
    }
    edit();
    for (qsizetype from = 0; auto &[at, bytes] : arrivals) { // `stream` as `edit` left it
        if (at > kStartNs)
            bytes = stream.mid(std::exchange(from, from + bytes.size()), bytes.size());
        fake.deliverAt(at, bytes);
    }
    const qint64 tickBudget = 1000 + extraTicks + 8 * (total + arrivals.size());
    const qint64 timeBudget = t + 30 * FakePort::kSec + tickBudget * fake.idleOvershootNs;
    // Naps of a trickling stream advance time by themselves: only the waits count as ticks.
    fake.onTick = [this, stopAt, tickBudget, timeBudget, over = false]() mutable {
        if (stopAt && fake.nowNs() >= *stopAt && !stop.requested())
            stop.request(), outputsAtStop = fake.written.size() + fake.refusedWrites;
        if (!over && (fake.waits > tickBudget || fake.nowNs() > timeBudget)) // stopping ends waits
            fuzzFail("ran past its time budget", __FILE__, __LINE__), stop.request(), over = true;
    };
}
