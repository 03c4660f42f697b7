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
    rx_.clear();
    rxHead_ = 0;
}

qsizetype FakeComm::pending() const {
    qsizetype n = 0;
    for (const Arrival &a : arrivals_)
        n += a.bytes.size() - a.taken;
    return n;
}

QStringList FakeComm::lastSetUp() const {
    qsizetype end = props.size();
    while (end > 0 && props.at(end - 1) != QLatin1String("PortOpen=1"))
        --end;
    qsizetype begin = end > 0 ? end - 1 : 0;
    while (begin > 0 && !props.at(begin - 1).startsWith(QLatin1String("PortOpen=")))
        --begin;
    return props.mid(begin, end - begin);
}

qsizetype FakeComm::room() const {
    const qsizetype capacity = inBufferSize > 0 ? inBufferSize : 1024;
    return std::max<qsizetype>(0, capacity - waiting());
}

void FakeComm::deliverDue() {
    if (!portOpen()) {
        dropDue();
        return;
    }
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

void FakeComm::setCommPort(qint16 port) {
    commPort = port;
    props << QStringLiteral("CommPort=%1").arg(port);
}

void FakeComm::setSettings(const QString &value) {
    settings = value;
    props << QStringLiteral("Settings=") + value;
}

void FakeComm::setRTSEnable(bool on) {
    rtsEnable = on;
    props << QStringLiteral("RTSEnable=%1").arg(on ? 1 : 0);
}

void FakeComm::setHandshaking(qint32 mode) {
    handshaking = mode;
    props << QStringLiteral("Handshaking=%1").arg(mode);
}

void FakeComm::setInBufferSize(qint16 size) {
    inBufferSize = size;
    props << QStringLiteral("InBufferSize=%1").arg(size);
}

void FakeComm::setInBufferCount(qint16 count) {
    props << QStringLiteral("InBufferCount=%1").arg(count);
    if (count == 0) {
        rx_.clear();
        rxHead_ = 0;
    }
}

void FakeComm::setInputLen(qint16 len) {
    inputLen = len;
    props << QStringLiteral("InputLen=%1").arg(len);
}

void FakeComm::setInputMode(qint32 mode) {
    inputMode = mode;
    props << QStringLiteral("InputMode=%1").arg(mode);
}

bool FakeComm::setPortOpen(bool open) {
    props << QStringLiteral("PortOpen=%1").arg(open ? 1 : 0);
    if (!open) {
        open_ = false;
        rx_.clear();
        rxHead_ = 0;
        dropDue();
        // A controller part-way through a block held back by flow control gives it up.
        if (!arrivals_.empty() && arrivals_.front().taken > 0)
            arrivals_.pop_front();
        return true;
    }
    if (failOpen || lost_) {
        openError_ = lost_ ? QStringLiteral("No such file or directory") : failReason;
        open_ = false;
        return false;
    }
    openError_.clear();
    open_ = true;
    rx_.clear();
    rxHead_ = 0;
    dropDue();
    return true;
}

QString FakeComm::deviceName() const {
    return commPort >= 1 ? QStringLiteral("/dev/ttyS%1").arg(commPort - 1) : QString();
}

qint16 FakeComm::InBufferCount() {
    return portOpen() ? qint16(waiting()) : qint16(0);
}

bool FakeComm::Output(const QByteArray &bytes) {
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
    now_ = std::max(now_, until);
    ++idles;
    deliverDue();
    if (onTick)
        onTick();
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

// ---- first generation

void FirstGenController::attach(FakeComm &fake) {
    fake.onOutput = [this, &fake](const QByteArray &bytes) { receive(fake, bytes); };
}

void FirstGenController::sendNext(FakeComm &fake) {
    if (sent_ < image.size()) {
        if (sendOnly >= 0 && sent_ >= sendOnly) {
            state_ = State::Idle;
            return;
        }
        fake.deliverAfter(replyDelayNs, image.mid(sent_, 1));
        ++sent_;
        return;
    }
    state_ = State::Idle;
    if (sendChecksum)
        fake.deliverAfter(replyDelayNs,
                          QByteArray(1, char(checksumOverride.value_or(xorOf(image)))));
}

void FirstGenController::receive(FakeComm &fake, const QByteArray &bytes) {
    for (char c : bytes) {
        switch (state_) {
        case State::Idle:
            if (c == 'B') {
                fake.deliverAfter(replyDelayNs,
                                  probeReply.value_or(littleEndian32(quint32(image.size()))));
                state_ = State::AwaitU;
            } else if (c == 'R') {
                lengthBytes_.clear();
                state_ = State::Length;
            }
            break;
        case State::AwaitU:
            if (c == 'U') {
                sent_ = 0;
                state_ = State::Uploading;
                sendNext(fake);
            }
            break;
        case State::Uploading:
            if (c == 'A') {
                ++acks;
                sendNext(fake);
            }
            break;
        case State::Length:
            lengthBytes_.append(c);
            if (lengthBytes_.size() == 4) {
                quint32 n = 0;
                for (int i = 0; i < 4; ++i)
                    n |= quint32(quint8(lengthBytes_.at(i))) << (8 * i);
                announced = n;
                received.clear();
                fake.deliverAfter(readyDelayNs, readyReply);
                state_ = n > 0 ? State::Image : State::Idle;
            }
            break;
        case State::Image:
            received.append(c);
            if (received.size() == qsizetype(*announced)) {
                state_ = State::Idle;
                if (answerChecksum)
                    fake.deliverAfter(
                        replyDelayNs,
                        QByteArray(1, char(checksumReplyOverride.value_or(xorOf(received)))));
            }
            break;
        }
    }
}

// ---- second generation

void SecondGenController::attach(FakeComm &fake) {
    fake.onOutput = [this, &fake](const QByteArray &bytes) { receive(fake, bytes); };
}

void SecondGenController::receive(FakeComm &fake, const QByteArray &bytes) {
    for (char c : bytes) {
        if (state_ == State::Image) {
            if (received.size() < image.size()) {
                received.append(c);
                continue;
            }
            checksum = quint8(c);
            state_ = State::Idle;
            if (answerVerdict) {
                const char verdict = *checksum == xorOf(received) ? 'Y' : 'N';
                fake.deliverAfter(replyDelayNs, QByteArray(1, verdictOverride.value_or(verdict)));
            }
            continue;
        }
        if (!sawAt_) {
            sawAt_ = c == '@';
            continue;
        }
        sawAt_ = false;
        if (c == '?') {
            QByteArray stream = image + trailing;
            if (streamLength >= 0)
                stream.truncate(streamLength);
            if (byteGapNs <= 0) {
                fake.deliverAfter(replyDelayNs, stream);
            } else {
                for (qsizetype i = 0; i < stream.size(); ++i)
                    fake.deliverAfter(replyDelayNs + i * byteGapNs, stream.mid(i, 1));
            }
        } else if (c == 'M') {
            ++menuRequests;
            fake.deliverAfter(replyDelayNs, menuAnswer);
        } else if (c == '!') {
            received.clear();
            checksum.reset();
            state_ = State::Image;
        }
    }
}
