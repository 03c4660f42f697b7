// The simulator's adapter hold: a short reply waits out the latency timer, a packet's worth of
// bytes goes at once.
#include "simprocess.h"

#include <QtTest>

#include <QElapsedTimer>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

class TestSimLatency : public QObject {
    Q_OBJECT
private slots:
    void hold_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("want"); // bytes awaited
        QTest::addColumn<int>("minMs");
        QTest::addColumn<int>("maxMs");
        QTest::newRow("4-byte reply held 300 ms")
            << QStringList{"--latency-ms=300"} << QByteArray("B") << 4 << 290 << 2000;
        QTest::newRow("stream released by the packet")
            << QStringList{"--generation=2", "--latency-ms=3000"} << QByteArray("@?") << 62 << 0
            << 2000;
    }
    void hold() {
        QFETCH(QStringList, args);
        QFETCH(QByteArray, command);
        QFETCH(int, want);
        QFETCH(int, minMs);
        QFETCH(int, maxMs);
        SimProcess sim(args);
        const int fd = ::open(QFile::encodeName(sim.device()).constData(), O_RDWR | O_NOCTTY);
        QVERIFY(fd >= 0);
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfmakeraw(&t);
        ::tcsetattr(fd, TCSANOW, &t);
        QElapsedTimer took;
        took.start();
        QCOMPARE(::write(fd, command.constData(), size_t(command.size())), command.size());
        qsizetype got = 0;
        char buf[256];
        while (got < want && took.elapsed() < maxMs) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 10) > 0)
                got += qMax<ssize_t>(0, ::read(fd, buf, sizeof buf));
        }
        const qint64 ms = took.elapsed();
        ::close(fd);
        QVERIFY2(got >= want && ms >= minMs && ms < maxMs, qPrintable(QString::number(ms)));
    }
};

QTEST_GUILESS_MAIN(TestSimLatency)
#include "tst_simlatency.moc"
