// The transfers over a port that moves many bytes per pass, as the real one does.

#include "fakecomm.h"
#include "recordingview.h"
#include "transfers.h"

#include <QtTest>

namespace {
constexpr qint64 kSec = FakeComm::kSec, kMs = FakeComm::kMs;
const QString kNoResponse =
    QStringLiteral("ERROR Message|Error : Controller Failed to respond, Check Communications");

// A 512-byte transmit buffer, a wait on the device itself, a line of 960 bytes/s and naps
// that arriving bytes do not end.
class BulkComm : public FakeComm {
public:
    qint64 OutputRoom() override { return 512; }
    bool waitForBytes(int ms) override {
        ++kernelWaits;
        idleUntil(nowNs() + ms * kMs);
        return true;
    }
    double lineRate() const override { return 960; }
    void napUntil(qint64 deadlineNs) override {
        ++naps;
        while (nowNs() < deadlineNs)
            idleUntil(deadlineNs);
    }
    int kernelWaits = 0, naps = 0;
};

struct Rig {
    explicit Rig(const QByteArray &held = {}) {
        image.ConfigData = QByteArray(1, '\0') + held;
        image.ConfigLength = qint32(held.size());
    }
    BulkComm fake;
    RecordingView view;
    ConfigImage image;
    Transfers transfers{fake, fake, view, image};
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

    Rig rig;
    const QByteArray image = randomBytes(generation == 1 ? 100 : kSecondGenerationLength);
    QStringList args{QStringLiteral("--generation=%1").arg(generation)};
    if (sent >= 0)
        args << QStringLiteral("--stop-after=%1").arg(sent);
    SimLink controller(rig.fake, args, image);
    controller.byteGapNs = byteGapNs;
    qint64 lastWaitBegan = 0, boxAt = 0;
    qsizetype logSize = 0;
    rig.fake.onTick = [&] {
        if (rig.view.log.size() != logSize) {
            logSize = rig.view.log.size();
            lastWaitBegan = rig.fake.nowNs() - rig.fake.stepNs;
        }
    };
    rig.view.onWarning = [&] { boxAt = rig.fake.nowNs(); };
    rig.transfers.mnuBackup_Click();

    const qsizetype held = sent < 0 ? image.size() : generation == 1 ? sent : sent - 1;
    QCOMPARE(rig.image.ConfigData.mid(1, held), image.left(held));
    QCOMPARE(rig.image.ConfigLength, sent < 0 ? qint32(image.size()) : 0);
    QCOMPARE(rig.view.warnings, sent < 0 ? QStringList() : QStringList{kNoResponse});
    if (sent >= 0) { // two seconds for each byte from when the one before it was taken
        QVERIFY(boxAt - lastWaitBegan > 2 * kSec);
        QVERIFY(boxAt - lastWaitBegan < 2 * kSec + 2 * rig.fake.stepNs);
    }
    if (generation == 1) {
        QVERIFY(rig.fake.kernelWaits > 0);
    } else if (byteGapNs == 0) {
        QCOMPARE(rig.fake.naps, 0); // a controller outrunning its line is never slept through
    } else {                        // some 16 ms worth a pass, not a pass a byte
        const qsizetype passes = rig.view.progressValues().size();
        QVERIFY2(passes < held / 10, qPrintable(QString::number(passes)));
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
    Rig rig(image);
    SimLink controller(rig.fake, {QStringLiteral("--generation=%1").arg(generation)});
    rig.transfers.mnuRestore_Click();

    const QByteArray head = "R" + littleEndian32(quint32(image.size())) +
                            (generation == 1 ? QByteArray() : QByteArrayLiteral("@M@!"));
    qsizetype largest = 0;
    for (const FakeComm::Write &w : rig.fake.writes)
        largest = qMax(largest, w.bytes.size());
    QCOMPARE(largest, 512);
    QVERIFY(!rig.fake.portOpen());
    QCOMPARE(rig.view.warnings, QStringList());
    QCOMPARE(rig.fake.written,
             head + image + (generation == 1 ? QByteArray() : QByteArray(1, char(xorOf(image)))));
    // The bar moves at the bytes it moves at when each pass sends one.
    const qint64 interval = qRound(double(image.size()) / 37.0);
    QList<qint64> values;
    for (qint64 v = 0; v < image.size(); v += interval)
        values << v;
    QCOMPARE(rig.view.progressValues(), values << 0);
}

QTEST_GUILESS_MAIN(TestPasses)
#include "tst_passes.moc"
