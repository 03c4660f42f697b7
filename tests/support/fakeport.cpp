#include "fakeport.h"

#include <QRandomGenerator>

void FakePort::applyEvents() {
    if (loseAtNs && now_ >= *loseAtNs && !lost_)
        loseDevice();
    stallOutput = stallOutput || (stallAtNs && now_ >= *stallAtNs);
}

void FakePort::tick(qint64 to) {
    now_ = std::max(now_, to);
    applyEvents();
    // Beyond the receive buffer's size the controller is held back, as by RTS/CTS.
    for (auto due = arrivals_.begin(); due != arrivals_.end() && due->first <= now_;) {
        const qsizetype n = isOpen() ? qMin(inBufferSize - rx_.size(), due->second.size()) : 0;
        rx_ += due->second.left(n);
        if (isOpen() && n < due->second.size()) {
            due->second.remove(0, n);
            break;
        }
        due = arrivals_.erase(due);
    }
    if (onTick)
        onTick();
}

void FakePort::waitForBytes(qint64 timeoutNs) {
    ++waits;
    if (stopRequested())
        return;
    qint64 until = now_ + timeoutNs;
    if (!arrivals_.empty() && isOpen() && rx_.size() < inBufferSize)
        until = std::min(until, arrivals_.begin()->first);
    for (const std::optional<qint64> &event : {loseAtNs, stallAtNs})
        if (event && *event > now_)
            until = std::min(until, *event);
    tick(until + idleOvershootNs);
}

void FakePort::sleepUntil(qint64 deadlineNs, const StopToken &stop) {
    ++sleeps;
    if (!stop.requested())
        tick(deadlineNs + idleOvershootNs);
}

void FakePort::dropDue() {
    applyEvents();
    rx_.clear();
    arrivals_.erase(arrivals_.begin(), arrivals_.upper_bound(now_));
}

bool FakePort::open(const QString &name, const LineSettings &line, FlowControl) {
    dropDue();
    device = name;
    settings_ = line.text();
    ++openings;
    open_ = !name.isEmpty() && openings != failOpening && !lost_;
    openError_ = open_            ? QString()
                 : name.isEmpty() ? QStringLiteral("no port selected")
                 : lost_          ? QStringLiteral("No such file or directory")
                                  : QStringLiteral("Permission denied");
    openFailure_ = open_            ? OpenFailure::None
                   : name.isEmpty() ? OpenFailure::NoPort
                   : lost_          ? OpenFailure::Missing
                                    : OpenFailure::Other;
    return open_;
}

void FakePort::close(bool dropUnsent) {
    dropDue();
    if (!open_)
        return;
    if (dropUnsent)
        ++discards, discardedAt = closings;
    ++closings;
    open_ = false;
}

qint64 FakePort::bytesWaiting() {
    // A loss noticed while counting leaves the count stale, as between two real calls.
    const qint64 count = isOpen() ? rx_.size() : 0;
    applyEvents();
    return count;
}

bool FakePort::write(const QByteArray &bytes) {
    applyEvents();
    if (stallOutput && isOpen() && whileStalled)
        whileStalled();
    if (!isOpen() || stallOutput || stopRequested())
        return ++refusedWrites, false;
    writes.append(Write{now_, bytes, settings_});
    written.append(bytes);
    if (onOutput)
        onOutput(bytes);
    return true;
}

QByteArray FakePort::read(qint64 max) {
    applyEvents();
    const QByteArray out = isOpen() ? rx_.left(max) : QByteArray();
    rx_.remove(0, out.size());
    return out;
}

SimLink::SimLink(FakePort &fake, const QStringList &args, const QByteArray &bytes) : fake_(fake) {
    std::vector<std::string> list;
    for (const QString &arg : args)
        list.push_back(arg.toStdString());
    const sim::ParseResult parsed = sim::parseOptions(list);
    std::vector<std::uint8_t> served(bytes.begin(), bytes.end());
    std::string error;
    if (!parsed.error.empty() ||
        (bytes.isEmpty() && !sim::loadImage(parsed.options, served, error)))
        qFatal("SimLink: %s%s", parsed.error.c_str(), error.c_str());
    image = QByteArray(reinterpret_cast<const char *>(served.data()), qsizetype(served.size()));
    options_ = parsed.options;
    controller_.emplace(options_, std::move(served), *this);
    fake.onOutput = [this](const QByteArray &out) {
        controller_->feed(reinterpret_cast<const std::uint8_t *>(out.constData()),
                          std::size_t(out.size()));
    };
}

void SimLink::send(const std::uint8_t *data, std::size_t size) {
    qint64 at = qMax(fake_.nowNs() + replyDelayNs, lastAt_);
    for (std::size_t i = 0; i < size; at += byteGapNs) {
        const std::size_t n = byteGapNs == 0 ? size : 1; // all at once, or paced byte by byte
        fake_.deliverAt(lastAt_ = at,
                        QByteArray(reinterpret_cast<const char *>(data + i), qsizetype(n)));
        i += n;
    }
}

quint8 xorOf(const QByteArray &bytes) {
    quint8 x = 0;
    for (char c : bytes)
        x ^= quint8(c);
    return x;
}

QByteArray littleEndian32(quint32 n) {
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = char((n >> (8 * i)) & 0xFF);
    return out;
}

QByteArray randomBytes(qsizetype n, quint32 seed) {
    QByteArray out(n, '\0');
    QRandomGenerator rng{seed};
    for (char &c : out)
        c = char(rng.bounded(256));
    return out;
}
