#include "link/stoptoken.h"

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#else
#include <QThread>
#endif

StopToken::StopToken() {
#ifdef Q_OS_UNIX
    if (::pipe(wake_) == 0) {
        for (int fd : wake_) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    } else {
        wake_[0] = wake_[1] = -1;
    }
#endif
}

StopToken::~StopToken() {
#ifdef Q_OS_UNIX
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
#endif
}

void StopToken::request() {
    stopped_.store(true, std::memory_order_release);
#ifdef Q_OS_UNIX
    if (wake_[1] >= 0) {
        const char byte = 1;
        [[maybe_unused]] const auto written = ::write(wake_[1], &byte, 1);
    }
#endif
}

void StopToken::sleepFor(qint64 timeoutNs) const {
    if (timeoutNs <= 0 || requested())
        return;
#ifdef Q_OS_UNIX
    // The wake byte is never read: once stopped, every later sleep ends at once as well.
    pollfd fd{wake_[0], POLLIN, 0};
    const timespec ts{time_t(timeoutNs / 1'000'000'000), long(timeoutNs % 1'000'000'000)};
#ifdef Q_OS_LINUX
    while (::ppoll(&fd, wake_[0] >= 0 ? 1 : 0, &ts, nullptr) < 0 && errno == EINTR) {
    }
#else
    Q_UNUSED(ts);
    ::poll(&fd, wake_[0] >= 0 ? 1 : 0, int((timeoutNs + 999'999) / 1'000'000));
#endif
#else
    // Elsewhere a stop is seen within a slice.
    constexpr qint64 kSliceNs = 20'000'000;
    for (qint64 left = timeoutNs; left > 0 && !requested(); left -= kSliceNs)
        QThread::usleep(static_cast<unsigned long>(qMin(left, kSliceNs) / 1000));
#endif
}
