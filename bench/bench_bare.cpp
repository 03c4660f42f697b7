// The reference side of the transfer benchmarks: each exchange written as a plain program
// would write it against the serial device, with termios, read() and write() and nothing
// else. It talks to the same simulator as the tool, so the two timings differ only by what
// the tool adds.
//
// Usage: bench_bare MODE DEVICE [--image=FILE] [--write-chunk=N] [--poll]
//   stream-backup    "@?", then read() into a buffer until the image and one byte more are in
//                    (the tool takes the last image byte only once the next one is there)
//   lockstep-backup  "B", the four length bytes, "U", then one byte in and "A" out per image
//                    byte, then the checksum byte
//   restore1         "R" and the length, read until "U", write the image, read the checksum
//   restore2         "@M", read the answer, "@!", write the image and its checksum, read the
//                    verdict
// The image of --image is what a restore writes and what a backup must read back. Writes
// hand the whole remainder to write() at once unless --write-chunk caps them; --poll waits
// for each read with poll() first, as an event loop does.
//
// Prints one line: transfer_ns=T bytes=N ok=1|0 [reason=...]. T runs from just before the
// first command byte is written to just after the last awaited byte has been read; opening
// and setting up the device come before it.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr std::size_t kSecondGenerationLength = 186368;

std::int64_t nowNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

[[noreturn]] void fail(const std::string &reason) {
    std::printf("transfer_ns=0 bytes=0 ok=0 reason=%s\n", reason.c_str());
    std::fflush(stdout);
    std::_Exit(1);
}

void writeAll(int fd, const std::uint8_t *data, std::size_t size, std::size_t chunk) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, chunk ? std::min(size, chunk) : size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(std::string("write: ") + std::strerror(errno));
        }
        data += n;
        size -= std::size_t(n);
    }
}

void writeText(int fd, const char *text) {
    writeAll(fd, reinterpret_cast<const std::uint8_t *>(text), std::strlen(text), 0);
}

// Waiting as an event loop waits: poll() for the descriptor, then read().
bool g_pollFirst = false;

// Blocks until at least one byte is in; returns how many were read.
std::size_t readSome(int fd, std::uint8_t *into, std::size_t room) {
    for (;;) {
        if (g_pollFirst) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, -1) < 0 && errno != EINTR)
                fail(std::string("poll: ") + std::strerror(errno));
        }
        const ssize_t n = ::read(fd, into, room);
        if (n > 0)
            return std::size_t(n);
        if (n < 0 && errno == EINTR)
            continue;
        fail(n == 0 ? std::string("end of input") : std::string("read: ") + std::strerror(errno));
    }
}

std::uint8_t readByte(int fd) {
    std::uint8_t byte = 0;
    readSome(fd, &byte, 1);
    return byte;
}

void readExactly(int fd, std::uint8_t *into, std::size_t size) {
    while (size > 0) {
        const std::size_t n = readSome(fd, into, size);
        into += n;
        size -= n;
    }
}

int openLine(const char *device, speed_t speed) {
    const int fd = ::open(device, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        fail(std::string("open: ") + std::strerror(errno));
    termios t{};
    if (::tcgetattr(fd, &t) != 0)
        fail(std::string("tcgetattr: ") + std::strerror(errno));
    ::cfmakeraw(&t);
    ::cfsetispeed(&t, speed);
    ::cfsetospeed(&t, speed);
    t.c_cflag |= CLOCAL | CREAD | CRTSCTS;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0)
        fail(std::string("tcsetattr: ") + std::strerror(errno));
    ::tcflush(fd, TCIOFLUSH);
    return fd;
}

std::vector<std::uint8_t> readFile(const std::string &path) {
    std::vector<std::uint8_t> bytes;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (!f)
        fail("cannot read " + path);
    std::uint8_t buffer[1 << 16];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, f)) > 0;)
        bytes.insert(bytes.end(), buffer, buffer + n);
    std::fclose(f);
    return bytes;
}

std::uint8_t xorOf(const std::uint8_t *data, std::size_t size) {
    std::uint8_t sum = 0;
    for (std::size_t i = 0; i < size; ++i)
        sum ^= data[i];
    return sum;
}

void report(std::int64_t ns, std::size_t bytes, bool ok, const char *reason = nullptr) {
    std::printf("transfer_ns=%lld bytes=%zu ok=%d%s%s\n", static_cast<long long>(ns), bytes,
                ok ? 1 : 0, reason ? " reason=" : "", reason ? reason : "");
}

int streamBackup(int fd, const std::vector<std::uint8_t> &expected) {
    std::vector<std::uint8_t> got(kSecondGenerationLength + 1 + (1 << 16));
    std::size_t have = 0;
    const std::int64_t start = nowNs();
    writeText(fd, "@?");
    while (have < kSecondGenerationLength + 1)
        have += readSome(fd, got.data() + have, got.size() - have);
    const std::int64_t end = nowNs();
    const bool same =
        expected.empty() || std::memcmp(got.data(), expected.data(),
                                        std::min(expected.size(), kSecondGenerationLength)) == 0;
    report(end - start, kSecondGenerationLength, same, same ? nullptr : "image-differs");
    return same ? 0 : 1;
}

int lockstepBackup(int fd, const std::vector<std::uint8_t> &expected) {
    const std::int64_t start = nowNs();
    writeText(fd, "B");
    std::uint8_t length[4];
    readExactly(fd, length, 4);
    const std::uint32_t n = std::uint32_t(length[0]) | std::uint32_t(length[1]) << 8 |
                            std::uint32_t(length[2]) << 16 | std::uint32_t(length[3]) << 24;
    std::vector<std::uint8_t> image(n);
    const std::uint8_t ack = 'A';
    writeText(fd, "U");
    for (std::uint32_t k = 0; k < n; ++k) {
        image[k] = readByte(fd);
        writeAll(fd, &ack, 1, 0);
    }
    const std::uint8_t checksum = readByte(fd);
    const std::int64_t end = nowNs();
    const bool ok =
        checksum == xorOf(image.data(), image.size()) && (expected.empty() || expected == image);
    report(end - start, n, ok, ok ? nullptr : "image-differs");
    return ok ? 0 : 1;
}

int restore1(int fd, const std::vector<std::uint8_t> &image, std::size_t chunk) {
    const std::uint32_t n = std::uint32_t(image.size());
    const std::uint8_t request[5] = {'R', std::uint8_t(n), std::uint8_t(n >> 8),
                                     std::uint8_t(n >> 16), std::uint8_t(n >> 24)};
    const std::int64_t start = nowNs();
    writeAll(fd, request, sizeof request, 0);
    while (readByte(fd) != 'U') {
    }
    writeAll(fd, image.data(), image.size(), chunk);
    const std::uint8_t reply = readByte(fd);
    const std::int64_t end = nowNs();
    const bool ok = reply == xorOf(image.data(), image.size());
    report(end - start, image.size(), ok, ok ? nullptr : "bad-checksum");
    return ok ? 0 : 1;
}

int restore2(int fd, const std::vector<std::uint8_t> &image, std::size_t chunk) {
    std::vector<std::uint8_t> out(image);
    out.push_back(xorOf(image.data(), image.size()));
    const std::int64_t start = nowNs();
    writeText(fd, "@M");
    readByte(fd);
    writeText(fd, "@!");
    writeAll(fd, out.data(), out.size(), chunk);
    const std::uint8_t verdict = readByte(fd);
    const std::int64_t end = nowNs();
    const bool ok = verdict == 'Y';
    report(end - start, image.size(), ok, ok ? nullptr : "bad-verdict");
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_bare stream-backup|lockstep-backup|restore1|restore2 "
                             "DEVICE [--image=FILE] [--write-chunk=N] [--poll]\n");
        return 2;
    }
    const std::string mode = argv[1];
    std::string imagePath;
    std::size_t chunk = 0;
    for (int i = 3; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--image=", 0) == 0)
            imagePath = arg.substr(8);
        else if (arg == "--poll")
            g_pollFirst = true;
        else if (arg.rfind("--write-chunk=", 0) == 0)
            chunk = std::size_t(std::stoul(arg.substr(14)));
        else
            fail("unknown option " + arg);
    }
    const std::vector<std::uint8_t> image =
        imagePath.empty() ? std::vector<std::uint8_t>() : readFile(imagePath);
    if ((mode == "restore1" || mode == "restore2") && image.empty())
        fail("a restore needs --image");

    // A controller that stops answering must not hang the benchmark.
    ::signal(SIGALRM, SIG_DFL);
    ::alarm(120);

    const bool second = mode == "stream-backup" || mode == "restore2";
    const int fd = openLine(argv[2], second ? B9600 : B57600);
    int status = 2;
    if (mode == "stream-backup")
        status = streamBackup(fd, image);
    else if (mode == "lockstep-backup")
        status = lockstepBackup(fd, image);
    else if (mode == "restore1")
        status = restore1(fd, image, chunk);
    else if (mode == "restore2")
        status = restore2(fd, image, chunk);
    else
        fail("unknown mode " + mode);
    ::close(fd);
    return status;
}
