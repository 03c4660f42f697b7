#include "eventloopclock.h"
#include "ptypair.h"
#include "qtcommcontrol.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include <chrono>
#include <thread>

namespace {
constexpr qint64 kMs = 1'000'000;
}

class TestEventLoopClock : public QObject {
    Q_OBJECT
private slots:
    void idleWithNothingArriving_data();
    void idleWithNothingArriving();
    void idleEndsAtByteArrival();
    void yieldRunsPendingEvents();
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
    qputenv("STOWLINE_COM1", pty.path().toLocal8Bit());
    QtCommControl port;
    port.setCommPort(1);
    QVERIFY(port.setPortOpen(true));
    EventLoopClock clock;

    const int master = pty.master();
    std::thread controller([master] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const char byte = 'U';
        (void)::write(master, &byte, 1);
    });
    const qint64 start = clock.nowNs();
    const qint64 deadline = start + 2000 * kMs;
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

QTEST_GUILESS_MAIN(TestEventLoopClock)
#include "tst_eventloopclock.moc"
