#include "fakecomm.h"

#include <QRandomGenerator>

#include <algorithm>

void FakeComm::deliverAt(qint64 timeNs, const QByteArray &bytes) {
    if (bytes.isEmpty())
        return;
    auto at = std::upper_bound(arrivals_.begin(), arrivals_.end(), timeNs,
                               [](qint64 t, const Arrival &a) { return t < a.timeNs; });
    arrivals_.insert(at, Arrival{timeNs, bytes});
}

void FakeComm::loseDevice() {
    lost_ = true;
    arrivals_.clear();
    clearRx();
}

void FakeComm::applyEvents() {
    if (loseAtNs && now_ >= *loseAtNs && !lost_)
        loseDevice();
    if (stallAtNs && now_ >= *stallAtNs)
        stallOutput = true;
}

void FakeComm::clearRx() {
    rx_.clear();
    rxHead_ = 0;
}

qsizetype FakeComm::room() const {
    return std::max<qsizetype>(0, (inBufferSize > 0 ? inBufferSize : 1024) - waiting());
}

void FakeComm::deliverDue() {
    applyEvents();
    if (!portOpen())
        return dropDue();
    while (!arrivals_.empty() && arrivals_.front().timeNs <= now_) {
        Arrival &a = arrivals_.front();
        const qsizetype n = std::min(room(), a.bytes.size() - a.taken);
        if (n == 0)
            return; // held back until the program reads
        if (rxHead_ > 4096 && rxHead_ * 2 > rx_.size()) {
            rx_.remove(0, rxHead_);
            rxHead_ = 0;
        }
        rx_.append(a.bytes.constData() + a.taken, n);
        a.taken += n;
        if (a.taken == a.bytes.size())
            arrivals_.pop_front();
    }
}

void FakeComm::dropDue() {
    while (!arrivals_.empty() && arrivals_.front().timeNs <= now_)
        arrivals_.pop_front();
}

void FakeComm::setSettings(const QString &value) {
    settings = value;
    props << QStringLiteral("Settings=") + value;
}

void FakeComm::setInBufferCount(qint16 count) {
    if (count == 0)
        clearRx();
}

bool FakeComm::setPortOpen(bool open) {
    applyEvents();
    props << QStringLiteral("PortOpen=%1").arg(open ? 1 : 0);
    clearRx();
    if (!open) {
        open_ = false;
        dropDue();
        // A controller part-way through a block held back by flow control gives it up.
        if (!arrivals_.empty() && arrivals_.front().taken > 0)
            arrivals_.pop_front();
        return true;
    }
    ++openings;
    if (failOpen || lost_ || openings == failOpening) {
        openError_ = lost_ ? QStringLiteral("No such file or directory")
                           : QStringLiteral("Permission denied");
        return open_ = false;
    }
    openError_.clear();
    open_ = true;
    dropDue();
    return true;
}

QString FakeComm::deviceName() const {
    return commPort >= 1 ? QStringLiteral("/dev/ttyS%1").arg(commPort - 1) : QString();
}

qint16 FakeComm::InBufferCount() {
    // A loss noticed while counting leaves the count stale, as between two real calls.
    const qint16 count = portOpen() ? qint16(waiting()) : qint16(0);
    applyEvents();
    return count;
}

bool FakeComm::Output(const QByteArray &bytes) {
    applyEvents();
    if (!portOpen() || stallOutput) {
        ++refusedOutputs;
        return false;
    }
    writes.append(Write{now_, bytes, settings});
    written.append(bytes);
    if (onOutput)
        onOutput(bytes);
    return true;
}

QByteArray FakeComm::Input() {
    applyEvents();
    if (!portOpen())
        return {};
    const qsizetype n = inputLen > 0 ? std::min<qsizetype>(inputLen, waiting()) : waiting();
    QByteArray out(rx_.constData() + rxHead_, n);
    rxHead_ += n;
    return out;
}

void FakeComm::yieldOnce() {
    now_ += stepNs;
    ++yields;
    deliverDue();
    if (onTick)
        onTick();
}

void FakeComm::idleUntil(qint64 deadlineNs) {
    qint64 until = deadlineNs;
    if (!arrivals_.empty() && portOpen() && room() > 0)
        until = std::min(until, arrivals_.front().timeNs);
    for (const std::optional<qint64> &event : {loseAtNs, stallAtNs})
        if (event && *event > now_)
            until = std::min(until, *event);
    now_ = std::max(now_, until);
    ++idles;
    deliverDue();
    if (onTick)
        onTick();
}

SimLink::SimLink(FakeComm &fake, const QStringList &args, const QByteArray &bytes) : fake_(fake) {
    std::vector<std::string> list;
    for (const QString &arg : args)
        list.push_back(arg.toStdString());
    sim::ParseResult parsed = sim::parseOptions(list);
    Q_ASSERT_X(parsed.error.empty(), "SimLink", parsed.error.c_str());
    options_ = parsed.options;
    std::vector<std::uint8_t> served(bytes.begin(), bytes.end());
    std::string error;
    if (bytes.isEmpty() && !sim::loadImage(options_, served, error))
        qFatal("SimLink: %s", error.c_str());
    image = QByteArray(reinterpret_cast<const char *>(served.data()), qsizetype(served.size()));
    controller_.emplace(options_, std::move(served), *this);
    fake.onOutput = [this](const QByteArray &out) {
        controller_->feed(reinterpret_cast<const std::uint8_t *>(out.constData()),
                          std::size_t(out.size()));
    };
}

void SimLink::send(const std::uint8_t *data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    qint64 at = qMax(fake_.nowNs() + replyDelayNs, lastAt_);
    if (byteGapNs == 0) {
        fake_.deliverAt(lastAt_ = at, bytes);
        return;
    }
    for (char c : bytes) {
        fake_.deliverAt(at, QByteArray(1, c));
        lastAt_ = at;
        at += byteGapNs;
    }
}

void SimLink::storeImage(const std::vector<std::uint8_t> &bytes) {
    received = QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
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
