// The serial port layer and the real clock over a pseudo-terminal: real device, real time.
#include "ptypair.h"
#include "qtcommcontrol.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QtTest>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

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
    enum Event { Nothing, Drain, Stop, HangUp, Close };
private slots:
    void init() { qunsetenv("STOWLINE_COM1"); }

    void fullTransmitBuffer_data() {
        QTest::addColumn<int>("event"); // what happens while Output waits for room
        QTest::addColumn<int>("stallLimitMs");
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("controller stalls") << int(Nothing) << 150 << 140 << 1500;
        QTest::newRow("controller resumes") << int(Drain) << 3000 << 80 << 2500;
        QTest::newRow("stop asked for") << int(Stop) << 4000 << 80 << 1500;
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
        bool stop = false;
        port.setStopCheck([&stop] { return stop; });
        QSocketNotifier reader(pty.master(), QSocketNotifier::Read);
        reader.setEnabled(false);
        connect(&reader, &QSocketNotifier::activated, this, [&] { drained += pty.drain().size(); });
        QTimer::singleShot(100, this, [&] {
            if (event == Drain)
                drained += pty.drain().size(), reader.setEnabled(true);
            else if (event == Stop)
                stop = true;
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
        QCOMPARE(port.portOpen(), event <= Stop);
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
        QTest::addColumn<QString>("device"); // "pty", "link": held elsewhere; "locked": mode 0600
        QTest::addColumn<QString>("error");
        QTest::addColumn<int>("cause"); // OpenFailure: what the box's advice line is chosen by
        QTest::newRow("busy via a link")
            << 0 << QString() << "no port selected" << int(OpenFailure::NoPort);
        QTest::newRow("missing device") << 1 << "/dev/stowline-no-such-tty"
                                        << "No such file or directory" << int(OpenFailure::Missing);
        QTest::newRow("device busy") << 1 << "pty"
                                     << "Device or resource busy" << int(OpenFailure::Busy);
        QTest::newRow("busy via a link") << 1 << "link"
                                         << "Device or resource busy" << int(OpenFailure::Busy);
        QTest::newRow("no permission") << 1 << "locked"
                                       << "Permission denied" << int(OpenFailure::Permission);
    }
    void openFailures() {
        QFETCH(int, commPort);
        QFETCH(QString, device);
        QFETCH(QString, error);
        PtyPair pty;
        QSerialPort holder(pty.path()); // another program with the device open
        QtCommControl other;            // another Stowline: root passes TIOCEXCL
        QTemporaryDir dir;
        if (device == "pty")
            QVERIFY(holder.open(QIODevice::ReadWrite));
        if (device == "link") { // held by another Stowline, opened here through a link to it
            QVERIFY(openOn(other, pty) && QFile::link(pty.path(), dir.filePath("link")));
            device = dir.filePath("link");
            const int probe = ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY);
            QVERIFY(::flock(probe, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK); // held
            ::close(probe);
        }
        const bool locked = device == "locked";
        const uid_t user = locked && ::geteuid() == 0 ? 65534 : ::geteuid(); // root opens all
        if (device == "pty" || locked)
            device = pty.path();
        QVERIFY(!locked || ::chmod(QFile::encodeName(device).constData(), 0600) == 0);
        if (!device.isEmpty())
            qputenv("STOWLINE_COM1", device.toLocal8Bit());
        QtCommControl port;
        port.setCommPort(qint16(commPort));
        QVERIFY(::seteuid(user) == 0);
        const bool opened = port.setPortOpen(true);
        QVERIFY(::seteuid(0) == 0 || user != 0);
        QVERIFY(!opened && !port.portOpen());
        QCOMPARE(port.openError(), error);
        QTEST(int(port.openFailure()), "cause");
        QCOMPARE(port.deviceName(), device);
        QVERIFY(!port.Output("B") && port.InBufferCount() == 0 && port.setPortOpen(false));
        holder.close(); // the fault goes away: the same port opens
        QVERIFY(other.setPortOpen(false));
        QCOMPARE(port.setPortOpen(true), device == pty.path() || device.endsWith("link"));
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
