#include "eventloopclock.h"
#include "ptypair.h"
#include "qtcommcontrol.h"

#include <QtTest>

#include <csignal>
#include <ctime>
#include <sys/wait.h>

// A Backup of a second-generation controller at 9600 baud spends nearly all its time waiting
// for the next byte; that waiting must sleep, not spin. STOWLINE_IDLE_SECONDS sets how long
// the stream runs (default 2).
class TestIdleCpu : public QObject {
    Q_OBJECT
private slots:
    void waitingForAStreamCostsLittleCpu();
};

void TestIdleCpu::waitingForAStreamCostsLittleCpu() {
    const int seconds = qMax(1, qEnvironmentVariableIntValue("STOWLINE_IDLE_SECONDS") > 0
                                    ? qEnvironmentVariableIntValue("STOWLINE_IDLE_SECONDS")
                                    : 2);
    constexpr int kBytesPerSecond = 960; // 9600 baud, 10 bits a byte
    PtyPair pty;
    QVERIFY(pty.ok());
    qputenv("STOWLINE_COM1", pty.path().toLocal8Bit());
    QtCommControl port;
    port.setCommPort(1);
    port.setInBufferSize(32000);
    port.setInputLen(1);
    QVERIFY(port.setPortOpen(true));
    EventLoopClock clock;

    // The controller is a child process, so the figure below is the waiting process alone.
    const int total = seconds * kBytesPerSecond;
    const pid_t controller = ::fork();
    QVERIFY(controller >= 0);
    if (controller == 0) {
        timespec next{};
        ::clock_gettime(CLOCK_MONOTONIC, &next);
        for (int i = 0; i < total; ++i) {
            const char byte = char(i);
            if (::write(pty.master(), &byte, 1) != 1)
                ::_exit(1);
            next.tv_nsec += 1'000'000'000L / kBytesPerSecond;
            if (next.tv_nsec >= 1'000'000'000L) {
                next.tv_nsec -= 1'000'000'000L;
                ++next.tv_sec;
            }
            ::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        }
        ::_exit(0);
    }

    // The waits of a streamed upload: yield, look at the count, take a byte once two wait,
    // otherwise sleep until something arrives (limit 2 s per byte).
    const qint64 cpuBefore = processCpuMs();
    const qint64 start = clock.nowNs();
    int taken = 0;
    qint64 byteStart = start;
    while (taken < total - 1) {
        if (clock.nowNs() - byteStart > 2'000'000'000LL)
            break;
        clock.yieldOnce();
        if (port.InBufferCount() >= 2) {
            port.Input();
            ++taken;
            byteStart = clock.nowNs();
            continue;
        }
        clock.idleUntil(byteStart + 2'000'000'001LL);
    }
    const qint64 wallMs = (clock.nowNs() - start) / 1'000'000;
    const qint64 cpuMs = processCpuMs() - cpuBefore;
    ::kill(controller, SIGKILL);
    ::waitpid(controller, nullptr, 0);

    const double share = 100.0 * double(cpuMs) / double(qMax<qint64>(1, wallMs));
    qInfo("%d bytes in %lld ms of waiting, %lld ms CPU: %.1f %%", taken, wallMs, cpuMs, share);
    QCOMPARE(taken, total - 1);
    QVERIFY2(share < 30.0, qPrintable(QString::number(share)));
}

QTEST_GUILESS_MAIN(TestIdleCpu)
#include "tst_idlecpu.moc"
