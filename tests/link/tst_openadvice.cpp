// The line of advice under "Cannot open": composed from the cause, the ports present now and
// the device's group, without any device.
#include "openadvice.h"

#include <QtTest>

namespace {

SerialPortEntry entry(const char *device, const char *description) {
    SerialPortEntry e;
    e.device = QLatin1String(device);
    e.description = QLatin1String(description);
    return e;
}

const QString kChoose = QStringLiteral("Settings \u2192 Port \u2192 Choose Device\u2026");

} // namespace

class TestOpenAdvice : public QObject {
    Q_OBJECT
private slots:
    void advice_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<int>("ports"); // present now, from a list of six
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("advice");
        const auto add = [](const char *name, OpenFailure f, int ports, const char *group,
                            const QString &advice) {
            QTest::newRow(name) << int(f) << ports << QString::fromLatin1(group) << advice;
        };
        add("missing, none present", OpenFailure::Missing, 0, "",
            "No serial port is present now: plug the adapter in, then choose it under " + kChoose +
                ".");
        add("missing, two present", OpenFailure::Missing, 2, "",
            "Serial ports present now: /dev/ttyS0, /dev/ttyUSB0 (FT232R USB UART). Choose the "
            "right one under " +
                kChoose + ".");
        add("missing, six present: four shown", OpenFailure::Missing, 6, "",
            "Serial ports present now: /dev/ttyS0, /dev/ttyUSB0 (FT232R USB UART), /dev/ttyUSB1 "
            "(USB-Serial Controller), /dev/ttyACM0 (CP2102 USB to UART) and 2 more. Choose the "
            "right one under " +
                kChoose + ".");
        add("permission, dialout", OpenFailure::Permission, 2, "dialout",
            "The device belongs to the group dialout: add your user to it (sudo usermod -aG "
            "dialout $USER), then log out and log in again.");
        add("permission, group unknown", OpenFailure::Permission, 2, "",
            "This user may not open the device: ask for access to it, then log in again.");
        add("permission, root's own", OpenFailure::Permission, 2, "root",
            "This user may not open the device: ask for access to it, then log in again.");
        add("busy", OpenFailure::Busy, 2, "dialout",
            "Another program holds the port (a terminal program, a modem manager): close it and "
            "try again.");
        add("no port chosen", OpenFailure::NoPort, 2, "dialout", "");
        add("other", OpenFailure::Other, 2, "dialout", "");
    }
    void advice() {
        QFETCH(int, failure);
        QFETCH(int, ports);
        QFETCH(QString, group);
        QFETCH(QString, advice);
        const QList<SerialPortEntry> all{entry("/dev/ttyS0", ""),
                                         entry("/dev/ttyUSB0", "FT232R USB UART"),
                                         entry("/dev/ttyUSB1", "USB-Serial Controller"),
                                         entry("/dev/ttyACM0", "CP2102 USB to UART"),
                                         entry("/dev/ttyACM1", "x"),
                                         entry("/dev/ttyACM2", "y")};
        QStringList asked;
        const PortInventory present = [&] {
            asked << QStringLiteral("ports");
            return all.mid(0, ports);
        };
        const DeviceGroupLookup groupOf = [&](const QString &device) {
            asked << QStringLiteral("group of ") + device;
            return group;
        };
        const auto f = OpenFailure(failure);
        QCOMPARE(openAdvice(f, QStringLiteral("/dev/ttyUSB3"), present, groupOf), advice);
        // Each source is asked only where the advice needs it.
        QCOMPARE(asked, f == OpenFailure::Missing      ? QStringList{"ports"}
                        : f == OpenFailure::Permission ? QStringList{"group of /dev/ttyUSB3"}
                                                       : QStringList());
    }
};

QTEST_GUILESS_MAIN(TestOpenAdvice)
#include "tst_openadvice.moc"
