#include "memorycontroller.h"

#include "harness.h"

namespace {
sim::Options optionsFor(int generation) {
    sim::Options options;
    options.generation = generation;
    return options;
}
} // namespace

MemoryController::MemoryController(int generation, const QByteArray &image)
    : options_(optionsFor(generation)),
      controller_(options_, std::vector<std::uint8_t>(image.begin(), image.end()), *this) {}

bool MemoryController::setPortOpen(bool open) {
    open_ = open;
    rx_.clear();
    rxHead_ = 0;
    return true;
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
        options_.generation == 1 ? bytes == "B" || bytes == "R" : bytes == "@?" || bytes == "@M";
    if (startNs_ < 0 && opening && !controller_.inExchange())
        startNs_ = bench::monoNs();
    controller_.feed(reinterpret_cast<const std::uint8_t *>(bytes.constData()),
                     std::size_t(bytes.size()));
    return true;
}

void MemoryController::send(const std::uint8_t *data, std::size_t size) {
    rx_.append(reinterpret_cast<const char *>(data), qsizetype(size));
}

void MemoryController::storeImage(const std::vector<std::uint8_t> &image) {
    received_ = QByteArray(reinterpret_cast<const char *>(image.data()), qsizetype(image.size()));
}
