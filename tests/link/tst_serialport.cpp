// The serial port over a pseudo-terminal: real device, real time, waits in the kernel.
#include "link/qtserialport.h"
#include "ptypair.h"

#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {
constexpr qint64 kMs = 1000000;
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
enum Event { Nothing, Drain, Send, Stop, HangUp };

// What the controller's side or the window does 100 ms in, from a thread of its own, while the
// port's thread waits.
std::jthread after100ms(Event event, PtyPair &pty, StopToken &stop, std::atomic<qint64> &drained) {
    return std::jthread([event, &pty, &stop, &drained](std::stop_token done) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (event == Drain)
            for (; !done.stop_requested();
                 std::this_thread::sleep_for(std::chrono::milliseconds(1)))
                drained += pty.drain().size();
        else if (event == Send)
            pty.send("ab");
        else if (event == Stop)
            stop.request();
        else if (event == HangUp)
            pty.closeMaster();
    });
}
} // namespace

class TestSerialPort : public QObject {
    Q_OBJECT
private slots:
    void fullTransmitBuffer_data() {
        QTest::addColumn<int>("event"); // what happens while write() waits for room
        QTest::addColumn<int>("stallLimitMs");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("controller stalls") << int(Nothing) << 150 << 140 << 1500;
        QTest::newRow("controller resumes") << int(Drain) << 3000 << 80 << 2500;
        QTest::newRow("stop asked for") << int(Stop) << 4000 << 80 << 1500;
        QTest::newRow("device hung up") << int(HangUp) << 4000 << 40 << 1500;
    }
    void fullTransmitBuffer() {
        QFETCH(int, event);
        QFETCH(int, stallLimitMs);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        PtyPair pty;
        QtSerialPort port;
        StopToken stop;
        port.watch(&stop);
        port.setStallLimitMs(50);
        // A fast line: what the line model still counts as on its way adds little to the stall.
        QVERIFY(port.open(pty.path(), {921600}, FlowControl::None));
        // The master reads nothing: the device queue fills, then the program's own buffer.
        const QByteArray chunk(QtSerialPort::kOutBufferSize / 2, 'x');
        bool stalled = false;
        for (int i = 0; i < 16384 && !stalled; ++i) {
            stalled = !port.write(chunk);
            QVERIFY(port.unsentCount() <= QtSerialPort::kOutBufferSize);
        }
        QVERIFY2(stalled, "write() never waited on a device that takes nothing");
        QVERIFY(port.isOpen()); // a stalled controller is no lost device

        std::atomic<qint64> drained = 0;
        std::jthread other = after100ms(Event(event), pty, stop, drained);
        port.setStallLimitMs(stallLimitMs);
        const qint64 cpuBefore = threadCpuMs();
        QElapsedTimer t;
        t.start();
        const bool written = port.write(chunk);
        const qint64 tookMs = t.elapsed();
        other = {};
        QCOMPARE(written, event == Drain);
        QVERIFY2(tookMs >= minMs && tookMs <= maxMs, qPrintable(QString::number(tookMs)));
        QVERIFY(threadCpuMs() - cpuBefore <= tookMs / 2 + 5); // slept instead of spinning
        QCOMPARE(port.isOpen(), event <= Stop);
        QCOMPARE(drained > 0, event == Drain);
    }

    // A wait for bytes sleeps in the kernel until they come, a stop is asked for from another
    // thread, or the time is up.
    void waitForBytes_data() {
        QTest::addColumn<int>("event");
        QTest::addColumn<int>("timeoutMs");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("bytes arrive") << int(Send) << 3000 << 80 << 1000;
        QTest::newRow("stop asked for") << int(Stop) << 3000 << 80 << 1000;
        QTest::newRow("silent") << int(Nothing) << 300 << 295 << 1000;
    }
    void waitForBytes() {
        QFETCH(int, event);
        QFETCH(int, timeoutMs);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        PtyPair pty;
        QtSerialPort port;
        StopToken stop;
        port.watch(&stop);
        QVERIFY(port.open(pty.path(), {}, FlowControl::None));
        std::atomic<qint64> drained = 0;
        std::jthread other = after100ms(Event(event), pty, stop, drained);
        const qint64 cpuBefore = threadCpuMs();
        QElapsedTimer t;
        t.start();
        port.waitForBytes(timeoutMs * kMs);
        const qint64 tookMs = t.elapsed();
        other = {};
        QVERIFY2(tookMs >= minMs && tookMs <= maxMs, qPrintable(QString::number(tookMs)));
        QVERIFY(threadCpuMs() - cpuBefore <= 5);
        QCOMPARE(port.bytesWaiting(), event == Send ? 2 : 0);
        QVERIFY(port.isOpen());
    }

    void hangUpClosesPortWithoutStorm() {
        PtyPair pty;
        QtSerialPort port;
        QVERIFY(port.open(pty.path(), {}, FlowControl::None));
        QVERIFY(pty.send("ab"));
        QElapsedTimer t;
        for (t.start(); port.bytesWaiting() < 2 && t.elapsed() < 2000;)
            port.waitForBytes(100 * kMs);
        QCOMPARE(port.read(1), QByteArrayLiteral("a"));
        // The controller end goes away in the middle of a read.
        const int errorsBefore = port.errorSignalCount();
        pty.closeMaster();
        for (t.start(); port.isOpen() && t.elapsed() < 1000;)
            port.waitForBytes(1000 * kMs);
        QVERIFY2(!port.isOpen() && t.elapsed() < 200, qPrintable(QString::number(t.elapsed())));
        QVERIFY(!port.lostReason().isEmpty());
        // Further event processing stays quiet: no error storm, no spinning.
        const qint64 cpuBefore = threadCpuMs();
        QTest::qWait(200);
        QVERIFY(port.errorSignalCount() - errorsBefore <= 3);
        QVERIFY(threadCpuMs() - cpuBefore < 100);
        QVERIFY(!port.write("A") && port.bytesWaiting() == 0 && port.read(1).isEmpty());
        // The device node went with the master; a fresh opening reports it cleanly.
        port.close();
        QVERIFY(!port.open(pty.path(), {}, FlowControl::None));
        QVERIFY(!port.openError().isEmpty() && port.lostReason().isEmpty());
    }

    void openFailures_data() {
        QTest::addColumn<QString>("device"); // "pty", "link": held elsewhere; "locked": mode 0600
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("cause"); // OpenFailure: what the box's advice line is chosen by
        QTest::newRow("no port selected")
            << QString() << "no port selected" << int(OpenFailure::NoPort);
        QTest::newRow("missing device") << "/dev/stowline-no-such-tty"
                                        << "No such file or directory" << int(OpenFailure::Missing);
        QTest::newRow("device busy") << "pty"
                                     << "Device or resource busy" << int(OpenFailure::Busy);
        QTest::newRow("busy via a link") << "link"
                                         << "Device or resource busy" << int(OpenFailure::Busy);
        QTest::newRow("no permission") << "locked"
                                       << "Permission denied" << int(OpenFailure::Permission);
    }
    void openFailures() {
        QFETCH(QString, device);
        QFETCH(QString, error);
        PtyPair pty;
        QSerialPort holder(pty.path()); // another program with the device open
        QtSerialPort other;             // another Stowline: root passes TIOCEXCL, not the lock
        QTemporaryDir dir;
        if (device == "pty")
            QVERIFY(holder.open(QIODevice::ReadWrite));
        if (device == "link") { // held by another Stowline, opened here through a link to it
            QVERIFY(other.open(pty.path(), {}, FlowControl::None));
            QVERIFY(QFile::link(pty.path(), dir.filePath("link")));
            device = dir.filePath("link");
        }
        const bool locked = device == "locked";
        const uid_t user = locked && ::geteuid() == 0 ? 65534 : ::geteuid(); // root opens all
        if (device == "pty" || locked)
            device = pty.path();
        QVERIFY(!locked || ::chmod(QFile::encodeName(device).constData(), 0600) == 0);
        QtSerialPort port;
        QVERIFY(::seteuid(user) == 0);
        const bool opened = port.open(device, {}, FlowControl::RtsCts);
        QVERIFY(::seteuid(0) == 0 || user != 0);
        QVERIFY(!opened && !port.isOpen());
        QCOMPARE(port.openError(), error);
        QTEST(int(port.openFailure()), "cause");
        QVERIFY(!port.write("B") && port.bytesWaiting() == 0);
        port.close();
        holder.close(); // the fault goes away: the same device opens
        other.close();
        QCOMPARE(port.open(device, {}, FlowControl::RtsCts),
                 device == pty.path() || device.endsWith("link"));
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
        auto port = std::make_unique<QtSerialPort>();
        port->setSerialFlagsIo(&flags);
        for (int opening = 0; opening < 2; ++opening) { // state does not leak between openings
            flags.log.clear();
            QVERIFY2(port->open(pty.path(), {}, FlowControl::None), qPrintable(port->openError()));
            QVERIFY(port->write(QByteArrayLiteral("B"))); // works whatever the driver said
            QCOMPARE(pty.receive(1), QByteArrayLiteral("B"));
            if (end == "closed" || opening == 0) {
                port->close(true);
            } else if (end == "device lost") {
                pty.closeMaster();
                port->waitForBytes(1000 * kMs);
                QVERIFY(!port->isOpen());
            } else {
                port.reset();
            }
            QCOMPARE(flags.log, calls);
            QCOMPARE(flags.flagsNow, before);
        }
    }
};

QTEST_GUILESS_MAIN(TestSerialPort)
#include "tst_serialport.moc"
