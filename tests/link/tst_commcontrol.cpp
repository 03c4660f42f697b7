// The serial port layer and the real clock over a pseudo-terminal: real device, real time.
#include "eventloopclock.h"
#include "ptypair.h"
#include "qtcommcontrol.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QtTest>
#include <thread>

namespace {
constexpr qint64 kMs = 1000000;
// Points port 1 at the pseudo-terminal and opens it.
bool openOn(QtCommControl &port, const PtyPair &pty, const QString &settings = {}) {
    qputenv("STOWLINE_COM1", pty.path().toLocal8Bit());
    if (!settings.isEmpty())
        port.setSettings(settings);
    port.setCommPort(1);
    return port.setPortOpen(true);
}
// Lets the event loop run until the port holds `want` bytes or two seconds pass.
qint16 awaitCount(QtCommControl &port, qint16 want) {
    QElapsedTimer t;
    for (t.start(); port.InBufferCount() < want && t.elapsed() < 2000;)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return port.InBufferCount();
}
constexpr int kFlagsBefore = 0x0A00;
const QString kSetLow = QStringLiteral("set %1").arg(kFlagsBefore | LowLatency::kFlag, 0, 16);
const QString kRestore = QStringLiteral("set %1").arg(kFlagsBefore, 0, 16);

// The driver's side of the low-latency calls, logged: "get", "set <flags in hex>".
struct FakeFlags : SerialFlagsIo {
    bool refuseGet = false, refuseSet = false;
    int flagsNow = kFlagsBefore;
    QStringList log;
    std::optional<int> flags(qintptr) override {
        log << QStringLiteral("get");
        return refuseGet ? std::nullopt : std::optional<int>(flagsNow);
    }
    bool setFlags(qintptr, int flags) override {
        log << QStringLiteral("set %1").arg(flags, 0, 16);
        return !refuseSet && (flagsNow = flags, true);
    }
};
} // namespace

class TestCommControl : public QObject {
    Q_OBJECT
    enum Event { Nothing, Drain, HangUp, Close };
private slots:
    void init() { qunsetenv("STOWLINE_COM1"); }

    void bytesBothWays() {
        // A pseudo-terminal has no modem lines: RTS and RTS/CTS are refused by the device, and
        // the port must open and carry bytes all the same.
        PtyPair pty;
        QtCommControl port;
        port.setRTSEnable(true);
        port.setHandshaking(2);
        port.setInputLen(1);
        QVERIFY(pty.send("stale")); // from an earlier exchange: dropped at the opening
        port.setInBufferCount(0);
        QVERIFY2(openOn(port, pty), qPrintable(port.openError()));
        QCOMPARE(port.deviceName(), pty.path());
        QTest::qWait(50);
        QCOMPARE(port.InBufferCount(), qint16(0));
        QVERIFY(port.Output("@?") && port.Output(QByteArray("\x00\xff", 2)));
        QCOMPARE(pty.receive(4), QByteArray("@?\x00\xff", 4));
        QVERIFY(pty.send(QByteArray("\x10\x27\x00\x00", 4)));
        QCOMPARE(awaitCount(port, 4), qint16(4));
        QCOMPARE(port.Input(), QByteArray("\x10", 1));
        port.setInputLen(0); // all that waits
        QCOMPARE(port.Input(), QByteArray("\x27\x00\x00", 3));
        // Writing 0 while open drops what waits, here and in the device.
        QVERIFY(pty.send("UV"));
        QCOMPARE(awaitCount(port, 2), qint16(2));
        port.setInBufferCount(0);
        QTest::qWait(20);
        QCOMPARE(port.InBufferCount(), qint16(0));
        QVERIFY(port.setPortOpen(false) && !port.Output("A"));
    }

    // A pseudo-terminal keeps speed, stop bits and flow control as set (it forces 8 data bits
    // and no parity). Property values outlive an opening.
    void lineSettingsReachDevice_data() {
        QTest::addColumn<QStringList>("writes");
        QTest::addColumn<int>("handshaking");
        QTest::addColumn<int>("speed");
        QTest::newRow("initial") << QStringList() << 0 << int(B57600);
        QTest::newRow("second generation") << QStringList{"9600,N,8,1"} << 2 << int(B9600);
        QTest::newRow("refused format keeps the one in force")
            << QStringList{"9600,N,8,1", "9600,Q,8,1"} << 0 << int(B9600);
    }
    void lineSettingsReachDevice() {
        QFETCH(QStringList, writes);
        QFETCH(int, handshaking);
        QFETCH(int, speed);
        PtyPair pty;
        QtCommControl port;
        for (const QString &w : writes)
            port.setSettings(w);
        port.setHandshaking(handshaking);
        QVERIFY(openOn(port, pty));
        for (int opening = 1; opening <= 2; ++opening) {
            const termios t = pty.slaveTermios();
            QCOMPARE(int(cfgetospeed(&t)), speed);
            QVERIFY(!(t.c_cflag & CSTOPB));
            QCOMPARE(bool(t.c_cflag & CRTSCTS), handshaking == 2);
            QVERIFY(port.setPortOpen(false) && port.setPortOpen(true));
        }
    }

    void fullTransmitBuffer_data() {
        QTest::addColumn<int>("event"); // what happens while Output waits for room
        QTest::addColumn<int>("stallLimitMs");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("controller stalls") << int(Nothing) << 150 << 140 << 1500;
        QTest::newRow("controller resumes") << int(Drain) << 3000 << 80 << 2500;
        QTest::newRow("device hung up") << int(HangUp) << 4000 << 40 << 1500;
        QTest::newRow("port closed by the window") << int(Close) << 4000 << 40 << 1500;
    }
    void fullTransmitBuffer() {
        QFETCH(int, event);
        QFETCH(int, stallLimitMs);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        PtyPair pty;
        QtCommControl port;
        port.setOutputStallLimitMs(50);
        // A fast line: what the line model still counts as on its way adds little to the stall.
        QVERIFY(openOn(port, pty, "921600,N,8,1"));
        // The master reads nothing: the device queue fills, then the program's own buffer.
        const QByteArray chunk(QtCommControl::OutBufferSize / 2, 'x');
        bool stalled = false;
        for (int i = 0; i < 16384 && !stalled; ++i) {
            stalled = !port.Output(chunk);
            QVERIFY(port.OutBufferCount() <= QtCommControl::OutBufferSize);
        }
        QVERIFY2(stalled, "Output never waited on a device that takes nothing");
        QVERIFY(port.portOpen()); // a stalled controller is no lost device

        qint64 drained = 0;
        QSocketNotifier reader(pty.master(), QSocketNotifier::Read);
        reader.setEnabled(false);
        connect(&reader, &QSocketNotifier::activated, this, [&] { drained += pty.drain().size(); });
        QTimer::singleShot(100, this, [&] {
            if (event == Drain)
                drained += pty.drain().size(), reader.setEnabled(true);
            else if (event == HangUp)
                pty.closeMaster();
            else if (event == Close)
                port.setPortOpen(false);
        });
        port.setOutputStallLimitMs(stallLimitMs);
        const qint64 cpuBefore = threadCpuMs();
        QElapsedTimer t;
        t.start();
        QCOMPARE(port.Output(chunk), event == Drain);
        const qint64 tookMs = t.elapsed();
        QVERIFY2(tookMs >= minMs && tookMs <= maxMs, qPrintable(QString::number(tookMs)));
        QVERIFY(threadCpuMs() - cpuBefore <= tookMs / 2 + 5); // slept instead of spinning
        QCOMPARE(port.portOpen(), event <= Drain);
        QCOMPARE(drained > 0, event == Drain);
    }

    void hangUpClosesPortWithoutStorm() {
        PtyPair pty;
        QtCommControl port;
        port.setInputLen(1);
        QVERIFY(openOn(port, pty));
        QVERIFY(pty.send("ab"));
        QCOMPARE(awaitCount(port, 2), qint16(2));
        QCOMPARE(port.Input(), QByteArrayLiteral("a"));
        // The controller end goes away in the middle of a read.
        const int errorsBefore = port.errorSignalCount();
        pty.closeMaster();
        QElapsedTimer t;
        for (t.start(); port.portOpen() && t.elapsed() < 1000;)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
        QVERIFY2(!port.portOpen() && t.elapsed() < 200, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!port.lostReason().isEmpty());
        // Further event processing stays quiet: no error storm, no spinning.
        const qint64 cpuBefore = threadCpuMs();
        QTest::qWait(200);
        QVERIFY(port.errorSignalCount() - errorsBefore <= 3);
        QVERIFY(threadCpuMs() - cpuBefore < 100);
        QVERIFY(!port.Output("A") && port.InBufferCount() == 0 && port.Input().isEmpty());
        // The device node went with the master; a fresh opening reports it cleanly.
        QVERIFY(port.setPortOpen(false) && !port.setPortOpen(true));
        QVERIFY(!port.openError().isEmpty() && port.lostReason().isEmpty());
    }

    void openFailures_data() {
        QTest::addColumn<int>("commPort");
        QTest::addColumn<QString>("device"); // "pty": a pseudo-terminal another program holds
        QTest::addColumn<QString>("error");
        QTest::newRow("no port selected") << 0 << QString() << "no port selected";
        QTest::newRow("missing device") << 1 << "/dev/stowline-no-such-tty"
                                        << "No such file or directory";
        QTest::newRow("not a terminal") << 1 << "/dev/null"
                                        << "Inappropriate ioctl for device";
        QTest::newRow("device busy") << 1 << "pty"
                                     << "Device or resource busy";
    }
    void openFailures() {
        QFETCH(int, commPort);
        QFETCH(QString, device);
        QFETCH(QString, error);
        PtyPair pty;
        QSerialPort holder(pty.path()); // another program with the device open
        if (device == "pty") {
            QVERIFY(holder.open(QIODevice::ReadWrite));
            device = pty.path();
        }
        if (!device.isEmpty())
            qputenv("STOWLINE_COM1", device.toLocal8Bit());
        QtCommControl port;
        port.setCommPort(qint16(commPort));
        QVERIFY(!port.setPortOpen(true) && !port.portOpen());
        QCOMPARE(port.openError(), error);
        QCOMPARE(port.deviceName(), device);
        QVERIFY(!port.Output("B") && port.InBufferCount() == 0 && port.setPortOpen(false));
        holder.close(); // the fault goes away: the same port opens
        QCOMPARE(port.setPortOpen(true), device == pty.path());
    }

    void lineDrainFollowsTheLineRate_data() { // at 9600 baud, 960 bytes a second
        QTest::addColumn<int>("bytes");
        QTest::addColumn<double>("seconds"); // what the line needs for them
        QTest::newRow("960 bytes") << 960 << 1.0;
        // A pseudo-terminal takes far more than a line could carry; the model caps its queue.
        QTest::newRow("capped") << 60000 << 24576 / 960.0;
    }
    void lineDrainFollowsTheLineRate() {
        QFETCH(int, bytes);
        QFETCH(double, seconds);
        PtyPair pty;
        QtCommControl port;
        QVERIFY(openOn(port, pty, "9600,N,8,1"));
        QCOMPARE(port.lineDrainNs(), 0);
        QElapsedTimer sent;
        sent.start();
        for (int i = 0; i < bytes; i += 100, pty.drain())
            QVERIFY(port.Output(QByteArray(qMin(100, bytes - i), 'x')));
        const double left = double(port.lineDrainNs()) * 1e-9;
        const double spent = double(sent.nsecsElapsed()) * 1e-9;
        QVERIFY2(left <= seconds + 0.01 && left >= seconds - spent - 0.05,
                 qPrintable(QStringLiteral("%1 s left after %2 s").arg(left).arg(spent)));
        port.setPortOpen(false);
        QCOMPARE(port.lineDrainNs(), 0);
    }

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
        QtCommControl port;
        QVERIFY(openOn(port, pty));
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

    // Low latency on the open descriptor: flags read, bit set, flags put back before every
    // close; a driver that refuses is left alone and the port works as before.
    void lowLatency_data() {
        QTest::addColumn<QString>("driver");
        QTest::addColumn<QString>("end"); // how the opening ends
        QTest::addColumn<QStringList>("calls");
        for (const char *end : {"closed", "device lost", "port destroyed"})
            QTest::addRow("%s", end) << "takes" << end << QStringList{"get", kSetLow, kRestore};
        QTest::newRow("get refused") << "refuses get"
                                     << "closed" << QStringList{"get"};
        QTest::newRow("set refused") << "refuses set"
                                     << "closed" << QStringList{"get", kSetLow};
        QTest::newRow("already low latency") << "already low"
                                             << "closed" << QStringList{"get"};
    }
    void lowLatency() {
        QFETCH(QString, driver);
        QFETCH(QString, end);
        QFETCH(QStringList, calls);
        PtyPair pty;
        auto owned = std::make_unique<FakeFlags>(); // outlives the port
        FakeFlags &flags = *owned;
        flags.refuseGet = driver == "refuses get";
        flags.refuseSet = driver == "refuses set";
        if (driver == "already low")
            flags.flagsNow |= LowLatency::kFlag;
        const int before = flags.flagsNow;
        auto port = std::make_unique<QtCommControl>();
        port->setSerialFlagsIo(&flags);
        for (int opening = 0; opening < 2; ++opening) { // state does not leak between openings
            flags.log.clear();
            QVERIFY2(openOn(*port, pty), qPrintable(port->openError()));
            QVERIFY(port->Output(QByteArrayLiteral("B"))); // works whatever the driver said
            QCOMPARE(pty.receive(1), QByteArrayLiteral("B"));
            if (end == "closed" || opening == 0) {
                port->discardOutput();
                QVERIFY(port->setPortOpen(false));
            } else if (end == "device lost") {
                pty.closeMaster();
                QTRY_VERIFY(!port->portOpen());
            } else {
                port.reset();
            }
            QCOMPARE(flags.log, calls);
            QCOMPARE(flags.flagsNow, before);
        }
    }
};

QTEST_GUILESS_MAIN(TestCommControl)
#include "tst_commcontrol.moc"
