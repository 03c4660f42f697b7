// The plain functions of the port layer: the advice under "Cannot open", the device a path
// names, and the percentage and time left the bar shows.
#include "link/openadvice.h"
#include "link/portmap.h"
#include "link/progressestimate.h"

#include <QtTest>

class TestPlainFunctions : public QObject {
    Q_OBJECT
private slots:

    void advice_data() {
        QTest::addColumn<int>("failure");
        QTest::addColumn<int>("ports"); // present now
        QTest::addColumn<QString>("group");
        QTest::addColumn<QString>("advice");
        QTest::addColumn<int>("face");
        const QString choose = QStringLiteral("Settings \u2192 Port \u2192 Choose Device\u2026.");
        const QString option = QStringLiteral("--device PATH (stowline ports lists the ports).");
        const auto row = [](const char *name, OpenFailure failure, int ports, const char *group,
                            const QString &advice, texts::Face face = texts::Face::Window) {
            QTest::newRow(name) << int(failure) << ports << group << advice << int(face);
        };
        row("missing, none present", OpenFailure::Missing, 0, "",
            "No serial port is present now: plug the adapter in, then choose it under " + choose);
        row("missing, six present: four shown", OpenFailure::Missing, 6, "",
            "Serial ports present now: /dev/ttyUSB0 (adapter 0), /dev/ttyUSB1 (adapter 1), "
            "/dev/ttyUSB2 (adapter 2), /dev/ttyUSB3 (adapter 3) and 2 more. Choose the right "
            "one under " +
                choose);
        row("command line: missing, none present", OpenFailure::Missing, 0, "",
            "No serial port is present now: plug the adapter in, then choose it with " + option,
            texts::Face::CommandLine);
        row("command line: missing, one present", OpenFailure::Missing, 1, "",
            "Serial ports present now: /dev/ttyUSB0 (adapter 0). Choose the right one with " +
                option,
            texts::Face::CommandLine);
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
        QFETCH(int, face);
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
                            texts::Face(face), [&](const QString &) { return group; }),
                 advice);
    }

    // A device named relative to the working folder is stored and opened by its absolute path.
    void relativeDevice() {
        QTemporaryDir dir;
        QVERIFY(QDir::setCurrent(dir.path()) && QFile::link("/dev/null", "simdev"));
        QSettings settings(dir.filePath("s.conf"), QSettings::IniFormat);
        PortMap map;
        for (const QString name : {"simdev", "COM7"}) {
            const QString want = name == "simdev" ? dir.filePath(name) : name;
            map.store(settings, 2, name);
            map.setDirectDevice(name);
            QCOMPARE(settings.value("Ports/Com2").toString(), want);
            QCOMPARE(map.deviceFor(0), want);
        }
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
