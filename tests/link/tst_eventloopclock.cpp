#include "../e2e/simprocess.h"
#include "eventloopclock.h"
#include "ptypair.h"
#include "qtcommcontrol.h"

#include <QTimer>
#include <QtTest>

#include <chrono>
#include <thread>

namespace {
constexpr qint64 kMs = 1'000'000;
constexpr qint64 kSec = 1'000'000'000;

bool openOn(QtCommControl &port, const QString &device) {
    qputenv("STOWLINE_COM1", device.toLocal8Bit());
    port.setCommPort(1);
    port.setInBufferSize(32000);
    port.setInputLen(1);
    return port.setPortOpen(true);
}
} // namespace

class TestEventLoopClock : public QObject {
    Q_OBJECT
private slots:
    void idleWithNothingArriving_data();
    void idleWithNothingArriving();
    void idleEndsAtByteArrival();
    void yieldRunsPendingEvents();
    void waitingForAStreamCostsLittleCpu();
};

void TestEventLoopClock::idleWithNothingArriving_data() {
    QTest::addColumn<qint64>("aheadNs");
    QTest::addColumn<qint64>("minMs");
    QTest::addColumn<qint64>("maxMs");

    // A deadline already gone must not leave the caller asleep with no timer to wake it.
    QTest::newRow("deadline passed") << qint64(-5 * kMs) << qint64(0) << qint64(20);
    QTest::newRow("deadline now") << qint64(0) << qint64(0) << qint64(20);
    QTest::newRow("below a millisecond") << qint64(kMs / 2) << qint64(0) << qint64(20);
    QTest::newRow("50 ms") << 50 * kMs << qint64(45) << qint64(90);
}

void TestEventLoopClock::idleWithNothingArriving() {
    QFETCH(qint64, aheadNs);
    QFETCH(qint64, minMs);
    QFETCH(qint64, maxMs);
    EventLoopClock clock;
    QCoreApplication::processEvents(); // nothing left over from earlier rows
    const qint64 start = clock.nowNs();
    const qint64 deadline = start + aheadNs;
    // Callers loop until their deadline; stray events may end one call early, never late.
    int calls = 0;
    do {
        clock.idleUntil(deadline);
        ++calls;
    } while (clock.nowNs() < deadline && calls < 1000);
    const qint64 tookMs = (clock.nowNs() - start) / kMs;
    QVERIFY2(tookMs >= minMs && tookMs <= maxMs, qPrintable(QString::number(tookMs)));
    QVERIFY2(calls < 50, qPrintable(QStringLiteral("%1 calls: spinning").arg(calls)));
}

void TestEventLoopClock::idleEndsAtByteArrival() {
    PtyPair pty;
    QVERIFY(pty.ok());
    QtCommControl port;
    QVERIFY(openOn(port, pty.path()));
    EventLoopClock clock;

    std::thread controller([&pty] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        pty.send("U");
    });
    const qint64 start = clock.nowNs();
    const qint64 deadline = start + 2 * kSec;
    int calls = 0;
    while (port.InBufferCount() == 0 && clock.nowNs() < deadline) {
        clock.idleUntil(deadline);
        ++calls;
    }
    controller.join();
    const qint64 tookMs = (clock.nowNs() - start) / kMs;
    QCOMPARE(port.InBufferCount(), qint16(1));
    QVERIFY2(tookMs >= 40 && tookMs < 1000, qPrintable(QString::number(tookMs)));
    QVERIFY2(calls < 20, qPrintable(QString::number(calls)));
}

void TestEventLoopClock::yieldRunsPendingEvents() {
    EventLoopClock clock;
    bool ran = false;
    QTimer::singleShot(0, this, [&] { ran = true; });
    clock.yieldOnce();
    QVERIFY(ran);
}

// A second-generation Backup at 9600 baud spends nearly all its time waiting for the next
// byte; that waiting must sleep, not spin. STOWLINE_IDLE_SECONDS sets how long the stream runs.
void TestEventLoopClock::waitingForAStreamCostsLittleCpu() {
    const int total = qMax(2, qEnvironmentVariableIntValue("STOWLINE_IDLE_SECONDS")) * 960;
    // The controller is another process, so the figure below is the waiting process alone.
    SimProcess controller({"--generation=2", "--allow-any-size", "--trailing=0", "--rate=960",
                           QStringLiteral("--generate=%1").arg(total)});
    QtCommControl port;
    QVERIFY(openOn(port, controller.device()));
    QVERIFY(port.Output("@?"));
    EventLoopClock clock;

    // The waits of a streamed upload: yield, look at the count, take a byte once two wait,
    // otherwise sleep until something arrives (limit 2 s per byte).
    const qint64 cpuBefore = processCpuMs();
    const qint64 start = clock.nowNs();
    int taken = 0;
    for (qint64 byteStart = start; taken < total - 1 && clock.nowNs() - byteStart <= 2 * kSec;) {
        clock.yieldOnce();
        if (port.InBufferCount() >= 2) {
            port.Input();
            ++taken;
            byteStart = clock.nowNs();
        } else {
            clock.idleUntil(byteStart + 2 * kSec + 1);
        }
    }
    const qint64 wallMs = (clock.nowNs() - start) / kMs;
    const qint64 cpuMs = processCpuMs() - cpuBefore;

    const double share = 100.0 * double(cpuMs) / double(qMax<qint64>(1, wallMs));
    qInfo("%d bytes in %lld ms of waiting, %lld ms CPU: %.1f %%", taken, wallMs, cpuMs, share);
    QCOMPARE(taken, total - 1);
    QVERIFY2(share < 30.0, qPrintable(QString::number(share)));
}

QTEST_GUILESS_MAIN(TestEventLoopClock)
#include "tst_eventloopclock.moc"
