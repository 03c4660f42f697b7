#include "fakecomm.h"

#include <QRandomGenerator>

void FakeComm::applyEvents() {
    if (loseAtNs && now_ >= *loseAtNs && !lost_)
        loseDevice();
    stallOutput = stallOutput || (stallAtNs && now_ >= *stallAtNs);
}

void FakeComm::tick(qint64 to, qint64 &counter) {
    now_ = std::max(now_, to);
    ++counter;
    applyEvents();
    // Beyond the receive buffer's size the controller is held back, as by RTS/CTS.
    for (auto due = arrivals_.begin(); due != arrivals_.end() && due->first <= now_;) {
        const qsizetype n = portOpen() ? qMin(inBufferSize - rx_.size(), due->second.size()) : 0;
        rx_ += due->second.left(n);
        if (portOpen() && n < due->second.size())
            return due->second.remove(0, n), onTick ? onTick() : void();
        due = arrivals_.erase(due);
    }
    if (onTick)
        onTick();
}

void FakeComm::idleUntil(qint64 deadlineNs) {
    qint64 until = deadlineNs;
    if (!arrivals_.empty() && portOpen() && rx_.size() < inBufferSize)
        until = std::min(until, arrivals_.begin()->first);
    for (const std::optional<qint64> &event : {loseAtNs, stallAtNs})
        if (event && *event > now_)
            until = std::min(until, *event);
    tick(until + idleOvershootNs, idles);
}

bool FakeComm::setPortOpen(bool open) {
    applyEvents();
    rx_.clear();
    arrivals_.erase(arrivals_.begin(), arrivals_.upper_bound(now_)); // due while closed: lost
    closings += open ? 0 : 1;
    if (!open || (++openings != failOpening && !lost_))
        return openError_.clear(), open_ = open, true;
    openError_ =
        lost_ ? QStringLiteral("No such file or directory") : QStringLiteral("Permission denied");
    return open_ = false;
}

qint16 FakeComm::InBufferCount() {
    // A loss noticed while counting leaves the count stale, as between two real calls.
    const qint16 count = portOpen() ? qint16(rx_.size()) : qint16(0);
    applyEvents();
    return count;
}

bool FakeComm::Output(const QByteArray &bytes) {
    applyEvents();
    if (stallOutput && portOpen() && whileStalled)
        whileStalled();
    if (!portOpen() || stallOutput)
        return ++refusedOutputs, false;
    writes.append(Write{now_, bytes, settings});
    written.append(bytes);
    if (onOutput)
        onOutput(bytes);
    return true;
}

QByteArray FakeComm::Input() {
    applyEvents();
    const QByteArray out = portOpen() ? rx_.left(inputLen > 0 ? inputLen : rx_.size()) : "";
    rx_.remove(0, out.size());
    return out;
}

SimLink::SimLink(FakeComm &fake, const QStringList &args, const QByteArray &bytes) : fake_(fake) {
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
