#pragma once

#include <QtGlobal>
#include <atomic>

// Ends a running job from any thread, or from a signal handler: request() only stores a flag
// and wakes the job's waits, which sleep in the kernel on it.
class StopToken {
public:
    StopToken();
    ~StopToken();
    StopToken(const StopToken &) = delete;
    StopToken &operator=(const StopToken &) = delete;

    void request(); // async-signal-safe
    bool requested() const { return stopped_.load(std::memory_order_acquire); }

    // Sleeps up to timeoutNs, or until a stop is requested.
    void sleepFor(qint64 timeoutNs) const;
    // A descriptor that turns readable once a stop is requested (-1 where there is none), for
    // waits that watch a device as well.
    int wakeDescriptor() const { return wake_[0]; }

private:
    std::atomic<bool> stopped_{false};
    int wake_[2] = {-1, -1};
};
