#include "sim_controller.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {

std::string hexByte(std::uint8_t byte) {
    char text[3];
    std::snprintf(text, sizeof text, "%02X", unsigned(byte));
    return text;
}

} // namespace

Controller::Controller(const Options &options, std::vector<std::uint8_t> image, ControllerIo &io)
    : opt_(options), image_(std::move(image)), io_(io) {}

std::size_t Controller::feed(const std::uint8_t *data, std::size_t size) {
    std::size_t used = 0;
    while (used < size && !hangingUp_) {
        if (state_ == State::Receive && received_.size() < expected_) {
            // Image data comes in bulk: take as much of it as this chunk holds.
            std::size_t take = std::min(size - used, expected_ - received_.size());
            if (opt_.hangupAfter && *opt_.hangupAfter >= received_.size())
                take = std::size_t(
                    std::min<std::uint64_t>(take, *opt_.hangupAfter - received_.size()));
            for (std::size_t i = 0; i < take; ++i)
                receivedSum_ ^= data[used + i];
            received_.insert(received_.end(), data + used, data + used + take);
            used += take;
            if (hangupDue(received_.size())) {
                io_.note("data " + std::to_string(received_.size()));
                io_.storeImage(received_);
                hangUpAfter(received_.size());
            } else if (received_.size() == expected_ && !expectChecksum_) {
                finishReceive(0);
            }
            continue;
        }
        step(data[used++]);
    }
    return used;
}

void Controller::step(std::uint8_t byte) {
    switch (state_) {
    case State::Idle:
        idleByte(byte);
        break;
    case State::At:
        state_ = State::Idle;
        if (byte == '?') {
            io_.note("@?");
            if (opt_.generation == 2)
                streamImage();
        } else if (byte == 'M') {
            io_.note("@M");
            if (opt_.generation == 2) {
                if (opt_.silent(Silence::MAnswer))
                    done();
                else
                    reply(&opt_.mAnswer, 1);
            }
        } else if (byte == '!') {
            io_.note("@!");
            if (opt_.generation == 2)
                startReceive(kSecondGenerationSize, true);
        } else {
            idleByte(byte);
        }
        break;
    case State::Length:
        lengthBytes_[lengthCount_++] = byte;
        if (lengthCount_ == 4)
            restoreRequest();
        break;
    case State::WaitU:
        if (byte == 'U')
            startUpload();
        else
            restart(byte);
        break;
    case State::WaitA:
        if (byte == 'A') {
            ++acks_;
            if (acks_ >= uploadLength_)
                finishUpload();
            else
                sendUploadByte();
        } else {
            restart(byte);
        }
        break;
    case State::Receive:
        // Only the checksum byte after the image reaches here.
        finishReceive(byte);
        break;
    }
}

void Controller::idleByte(std::uint8_t byte) {
    if (byte == 'B') {
        io_.note("B");
        probe();
    } else if (byte == 'R') {
        state_ = State::Length;
        lengthCount_ = 0;
    } else if (byte == '@') {
        state_ = State::At;
    }
}

// A byte that opens an exchange ends the one the tool has left half-done.
void Controller::restart(std::uint8_t byte) {
    if (byte == 'B' || byte == 'R' || byte == '@') {
        abandon();
        idleByte(byte);
    }
}

void Controller::abandon() {
    if (state_ == State::WaitA) {
        io_.note("A-count " + std::to_string(acks_));
    } else if (state_ == State::Receive) {
        io_.note("data " + std::to_string(received_.size()));
        io_.storeImage(received_);
    }
    state_ = State::Idle;
}

void Controller::probe() {
    state_ = State::Idle;
    if (opt_.generation != 1 || opt_.silent(Silence::Probe))
        return;
    const std::uint32_t n = opt_.length.value_or(std::uint32_t(image_.size()));
    const std::uint8_t answer[5] = {std::uint8_t(n), std::uint8_t(n >> 8), std::uint8_t(n >> 16),
                                    std::uint8_t(n >> 24), 0};
    reply(answer, opt_.shortProbe ? 3 : opt_.longProbe ? 5 : 4);
    state_ = State::WaitU;
}

void Controller::restoreRequest() {
    const std::uint32_t n = std::uint32_t(lengthBytes_[0]) | std::uint32_t(lengthBytes_[1]) << 8 |
                            std::uint32_t(lengthBytes_[2]) << 16 |
                            std::uint32_t(lengthBytes_[3]) << 24;
    io_.note("R " + std::to_string(n));
    state_ = State::Idle;
    if (opt_.generation != 1 || opt_.silent(Silence::UReply))
        return;
    sendGarbage();
    io_.send(reinterpret_cast<const std::uint8_t *>(opt_.uPrefix.data()), opt_.uPrefix.size());
    send('U');
    startReceive(n, false);
}

void Controller::startUpload() {
    io_.note("U");
    uploadLength_ = opt_.length.value_or(std::uint32_t(image_.size()));
    sent_ = 0;
    acks_ = 0;
    uploadSum_ = 0;
    state_ = State::WaitA;
    if (hangupDue(0)) {
        hangUpAfter(0);
        return;
    }
    if (uploadLength_ == 0)
        finishUpload();
    else
        sendUploadByte();
}

void Controller::sendUploadByte() {
    const bool stopped =
        opt_.silent(Silence::Upload) || (opt_.stopAfter && sent_ >= *opt_.stopAfter);
    // An announced length beyond the image leaves the controller with nothing more to send.
    if (stopped || sent_ >= image_.size()) {
        io_.note("A-count " + std::to_string(acks_));
        state_ = State::Idle;
        done();
        return;
    }
    const std::uint8_t byte = image_[sent_++];
    uploadSum_ ^= byte;
    send(byte);
    if (hangupDue(sent_))
        hangUpAfter(sent_);
}

void Controller::finishUpload() {
    io_.note("A-count " + std::to_string(acks_));
    state_ = State::Idle;
    if (!opt_.silent(Silence::Checksum))
        send(opt_.badChecksum ? std::uint8_t(uploadSum_ ^ 0xFF) : uploadSum_);
    done();
}

void Controller::streamImage() {
    std::size_t count = image_.size();
    bool cut = false;
    if (opt_.stopAfter && *opt_.stopAfter < count) {
        count = std::size_t(*opt_.stopAfter);
        cut = true;
    }
    if (opt_.hangupAfter && *opt_.hangupAfter <= count) {
        count = std::size_t(*opt_.hangupAfter);
        cut = true;
    }
    sendGarbage();
    io_.send(image_.data(), count);
    if (hangupDue(count)) {
        hangUpAfter(count);
        return;
    }
    if (!cut) {
        const std::vector<std::uint8_t> tail(opt_.trailing, 0);
        io_.send(tail.data(), tail.size());
    }
    done();
}

void Controller::startReceive(std::size_t imageBytes, bool withChecksum) {
    state_ = State::Receive;
    expected_ = imageBytes;
    expectChecksum_ = withChecksum;
    received_.clear();
    // The length comes from the tool: reserve only what a real image could need.
    received_.reserve(std::min<std::size_t>(imageBytes, std::size_t(1) << 24));
    receivedSum_ = 0;
    if (hangupDue(0)) {
        io_.note("data 0");
        io_.storeImage(received_);
        hangUpAfter(0);
    } else if (imageBytes == 0 && !withChecksum) {
        finishReceive(0);
    }
}

void Controller::finishReceive(std::uint8_t checksum) {
    state_ = State::Idle;
    if (expectChecksum_) {
        io_.note("data " + std::to_string(received_.size()) + " checksum " + hexByte(checksum));
        io_.storeImage(received_);
        if (checksum == receivedSum_)
            keep();
        if (!opt_.silent(Silence::Verdict)) {
            const std::uint8_t verdict =
                opt_.verdict.value_or(checksum == receivedSum_ ? std::uint8_t('Y') : 'N');
            reply(&verdict, 1);
        }
    } else {
        io_.note("data " + std::to_string(received_.size()));
        io_.storeImage(received_);
        keep();
        if (!opt_.silent(Silence::RestoreChecksum))
            send(opt_.badChecksum ? std::uint8_t(receivedSum_ ^ 0xFF) : receivedSum_);
    }
    done();
}

void Controller::reply(const std::uint8_t *data, std::size_t size) {
    sendGarbage();
    io_.send(data, size);
}

void Controller::sendGarbage() {
    io_.send(reinterpret_cast<const std::uint8_t *>(opt_.garbage.data()), opt_.garbage.size());
}

bool Controller::hangupDue(std::uint64_t imageBytes) const {
    return opt_.hangupAfter && *opt_.hangupAfter == imageBytes;
}

void Controller::hangUpAfter(std::uint64_t imageBytes) {
    io_.note("hangup " + std::to_string(imageBytes));
    hangingUp_ = true;
    state_ = State::Idle;
    io_.hangUpWhenSent();
}

// Storage, not the line, spoils the byte: the checksum of the exchange still matches.
void Controller::keep() {
    if (!opt_.keepRestored)
        return;
    image_ = received_;
    if (opt_.corruptByte && *opt_.corruptByte <= image_.size())
        image_[std::size_t(*opt_.corruptByte - 1)] ^= 0xFF;
}

void Controller::done() {
    io_.exchangeDone();
}

} // namespace sim
