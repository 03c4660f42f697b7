#include "memorycontroller.h"

#include "configimage.h"
#include "harness.h"

MemoryController::MemoryController(int generation, const QByteArray &image)
    : generation_(generation), image_(image) {}

bool MemoryController::setPortOpen(bool open) {
    open_ = open;
    dropInput();
    if (!open && state_ != State::Receive)
        state_ = State::Idle;
    return true;
}

void MemoryController::dropInput() {
    rx_.clear();
    rxHead_ = 0;
}

qint16 MemoryController::InBufferCount() {
    return qint16(qMin<qsizetype>(rx_.size() - rxHead_, 32767));
}

QByteArray MemoryController::Input() {
    if (rxHead_ >= rx_.size())
        return {};
    lastInputNs_ = bench::monoNs();
    return QByteArray(1, rx_.at(rxHead_++));
}

qint64 MemoryController::nowNs() {
    return bench::monoNs() + offsetNs_;
}

void MemoryController::idleUntil(qint64 deadlineNs) {
    const qint64 now = nowNs();
    if (deadlineNs > now)
        offsetNs_ += deadlineNs - now;
}

bool MemoryController::Output(const QByteArray &bytes) {
    if (!open_)
        return false;
    // The clock starts at the first command this generation answers: the probe that a
    // second-generation controller ignores is a fixed wait, not work.
    const bool opening =
        generation_ == 1 ? bytes == "B" || bytes == "R" : bytes == "@?" || bytes == "@M";
    if (startNs_ < 0 && state_ == State::Idle && opening) {
        startNs_ = bench::monoNs();
        startCommand_ = bytes;
    }
    for (const char byte : bytes) {
        if (state_ == State::Receive)
            receive(byte);
        else
            step(byte);
    }
    return true;
}

void MemoryController::step(char byte) {
    switch (state_) {
    case State::Idle:
        if (byte == 'B' && generation_ == 1) {
            const quint32 n = quint32(image_.size());
            for (int shift = 0; shift < 32; shift += 8)
                reply(char(n >> shift));
            state_ = State::WaitU;
        } else if (byte == 'R') {
            state_ = State::Length;
            announced_ = 0;
            lengthBytes_ = 0;
        } else if (byte == '@') {
            state_ = State::At;
        }
        break;
    case State::At:
        state_ = State::Idle;
        if (generation_ != 2)
            break;
        if (byte == '?') {
            rx_.append(image_);
            reply('\0'); // the stream runs on past the image
        } else if (byte == 'M') {
            reply('K');
        } else if (byte == '!') {
            expected_ = kSecondGenerationLength;
            checksumFollows_ = true;
            received_.clear();
            receivedSum_ = 0;
            state_ = State::Receive;
        }
        break;
    case State::Length:
        announced_ |= quint32(quint8(byte)) << (8 * lengthBytes_);
        if (++lengthBytes_ < 4)
            break;
        state_ = State::Idle;
        if (generation_ == 1) {
            reply('U');
            expected_ = announced_;
            checksumFollows_ = false;
            received_.clear();
            receivedSum_ = 0;
            state_ = State::Receive;
        }
        break;
    case State::WaitU:
        if (byte == 'U') {
            uploaded_ = 0;
            uploadSum_ = 0;
            state_ = State::WaitA;
            sendNextUploadByte();
        }
        break;
    case State::WaitA:
        if (byte == 'A')
            sendNextUploadByte();
        break;
    case State::Receive:
        break;
    }
}

void MemoryController::sendNextUploadByte() {
    if (uploaded_ < image_.size()) {
        const char byte = image_.at(uploaded_++);
        uploadSum_ ^= quint8(byte);
        reply(byte);
        return;
    }
    reply(char(uploadSum_));
    state_ = State::Idle;
}

void MemoryController::receive(char byte) {
    if (received_.size() < expected_) {
        received_.append(byte);
        receivedSum_ ^= quint8(byte);
        if (received_.size() == expected_ && !checksumFollows_) {
            reply(char(receivedSum_));
            state_ = State::Idle;
        }
        return;
    }
    reply(quint8(byte) == receivedSum_ ? 'Y' : 'N');
    state_ = State::Idle;
}
