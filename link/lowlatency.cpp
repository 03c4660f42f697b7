#include "link/lowlatency.h"

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>

static_assert(LowLatency::kFlag == ASYNC_LOW_LATENCY);

namespace {
class LinuxSerialFlags : public SerialFlagsIo {
public:
    std::optional<int> flags(qintptr fd) override {
        serial_struct s{};
        if (::ioctl(int(fd), TIOCGSERIAL, &s) != 0)
            return std::nullopt;
        return s.flags;
    }
    bool setFlags(qintptr fd, int flags) override {
        serial_struct s{};
        if (::ioctl(int(fd), TIOCGSERIAL, &s) != 0)
            return false;
        s.flags = flags;
        return ::ioctl(int(fd), TIOCSSERIAL, &s) == 0;
    }
};
} // namespace

SerialFlagsIo *systemSerialFlags() {
    static LinuxSerialFlags io;
    return &io;
}
#else
SerialFlagsIo *systemSerialFlags() {
    return nullptr;
}
#endif

void LowLatency::engage(qintptr fd) {
    previous_.reset();
    if (!io_ || fd < 0)
        return;
    const std::optional<int> before = io_->flags(fd);
    if (!before || (*before & kFlag))
        return;
    if (io_->setFlags(fd, *before | kFlag)) {
        fd_ = fd;
        previous_ = before;
    }
}

void LowLatency::release() {
    if (!previous_)
        return;
    // A device that has gone away refuses; nothing is left to restore then.
    io_->setFlags(fd_, *previous_);
    previous_.reset();
    fd_ = -1;
}
