#include "eventloopclock.h"
#include "ptypair.h"
#include "qtcommcontrol.h"

#include <QTimer>
#include <QtTest>

#include <chrono>
#include <thread>

namespace {
constexpr qint64 kMs = 1'000'000;
} // namespace

class TestEventLoopClock : public QObject {
    Q_OBJECT
private slots:
    void idleUntil_data() {
        QTest::addColumn<qint64>("aheadNs");
        QTest::addColumn<int>("byteAfterMs"); // -1: nothing arrives
        QTest::addColumn<qint64>("minMs");
        QTest::addColumn<qint64>("maxMs");
        // A deadline already gone must not leave the caller asleep with no timer to wake it.
        QTest::newRow("deadline passed") << -5 * kMs << -1 << 0LL << 20LL;
        QTest::newRow("below a millisecond") << kMs / 2 << -1 << 0LL << 20LL;
        QTest::newRow("50 ms, nothing arrives") << 50 * kMs << -1 << 45LL << 90LL;
        QTest::newRow("a byte wakes it") << 2000 * kMs << 50 << 40LL << 1000LL;
    }
    // Callers loop until their deadline or a byte; stray events may end one call early, never
    // late, and the loop sleeps instead of spinning.
    void idleUntil() {
        QFETCH(qint64, aheadNs);
        QFETCH(int, byteAfterMs);
        QFETCH(qint64, minMs);
        QFETCH(qint64, maxMs);
        PtyPair pty;
        QVERIFY(pty.ok());
        QtCommControl port;
        qputenv("STOWLINE_COM1", pty.path().toLocal8Bit());
        port.setCommPort(1);
        QVERIFY(port.setPortOpen(true));
        std::thread controller([&pty, byteAfterMs] {
            if (byteAfterMs >= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(byteAfterMs));
                pty.send("U");
            }
        });
        EventLoopClock clock;
        QCoreApplication::processEvents(); // nothing left over from earlier rows
        const qint64 start = clock.nowNs(), deadline = start + aheadNs;
        const qint64 cpuBefore = threadCpuMs();
        int calls = 0;
        while (port.InBufferCount() == 0 && clock.nowNs() < deadline && calls < 1000) {
            clock.idleUntil(deadline);
            ++calls;
        }
        controller.join();
        const qint64 tookMs = (clock.nowNs() - start) / kMs;
        QVERIFY2(tookMs >= minMs && tookMs <= maxMs, qPrintable(QString::number(tookMs)));
        QVERIFY2(calls < 20, qPrintable(QStringLiteral("%1 calls: spinning").arg(calls)));
        QVERIFY(threadCpuMs() - cpuBefore <= tookMs / 2 + 10);
        QCOMPARE(port.InBufferCount(), qint16(byteAfterMs >= 0 ? 1 : 0));
    }

    void yieldRunsPendingEvents() {
        EventLoopClock clock;
        bool ran = false;
        QTimer::singleShot(0, this, [&] { ran = true; });
        clock.yieldOnce();
        QVERIFY(ran);
    }
};

QTEST_GUILESS_MAIN(TestEventLoopClock)
#include "tst_eventloopclock.moc"
