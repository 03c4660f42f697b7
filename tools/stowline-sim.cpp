// A controller on a pseudo-terminal, for trying the tool without hardware.

#include "sim_controller.h"
#include "sim_options.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

using namespace sim;

volatile std::sig_atomic_t g_stopSignal = 0;

extern "C" void onStopSignal(int signal) {
    g_stopSignal = signal;
}

double now() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// Paces bytes against absolute deadlines, so wake-up latency does not add up over a
// transfer. A line that fell idle restarts its schedule instead of bursting to catch up.
class Pacer {
public:
    explicit Pacer(double rate) : rate_(rate) {
        if (rate_ > 0) {
            interval_ = 1.0 / rate_;
            // Move a few milliseconds' worth per wake-up: the same average rate, far fewer
            // wake-ups than one per byte.
            chunk_ = std::max<std::size_t>(1, std::size_t(rate_ * 0.004));
        }
    }

    bool paced() const { return rate_ > 0; }

    std::size_t allowance(double t) const {
        if (!paced())
            return SIZE_MAX;
        if (t < next_)
            return 0;
        const double late = (t - next_) / interval_;
        return late >= double(chunk_) ? chunk_ : std::size_t(late) + 1;
    }

    void consumed(std::size_t n, double t) {
        if (!paced() || n == 0)
            return;
        if (next_ + kSlack < t)
            next_ = t;
        next_ += double(n) * interval_;
    }

    // When the next `wanted` bytes (at most one chunk) may move.
    double wakeTime(std::size_t wanted) const {
        const std::size_t n = std::clamp<std::size_t>(wanted, 1, chunk_);
        return next_ + double(n - 1) * interval_;
    }

private:
    static constexpr double kSlack = 0.02;
    double rate_ = 0;
    double interval_ = 0;
    std::size_t chunk_ = 1;
    double next_ = -1e300;
};

long baudOf(speed_t speed) {
    static const struct {
        speed_t code;
        long baud;
    } table[] = {
        {B0, 0},         {B50, 50},       {B75, 75},         {B110, 110},       {B134, 134},
        {B150, 150},     {B200, 200},     {B300, 300},       {B600, 600},       {B1200, 1200},
        {B1800, 1800},   {B2400, 2400},   {B4800, 4800},     {B9600, 9600},     {B19200, 19200},
        {B38400, 38400}, {B57600, 57600}, {B115200, 115200}, {B230400, 230400},
    };
    for (const auto &entry : table) {
        if (entry.code == speed)
            return entry.baud;
    }
    return -1;
}

bool writeAll(int fd, const void *data, std::size_t size) {
    const char *p = static_cast<const char *>(data);
    while (size > 0) {
        const ssize_t n = ::write(fd, p, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        size -= std::size_t(n);
    }
    return true;
}

// Readers poll these files while the simulator runs: never let them see half a file.
bool replaceFile(const std::string &path, const void *data, std::size_t size) {
    const std::string temp = path + ".tmp" + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool ok = writeAll(fd, data, size) && ::close(fd) == 0;
    if (!ok) {
        ::unlink(temp.c_str());
        return false;
    }
    return ::rename(temp.c_str(), path.c_str()) == 0;
}

int openAppend(const std::string &path) {
    if (path.empty())
        return -1;
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        std::fprintf(stderr, "stowline-sim: cannot open %s: %s\n", path.c_str(),
                     std::strerror(errno));
        std::exit(1);
    }
    return fd;
}

class Line final : public ControllerIo {
public:
    explicit Line(const Options &options)
        : opt_(options), txPacer_(options.rate), rxPacer_(options.rate) {}

    ~Line() override {
        for (const int fd : {master_, slave_, commandsFd_, rxFd_}) {
            if (fd >= 0)
                ::close(fd);
        }
    }

    bool open(std::string &error);
    int run(Controller &controller);

    const std::string &path() const { return path_; }

    void send(const std::uint8_t *data, std::size_t size) override {
        out_.insert(out_.end(), data, data + size);
    }

    void note(const std::string &event) override {
        std::string line = event + " " + baudText() + "\n";
        if (commandsFd_ >= 0 && !writeAll(commandsFd_, line.data(), line.size()))
            std::fprintf(stderr, "stowline-sim: cannot record the command: %s\n",
                         std::strerror(errno));
        if (!opt_.quiet)
            std::fprintf(stderr, "stowline-sim: %s", line.c_str());
    }

    void storeImage(const std::vector<std::uint8_t> &image) override {
        if (!opt_.recordImage.empty() && !replaceFile(opt_.recordImage, image.data(), image.size()))
            std::fprintf(stderr, "stowline-sim: cannot write %s: %s\n", opt_.recordImage.c_str(),
                         std::strerror(errno));
    }

    void hangUpWhenSent() override { hangupPending_ = true; }
    void exchangeDone() override { exchangeDone_ = true; }

private:
    std::string baudText() const {
        termios t{};
        if (slave_ < 0 || ::tcgetattr(slave_, &t) != 0)
            return "?";
        speed_t speed = ::cfgetispeed(&t);
        if (speed == B0) // an input speed of 0 means "same as output"
            speed = ::cfgetospeed(&t);
        const long baud = baudOf(speed);
        return baud >= 0 ? std::to_string(baud) : "speed-" + std::to_string(long(speed));
    }

    std::size_t pendingOut() const { return out_.size() - outHead_; }
    // Bytes still to reach the tool: not yet sent, or held in the adapter.
    bool outstanding() const { return pendingOut() > 0 || !held_.empty(); }
    bool flushOut(double t);
    bool holdDue(double t) const;
    bool releaseHeld(double t);
    void takeIn(Controller &controller, double t, bool feed);
    void waitForToolToRead();

    const Options &opt_;
    int master_ = -1;
    int slave_ = -1;
    int commandsFd_ = -1;
    int rxFd_ = -1;
    std::string path_;

    std::vector<std::uint8_t> out_;
    std::size_t outHead_ = 0;
    Pacer txPacer_;
    Pacer rxPacer_;
    double lastMove_ = 0;

    // The adapter: what crossed the line waits here for its latency timer or a full packet.
    static constexpr std::size_t kPacket = 62;
    std::vector<std::uint8_t> held_;
    double heldSince_ = 0;
    bool releasing_ = false;

    bool hangupPending_ = false;
    bool exchangeDone_ = false;
};

bool Line::open(std::string &error) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0) {
        error = std::string("cannot create a pseudo-terminal: ") + std::strerror(errno);
        return false;
    }
    ::fcntl(master_, F_SETFD, FD_CLOEXEC);
    if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0) {
        error =
            std::string("cannot make the pseudo-terminal non-blocking: ") + std::strerror(errno);
        return false;
    }
    const char *name = ::ptsname(master_);
    if (!name) {
        error = "cannot name the pseudo-terminal";
        return false;
    }
    path_ = name;

    // Our own slave descriptor keeps the line up while the tool has the port closed.
    slave_ = ::open(path_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    termios t{};
    if (slave_ < 0 || ::tcgetattr(slave_, &t) != 0) {
        error = "cannot open " + path_ + ": " + std::strerror(errno);
        return false;
    }
    ::cfmakeraw(&t);
    if (::tcsetattr(slave_, TCSANOW, &t) != 0) {
        error = "cannot set raw mode on " + path_ + ": " + std::strerror(errno);
        return false;
    }

    commandsFd_ = openAppend(opt_.recordCommands);
    rxFd_ = openAppend(opt_.recordRx);
    return true;
}

bool Line::flushOut(double t) {
    const std::size_t n = std::min(pendingOut(), txPacer_.allowance(t));
    ssize_t written = 0;
    if (opt_.latencyMs > 0) {
        if (held_.empty())
            heldSince_ = t;
        held_.insert(held_.end(), out_.begin() + std::ptrdiff_t(outHead_),
                     out_.begin() + std::ptrdiff_t(outHead_ + n));
        written = ssize_t(n);
    } else {
        written = ::write(master_, out_.data() + outHead_, n);
        if (written < 0)
            return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    }
    outHead_ += std::size_t(written);
    txPacer_.consumed(std::size_t(written), t);
    if (written > 0)
        lastMove_ = t;
    if (outHead_ == out_.size()) {
        out_.clear();
        outHead_ = 0;
    } else if (outHead_ > (1u << 16) && outHead_ > out_.size() / 2) {
        out_.erase(out_.begin(), out_.begin() + std::ptrdiff_t(outHead_));
        outHead_ = 0;
    }
    return true;
}

bool Line::holdDue(double t) const {
    return !held_.empty() &&
           (releasing_ || held_.size() >= kPacket || t >= heldSince_ + opt_.latencyMs / 1000);
}

bool Line::releaseHeld(double t) {
    if (!holdDue(t))
        return true;
    releasing_ = true;
    const ssize_t written = ::write(master_, held_.data(), held_.size());
    if (written < 0)
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    held_.erase(held_.begin(), held_.begin() + written);
    if (held_.empty())
        releasing_ = false;
    return true;
}

void Line::takeIn(Controller &controller, double t, bool feed) {
    std::uint8_t buffer[1 << 16];
    const std::size_t want = std::min(sizeof buffer, rxPacer_.allowance(t));
    const ssize_t n = ::read(master_, buffer, want);
    if (n <= 0)
        return;
    rxPacer_.consumed(std::size_t(n), t);
    lastMove_ = t;
    if (rxFd_ >= 0 && !writeAll(rxFd_, buffer, std::size_t(n)))
        std::fprintf(stderr, "stowline-sim: cannot record received bytes: %s\n",
                     std::strerror(errno));
    if (feed)
        controller.feed(buffer, std::size_t(n));
}

// Give the tool a moment to take what was written before the line goes dead, so a hang-up
// after K bytes really delivers K bytes. Written bytes reach the slave's queue a little later,
// so the queue must be seen empty twice in a row.
void Line::waitForToolToRead() {
    const double limit = now() + 1.0;
    int emptyChecks = 0;
    while (emptyChecks < 2 && now() < limit) {
        ::usleep(10000);
        int waiting = 0;
        if (::ioctl(slave_, FIONREAD, &waiting) != 0)
            return;
        emptyChecks = waiting == 0 ? emptyChecks + 1 : 0;
    }
}

int Line::run(Controller &controller) {
    sigset_t unblocked;
    ::sigprocmask(SIG_SETMASK, nullptr, &unblocked);
    ::sigdelset(&unblocked, SIGINT);
    ::sigdelset(&unblocked, SIGTERM);
    ::sigdelset(&unblocked, SIGHUP);

    bool closing = false; // --once: our slave is closed, waiting for the tool to close its port
    double closingLimit = 0;
    lastMove_ = now();

    for (;;) {
        double t = now();
        if (hangupPending_ && !outstanding()) {
            waitForToolToRead();
            ::close(master_);
            ::close(slave_);
            master_ = slave_ = -1;
            if (!opt_.quiet)
                std::fprintf(stderr, "stowline-sim: hung up\n");
            return 3;
        }
        if (opt_.once && exchangeDone_ && !closing && !hangupPending_ && !outstanding()) {
            // Without our descriptor the master reports a hang-up once the tool lets go.
            ::close(slave_);
            slave_ = -1;
            closing = true;
            closingLimit = t + 60.0;
        }

        const bool feeding = !hangupPending_ && !(opt_.once && exchangeDone_);
        const std::size_t rxAllowed = rxPacer_.allowance(t);
        const std::size_t txAllowed = pendingOut() ? txPacer_.allowance(t) : 0;
        pollfd p{master_, 0, 0};
        double wake = INFINITY;
        if (!hangupPending_) {
            if (rxAllowed > 0)
                p.events |= POLLIN;
            else
                wake = std::min(wake, rxPacer_.wakeTime(SIZE_MAX));
        }
        if (pendingOut()) {
            if (txAllowed > 0)
                p.events |= POLLOUT;
            else
                wake = std::min(wake, txPacer_.wakeTime(pendingOut()));
        }
        if (!held_.empty()) {
            if (holdDue(t))
                p.events |= POLLOUT;
            else
                wake = std::min(wake, heldSince_ + opt_.latencyMs / 1000);
        }
        const bool stalled = controller.inExchange() || outstanding();
        if (stalled && opt_.giveUpAfter > 0)
            wake = std::min(wake, lastMove_ + opt_.giveUpAfter);
        if (closing)
            wake = std::min(wake, closingLimit);

        timespec timeout{};
        timespec *timeoutPtr = nullptr;
        if (std::isfinite(wake)) {
            const double wait = std::max(0.0, wake - t);
            timeout.tv_sec = time_t(wait);
            timeout.tv_nsec = long((wait - double(timeout.tv_sec)) * 1e9);
            timeoutPtr = &timeout;
        }
        const int ready = ::ppoll(&p, 1, timeoutPtr, &unblocked);
        if (g_stopSignal) {
            controller.abandon();
            return 0;
        }
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            std::fprintf(stderr, "stowline-sim: poll: %s\n", std::strerror(errno));
            return 1;
        }

        t = now();
        if (p.revents & POLLIN)
            takeIn(controller, t, feeding);
        if ((p.revents & POLLOUT) && pendingOut() && !flushOut(t)) {
            std::fprintf(stderr, "stowline-sim: write: %s\n", std::strerror(errno));
            return 1;
        }
        // The timer runs out without the line having to wake the loop.
        if (!held_.empty() && !releaseHeld(now())) {
            std::fprintf(stderr, "stowline-sim: write: %s\n", std::strerror(errno));
            return 1;
        }
        if (p.revents & (POLLHUP | POLLERR | POLLNVAL)) {
            if (closing)
                return 0;
            // We hold a slave descriptor, so the line cannot hang up under us.
            std::fprintf(stderr, "stowline-sim: the pseudo-terminal failed\n");
            return 1;
        }
        if (closing && t >= closingLimit)
            return 0;
        if (stalled && opt_.giveUpAfter > 0 && t - lastMove_ >= opt_.giveUpAfter) {
            if (!opt_.quiet)
                std::fprintf(stderr, "stowline-sim: nothing moved for %g s, exchange dropped\n",
                             opt_.giveUpAfter);
            controller.abandon();
            out_.clear();
            outHead_ = 0;
            held_.clear();
            releasing_ = false;
            lastMove_ = t;
        }
    }
}

} // namespace

int main(int argc, char **argv) {
    const ParseResult parsed = parseOptions(std::vector<std::string>(argv + 1, argv + argc));
    if (parsed.help) {
        std::fputs(usageText(), stdout);
        return 0;
    }
    if (!parsed.error.empty()) {
        std::fprintf(stderr, "stowline-sim: %s\n\n%s", parsed.error.c_str(), usageText());
        return 2;
    }
    const Options &options = parsed.options;

    std::vector<std::uint8_t> image;
    std::string error;
    if (!loadImage(options, image, error)) {
        std::fprintf(stderr, "stowline-sim: %s\n", error.c_str());
        return 2;
    }

    // Signals are taken only inside ppoll, so none is lost between a check and the wait.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &stopSignals, nullptr);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGHUP, &action, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    Line line(options);
    if (!line.open(error)) {
        std::fprintf(stderr, "stowline-sim: %s\n", error.c_str());
        return 1;
    }

    if (!options.link.empty()) {
        struct stat st {};
        if (::lstat(options.link.c_str(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                std::fprintf(stderr, "stowline-sim: %s exists and is no symbolic link\n",
                             options.link.c_str());
                return 1;
            }
            ::unlink(options.link.c_str());
        }
        if (::symlink(line.path().c_str(), options.link.c_str()) != 0) {
            std::fprintf(stderr, "stowline-sim: cannot link %s: %s\n", options.link.c_str(),
                         std::strerror(errno));
            return 1;
        }
    }
    const std::string pathLine = line.path() + "\n";
    if (!options.pathFile.empty() &&
        !replaceFile(options.pathFile, pathLine.data(), pathLine.size())) {
        std::fprintf(stderr, "stowline-sim: cannot write %s: %s\n", options.pathFile.c_str(),
                     std::strerror(errno));
        if (!options.link.empty())
            ::unlink(options.link.c_str());
        return 1;
    }
    std::fputs(pathLine.c_str(), stdout);
    std::fflush(stdout);
    if (!options.quiet)
        std::fprintf(stderr, "stowline-sim: generation %d controller on %s, image %zu bytes\n",
                     options.generation, line.path().c_str(), image.size());

    Controller controller(options, std::move(image), line);
    const int status = line.run(controller);
    if (!options.link.empty())
        ::unlink(options.link.c_str());
    return status;
}
