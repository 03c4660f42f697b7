// The transfers over a port that moves many bytes per pass, as the real one does.

#include "transferrig.h"

namespace {
// A 512-byte transmit buffer and a line of 960 bytes/s.
struct BulkRig : Rig {
    explicit BulkRig(const QByteArray &image = {}) : Rig(image) {
        port.room = 512, port.rate = 960;
    }
};
} // namespace

class TestPasses : public QObject {
    Q_OBJECT
private slots:
    void backup_data();
    void backup();
    void restore_data();
    void restore();
};

void TestPasses::backup_data() {
    QTest::addColumn<int>("generation");
    QTest::addColumn<qint64>("sent"); // image bytes the controller sends; -1 all
    QTest::addColumn<qint64>("byteGapNs");
    QTest::newRow("lock-step, silent after byte 50") << 1 << 50LL << 0LL;
    QTest::newRow("stream at full speed") << 2 << -1LL << 0LL;
    QTest::newRow("stream at 960 bytes/s, silent after byte 1000") << 2 << 1000LL << 1041667LL;
}

void TestPasses::backup() {
    QFETCH(int, generation);
    QFETCH(qint64, sent);
    QFETCH(qint64, byteGapNs);

    BulkRig rig;
    const QByteArray image = randomBytes(generation == 1 ? 100 : kSecondGenerationLength);
    QStringList args{QStringLiteral("--generation=%1").arg(generation)};
    if (sent >= 0)
        args << QStringLiteral("--stop-after=%1").arg(sent);
    SimLink controller(rig.port, args, image);
    controller.byteGapNs = byteGapNs;
    qint64 lastReport = 0; // each pass reports before it waits
    rig.rec.onCall = [&] { lastReport = rig.port.nowNs(); };
    const JobResult result = rig.run(JobRequest::Kind::Backup);

    // The bytes taken: a stream's byte only once the one after it is there.
    const qsizetype taken = sent < 0 ? image.size() : generation == 1 ? sent : sent - 1;
    QCOMPARE(result.image.bytes, sent < 0 ? image : QByteArray());
    QCOMPARE(Rig::box(result), sent < 0 ? QString() : kNoResponse);
    if (sent >= 0) { // two seconds for each byte from when the one before it was taken
        QCOMPARE(rig.rec.progressValues().last(), taken);
        QVERIFY(rig.port.nowNs() - lastReport > 2 * kSec);
        QVERIFY(rig.port.nowNs() - lastReport < 2 * kSec + kMs);
    }
    if (generation == 1 || byteGapNs == 0) {
        QCOMPARE(rig.port.sleeps, 0); // a controller outrunning its line is never slept through
    } else {                          // some 16 ms worth a pass, not a pass a byte
        const qsizetype passes = rig.rec.progressValues().size();
        QVERIFY2(passes < taken / 10, qPrintable(QString::number(passes)));
    }
}

void TestPasses::restore_data() {
    QTest::addColumn<int>("generation");
    QTest::newRow("first generation") << 1;
    QTest::newRow("second generation") << 2;
}

void TestPasses::restore() {
    QFETCH(int, generation);

    const QByteArray image = randomBytes(generation == 1 ? 20000 : kSecondGenerationLength);
    BulkRig rig(image);
    SimLink controller(rig.port, {QStringLiteral("--generation=%1").arg(generation)});
    const JobResult result = rig.run(JobRequest::Kind::Restore);

    const QByteArray head = "R" + littleEndian32(quint32(image.size())) +
                            (generation == 1 ? QByteArray() : QByteArrayLiteral("@M@!"));
    qsizetype largest = 0;
    for (const FakePort::Write &w : rig.port.writes)
        largest = qMax(largest, w.bytes.size());
    QCOMPARE(largest, 512);
    QVERIFY(!rig.port.isOpen());
    QCOMPARE(Rig::box(result), QString());
    QCOMPARE(rig.port.written,
             head + image + (generation == 1 ? QByteArray() : QByteArray(1, char(xorOf(image)))));
    // The bar moves at the bytes it moves at when each pass sends one.
    const qint64 interval = qRound(double(image.size()) / 37.0);
    QList<qint64> values;
    for (qint64 v = 0; v < image.size(); v += interval)
        values << v;
    QCOMPARE(rig.rec.progressValues(), values << 0);
}

QTEST_GUILESS_MAIN(TestPasses)
#include "tst_passes.moc"
