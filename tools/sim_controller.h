#pragma once

#include "sim_options.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

// What the protocol engine asks of the line around it.
class ControllerIo {
public:
    virtual ~ControllerIo() = default;
    virtual void send(const std::uint8_t *data, std::size_t size) = 0;
    // One line of the command record; the line adds the baud rate in force.
    virtual void note(const std::string &event) = 0;
    virtual void storeImage(const std::vector<std::uint8_t> &image) = 0;
    // Hang up once everything queued so far has gone out; no further input is wanted.
    virtual void hangUpWhenSent() = 0;
    // The exchange has reached its end (for --once).
    virtual void exchangeDone() = 0;
};

// Byte-level state machine of one controller. Bytes that fit no exchange are ignored.
class Controller {
public:
    Controller(const Options &options, std::vector<std::uint8_t> image, ControllerIo &io);

    // Takes received bytes; returns how many were used, fewer only once a hang-up is due.
    std::size_t feed(const std::uint8_t *data, std::size_t size);

    // True while the controller waits for the tool's part of an exchange.
    bool inExchange() const { return state_ != State::Idle && state_ != State::At; }

    // The tool went away in the middle of an exchange: keep what it delivered, then idle.
    void abandon();

private:
    enum class State { Idle, At, Length, WaitU, WaitA, Receive };

    void step(std::uint8_t byte);
    void idleByte(std::uint8_t byte);
    void restart(std::uint8_t byte);

    void probe();
    void restoreRequest();
    void startUpload();
    void sendUploadByte();
    void finishUpload();
    void streamImage();
    void startReceive(std::size_t imageBytes, bool withChecksum);
    void finishReceive(std::uint8_t checksum);

    void reply(const std::uint8_t *data, std::size_t size);
    void send(std::uint8_t byte) { io_.send(&byte, 1); }
    void sendGarbage();
    void hangUpAfter(std::uint64_t imageBytes);
    bool hangupDue(std::uint64_t imageBytes) const;
    void done();
    void keep();

    const Options &opt_;
    std::vector<std::uint8_t> image_;
    ControllerIo &io_;

    State state_ = State::Idle;
    bool hangingUp_ = false;

    std::uint8_t lengthBytes_[4] = {};
    std::size_t lengthCount_ = 0;

    // First-generation upload.
    std::uint32_t uploadLength_ = 0;
    std::uint32_t sent_ = 0;
    std::uint32_t acks_ = 0;
    std::uint8_t uploadSum_ = 0;

    // Restore download.
    std::size_t expected_ = 0;
    bool expectChecksum_ = false;
    std::vector<std::uint8_t> received_;
    std::uint8_t receivedSum_ = 0;
};

} // namespace sim
