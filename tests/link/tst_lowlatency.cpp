// Low-latency mode on the open descriptor: read the flags, set the bit, put the flags back
// before every close; a driver that refuses is left alone and the port works as before.
#include "ptypair.h"
#include "qtcommcontrol.h"

#include <QtTest>

namespace {

constexpr int kBefore = 0x0A00; // flags the driver had

// The driver's side of the two calls, logged: "get", "set <flags in hex>".
class FakeFlags : public SerialFlagsIo {
public:
    bool refuseGet = false;
    bool refuseSet = false;
    int flagsNow = kBefore;
    QStringList log;
    std::optional<int> flags(qintptr) override {
        log << QStringLiteral("get");
        return refuseGet ? std::nullopt : std::optional<int>(flagsNow);
    }
    bool setFlags(qintptr, int flags) override {
        log << QStringLiteral("set %1").arg(flags, 0, 16);
        if (refuseSet)
            return false;
        flagsNow = flags;
        return true;
    }
};

const QString kSetLow = QStringLiteral("set %1").arg(kBefore | LowLatency::kFlag, 0, 16);
const QString kRestore = QStringLiteral("set %1").arg(kBefore, 0, 16);

} // namespace

class TestLowLatency : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { qunsetenv("STOWLINE_COM1"); }

    void aroundEachOpening_data() {
        QTest::addColumn<QString>("driver"); // what the driver does
        QTest::addColumn<QString>("end");    // how the opening ends
        QTest::addColumn<QStringList>("calls");
        const QStringList engaged{"get", kSetLow};
        for (const char *end : {"closed", "device lost", "port destroyed"}) {
            QTest::addRow("%s", end) << "takes" << end << engaged + QStringList{kRestore};
            QTest::addRow("get refused, %s", end) << "refuses get" << end << QStringList{"get"};
            QTest::addRow("set refused, %s", end)
                << "refuses set" << end << QStringList{"get", kSetLow};
        }
        QTest::newRow("already low latency") << "already low"
                                             << "closed" << QStringList{"get"};
    }
    void aroundEachOpening() {
        QFETCH(QString, driver);
        QFETCH(QString, end);
        QFETCH(QStringList, calls);
        PtyPair pty;
        QVERIFY(pty.ok());
        FakeFlags flags;
        flags.refuseGet = driver == "refuses get";
        flags.refuseSet = driver == "refuses set";
        if (driver == "already low")
            flags.flagsNow |= LowLatency::kFlag;
        const int before = flags.flagsNow;
        qputenv("STOWLINE_COM1", pty.path().toLocal8Bit());
        auto port = std::make_unique<QtCommControl>();
        port->setSerialFlagsIo(&flags);
        port->setCommPort(1);
        for (int opening = 0; opening < 2; ++opening) { // state does not leak between openings
            flags.log.clear();
            QVERIFY2(port->setPortOpen(true), qPrintable(port->openError()));
            // The port works whatever the driver said.
            QVERIFY(port->Output(QByteArrayLiteral("B")));
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

QTEST_GUILESS_MAIN(TestLowLatency)
#include "tst_lowlatency.moc"
