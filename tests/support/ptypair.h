#pragma once

// A pseudo-terminal for the serial tests: the test holds the master end, the port under test
// opens the slave by its path. The slave starts raw so nothing is echoed or translated.

#include <QByteArray>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QString>

#include <cerrno>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

class PtyPair {
public:
    PtyPair() {
        termios raw{};
        cfmakeraw(&raw);
        cfsetispeed(&raw, B38400);
        cfsetospeed(&raw, B38400);
        char name[128] = {};
        if (openpty(&master_, &slave_, name, &raw, nullptr) != 0) {
            master_ = slave_ = -1;
            return;
        }
        ::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK);
        path_ = QString::fromLocal8Bit(name);
    }
    ~PtyPair() {
        closeMaster();
        if (slave_ >= 0)
            ::close(slave_);
    }
    PtyPair(const PtyPair &) = delete;
    PtyPair &operator=(const PtyPair &) = delete;

    QString path() const { return path_; }
    int master() const { return master_; }

    void closeMaster() { master_ = master_ >= 0 ? ::close(master_), -1 : -1; }

    bool send(const QByteArray &bytes) {
        return ::write(master_, bytes.constData(), size_t(bytes.size())) == ssize_t(bytes.size());
    }

    // Whatever the master can read now, without waiting.
    QByteArray drain() {
        QByteArray out;
        char buf[4096];
        for (ssize_t n; (n = ::read(master_, buf, sizeof buf)) > 0;)
            out.append(buf, qsizetype(n));
        return out;
    }

    // Reads until `want` bytes came or `ms` passed, letting the event loop run meanwhile so
    // the port under test can write.
    QByteArray receive(qsizetype want, int ms = 2000) {
        QByteArray out;
        QElapsedTimer t;
        t.start();
        while (out.size() < want && t.elapsed() < ms) {
            QCoreApplication::processEvents();
            pollfd p{master_, POLLIN, 0};
            ::poll(&p, 1, 5);
            out += drain();
        }
        return out;
    }

    // The line settings the port put on the device.
    termios slaveTermios() const {
        termios t{};
        ::tcgetattr(slave_, &t);
        return t;
    }

private:
    int master_ = -1, slave_ = -1;
    QString path_;
};

// CPU time this thread has used so far, in milliseconds.
inline qint64 threadCpuMs() {
    rusage u{};
    ::getrusage(RUSAGE_THREAD, &u);
    return qint64(u.ru_utime.tv_sec + u.ru_stime.tv_sec) * 1000 +
           qint64(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1000;
}
