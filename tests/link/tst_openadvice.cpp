// The advice under "Cannot open" where the window tests do not reach: no port present, more
// than four, a group that tells nothing, and causes without advice.
#include "openadvice.h"

#include <QtTest>

class TestOpenAdvice : public QObject {
    Q_OBJECT
private slots:
    void advice_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<int>("ports"); // present now
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("advice");
        const QString choose = QStringLiteral("Settings \u2192 Port \u2192 Choose Device\u2026.");
        QTest::newRow("missing, none present")
            << int(OpenFailure::Missing) << 0 << ""
            << "No serial port is present now: plug the adapter in, then choose it under " + choose;
        QTest::newRow("missing, six present: four shown")
            << int(OpenFailure::Missing) << 6 << ""
            << "Serial ports present now: /dev/ttyUSB0 (adapter 0), /dev/ttyUSB1 (adapter 1), "
               "/dev/ttyUSB2 (adapter 2), /dev/ttyUSB3 (adapter 3) and 2 more. Choose the right "
               "one under " +
                   choose;
        for (const char *group : {"", "root"})
            QTest::addRow("permission, group '%s'", group)
                << int(OpenFailure::Permission) << 1 << group
                << "This user may not open the device: ask for access to it, then log in again.";
        QTest::newRow("no port chosen") << int(OpenFailure::NoPort) << 1 << "dialout"
                                        << "";
        QTest::newRow("other") << int(OpenFailure::Other) << 1 << "dialout"
                               << "";
    }
    void advice() {
        QFETCH(int, failure);
        QFETCH(int, ports);
        QFETCH(QString, group);
        QFETCH(QString, advice);
        const PortInventory present = [&] {
            QList<SerialPortEntry> list;
            for (int i = 0; i < ports; ++i)
                list << SerialPortEntry{QStringLiteral("/dev/ttyUSB%1").arg(i),
                                        QStringLiteral("adapter %1").arg(i),
                                        {},
                                        {},
                                        0,
                                        0,
                                        {}};
            return list;
        };
        QCOMPARE(openAdvice(OpenFailure(failure), QStringLiteral("/dev/ttyUSB9"), present,
                            [&](const QString &) { return group; }),
                 advice);
    }
};

QTEST_GUILESS_MAIN(TestOpenAdvice)
#include "tst_openadvice.moc"
