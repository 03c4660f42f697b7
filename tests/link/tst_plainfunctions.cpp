// The plain functions of the port layer: the advice under "Cannot open", and the percentage
// and time left the bar shows.
#include "openadvice.h"
#include "progressestimate.h"

#include <QtTest>

class TestPlainFunctions : public QObject {
    Q_OBJECT
private slots:

    void advice_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<int>("ports"); // present now
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("advice");
        const QString choose = QStringLiteral("Settings \u2192 Port \u2192 Choose Device\u2026.");
        const auto row = [](const char *name, OpenFailure failure, int ports, const char *group,
                            const QString &advice) {
            QTest::newRow(name) << int(failure) << ports << group << advice;
        };
        row("missing, none present", OpenFailure::Missing, 0, "",
            "No serial port is present now: plug the adapter in, then choose it under " + choose);
        row("missing, six present: four shown", OpenFailure::Missing, 6, "",
            "Serial ports present now: /dev/ttyUSB0 (adapter 0), /dev/ttyUSB1 (adapter 1), "
            "/dev/ttyUSB2 (adapter 2), /dev/ttyUSB3 (adapter 3) and 2 more. Choose the right "
            "one under " +
                choose);
        row("permission, group dialout", OpenFailure::Permission, 1, "dialout",
            "The device belongs to the group dialout: add your user to it (sudo usermod -aG "
            "dialout $USER), then log out and log in again.");
        for (const char *group : {"", "root"}) // membership would not help
            row(group, OpenFailure::Permission, 1, group,
                "This user may not open the device: ask for access to it, then log in again.");
        row("busy", OpenFailure::Busy, 1, "dialout",
            "Another program holds the port (a terminal program, a modem manager): close it and "
            "try again.");
        row("no port chosen", OpenFailure::NoPort, 1, "dialout", "");
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

    void progressText_data() {
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<qint64>("value"); // of a second-generation upload, 0 to 186368
        QTest::addColumn<bool>("movedBefore");
        QTest::addColumn<QString>("text");
        QTest::newRow("960 bytes/s") << 81562LL << 78300LL << false << "42 % · 1:53 left";
        QTest::newRow("hours") << 4000LL << 10LL << false << "0 % · 20:42:24 left";
        QTest::newRow("done") << 9000LL << 186368LL << false << "100 % · 0:00 left";
        QTest::newRow("not measured yet") << 900LL << 93184LL << false << "50 %";
        QTest::newRow("not moved yet") << 5000LL << 0LL << false << "0 %";
        QTest::newRow("back at 0: phase over") << 5000LL << 0LL << true << "";
    }
    void progressText() {
        QFETCH(qint64, elapsedMs);
        QFETCH(qint64, value);
        QFETCH(bool, movedBefore);
        QFETCH(QString, text);
        ProgressEstimate estimate;
        estimate.reset(7'000'000'000, 0, 186368);
        if (movedBefore)
            estimate.text(7'001'000'000, 100);
        QCOMPARE(estimate.text(7'000'000'000 + elapsedMs * 1'000'000, value), text);
    }
};

QTEST_GUILESS_MAIN(TestPlainFunctions)
#include "tst_plainfunctions.moc"
