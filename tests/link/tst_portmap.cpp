#include "portmap.h"

#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

using Stored = QMap<QString, QString>; // key in "Ports" -> value

class TestPortMap : public QObject {
    Q_OBJECT
private slots:
    void deviceFor_data() {
        QTest::addColumn<int>("n");
        QTest::addColumn<Stored>("stored");
        QTest::addColumn<QByteArray>("env"); // null: unset
        QTest::addColumn<QString>("device");

#ifdef Q_OS_WIN
        QTest::newRow("COM1") << 1 << Stored{} << QByteArray() << "COM1";
        QTest::newRow("COM4 ignores the rest") << 4 << Stored{{
            "Com4",
            "/dev/ttyUSB0"
        }} << QByteArray("/dev/pts/3") << "COM4";
#else
        QTest::newRow("default, port 1") << 1 << Stored{} << QByteArray() << "/dev/ttyS0";
        QTest::newRow("default, port 4") << 4 << Stored{} << QByteArray() << "/dev/ttyS3";
        QTest::newRow("stored") << 2 << Stored{{"Com2", "/dev/ttyUSB0"}} << QByteArray()
                                << "/dev/ttyUSB0";
        QTest::newRow("stored for another port")
            << 1 << Stored{{"Com2", "/dev/ttyUSB0"}} << QByteArray() << "/dev/ttyS0";
        QTest::newRow("blank stored value")
            << 3 << Stored{{"Com3", "  "}} << QByteArray() << "/dev/ttyS2";
        // Set after the map was loaded: the environment is read at each opening.
        QTest::newRow("environment over stored")
            << 2 << Stored{{"Com2", "/dev/ttyUSB0"}} << QByteArray("/dev/pts/7") << "/dev/pts/7";
        QTest::newRow("environment over default")
            << 3 << Stored{} << QByteArray("/tmp/sim-tty") << "/tmp/sim-tty";
        QTest::newRow("empty environment falls through")
            << 2 << Stored{{"Com2", "/dev/ttyUSB1"}} << QByteArray("") << "/dev/ttyUSB1";
#endif
        QTest::newRow("port 0") << 0 << Stored{{"Com0", "/dev/ttyUSB0"}} << QByteArray("/dev/pts/1")
                                << QString();
        QTest::newRow("negative port") << -1 << Stored{} << QByteArray() << QString();
    }

    void deviceFor() {
        QFETCH(int, n);
        QFETCH(Stored, stored);
        QFETCH(QByteArray, env);
        QFETCH(QString, device);
        QTemporaryDir dir;
        QSettings settings(dir.filePath(QStringLiteral("stowline.ini")), QSettings::IniFormat);
        for (auto it = stored.cbegin(); it != stored.cend(); ++it)
            settings.setValue(QStringLiteral("Ports/") + it.key(), it.value());
        settings.setValue(QStringLiteral("Settings/Com1"), QStringLiteral("/dev/not-a-port-key"));
        const QByteArray var = "STOWLINE_COM" + QByteArray::number(n);
        qunsetenv(var.constData());
        PortMap map;
        map.load(settings);
        if (!env.isNull())
            qputenv(var.constData(), env);
        QCOMPARE(map.deviceFor(n), device);
        qunsetenv(var.constData());
    }
};

QTEST_GUILESS_MAIN(TestPortMap)
#include "tst_portmap.moc"
