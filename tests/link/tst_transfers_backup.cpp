#include "transferrig.h"

namespace {
const QByteArray kOldImage("\0old", 4);
const QString kHandedOver = QStringLiteral("handed over");
} // namespace

class TestBackup : public QObject {
    Q_OBJECT
private slots:
    void firstGeneration_data();
    void firstGeneration();
    void secondGeneration_data();
    void secondGeneration();
    void lineSettingsCarryOver();
    void openFailure_data();
    void openFailure();
    void interrupted_data();
    void interrupted();
};

void TestBackup::firstGeneration_data() {
    QTest::addColumn<QStringList>("sim"); // the controller's faults, as simulator options
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("length");
    QTest::addColumn<QString>("configStatus");
    const auto row = [](const char *name, const QStringList &sim, const QString &warning,
                        const QByteArray &written, int length, const char *configStatus) {
        QTest::newRow(name) << sim << warning << written << length
                            << QString::fromLatin1(configStatus);
    };
    const QString badLength =
        QStringLiteral("ERROR Message|Error : Controller announced an invalid length (%1 bytes)");
    row("checksum matches", {}, {}, "BUAAA", 3, "3 bytes");
    // 10000 = 0x2710: the length's bytes are read least significant first.
    row("10000 bytes", {"--generate=10000"}, {}, "BU" + QByteArray(10000, 'A'), 10000,
        "10000 bytes");
    row("checksum differs", {"--bad-checksum"}, kBadChecksum, "BUAAA", 3, "3 bytes");
    row("no checksum", {"--silent-at=checksum"}, kNoResponse, "BUAAA", 3, "3 bytes");
    row("byte 2 missing", {"--stop-after=1"}, kNoResponse, "BUA", 0, "Empty");
    row("length 0", {"--length=0"}, "Error|Bad File System", "B", 0, "Empty");
    row("length 2^31", {"--length=2147483648"}, badLength.arg(2147483648LL), "B", 0, "Empty");
    row("length 2^32-1", {"--length=4294967295"}, badLength.arg(4294967295LL), "B", 0, "Empty");
    // Anything but exactly four bytes makes it a second-generation controller, here silent.
    row("3-byte probe reply", {"--short-probe"}, kNoResponse, "B@?", 0, "Empty");
    row("5-byte probe reply", {"--long-probe"}, kNoResponse, "B@?", 0, "Empty");
}

void TestBackup::firstGeneration() {
    QFETCH(QStringList, sim);
    QFETCH(QString, warning);
    QFETCH(QByteArray, written);
    QFETCH(int, length);
    QFETCH(QString, configStatus);

    Rig rig;
    SimLink controller(rig.fake, sim,
                       sim.isEmpty() || sim.first() != "--generate=10000" ? QByteArray("abc")
                                                                          : QByteArray());
    rig.transfers.mnuBackup_Click();

    QCOMPARE(rig.view.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
    QCOMPARE(rig.fake.written, written);
    QCOMPARE(rig.image.ControllerType, qint16(written.contains('@') ? 2 : 1));
    QCOMPARE(rig.image.ConfigLength, length);
    QCOMPARE(rig.view.configStatus, configStatus);
    rig.checkEndedIdle();
    if (written == "B")
        QCOMPARE(rig.image.ConfigData, kOldImage);
    if (length > 0) { // the bar moves at every byte, and the image is what was served
        QCOMPARE(rig.image.ConfigData, QByteArray(1, '\0') + controller.image);
        QList<qint64> values;
        for (qint64 k = 0; k < length; ++k)
            values << k;
        QCOMPARE(rig.view.progressValues(), values << 0);
        QCOMPARE(rig.view.linesWith("status:Uploading"),
                 QStringList{"status:Uploading Controller Configuration (" + configStatus + ")"});
    }
    // A failure's box comes after the status line has gone back to idle.
    if (!warning.isEmpty() && warning != kBadChecksum) {
        const qsizetype box = rig.view.log.indexOf("warning:" + warning);
        QCOMPARE(rig.view.log.at(box - 1), QStringLiteral("status:Waiting for Command"));
    }
}

void TestBackup::secondGeneration_data() {
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<QByteArray>("probeReply"); // what answers "B" before the stream
    QTest::addColumn<qint64>("byteGapNs");
    QTest::addColumn<qint64>("taken"); // bytes taken before the two-second limit; -1 all

    QTest::newRow("full stream") << QStringList() << QByteArray() << 0LL << -1LL;
    QTest::newRow("3 bytes answer the probe") << QStringList() << QByteArray("abc") << 0LL << -1LL;
    QTest::newRow("paced at 9600 baud") << QStringList() << QByteArray() << 1041667LL << -1LL;
    // Each byte is taken only once the next one is there.
    QTest::newRow("exactly 186368 bytes") << QStringList{"--trailing=0"} << QByteArray() << 0LL
                                          << qint64(kSecondGenerationLength - 1);
    QTest::newRow("stops after 1000 bytes")
        << QStringList{"--stop-after=1000"} << QByteArray() << 0LL << 999LL;
    QTest::newRow("no reply to @?") << QStringList{"--stop-after=0"} << QByteArray() << 0LL << 0LL;
    // No checksum guards this stream: bytes in front of it shift the whole image unnoticed.
    QTest::newRow("garbage before the stream")
        << QStringList{"--garbage=xy"} << QByteArray() << 0LL << -1LL;
}

void TestBackup::secondGeneration() {
    QFETCH(QStringList, sim);
    QFETCH(QByteArray, probeReply);
    QFETCH(qint64, byteGapNs);
    QFETCH(qint64, taken);

    Rig rig;
    SimLink controller(rig.fake, QStringList{"--generation=2"} + sim);
    controller.byteGapNs = byteGapNs;
    rig.onOutput([&](const QByteArray &bytes) {
        if (bytes == "B")
            rig.fake.deliverAfter(kMs, probeReply);
    });
    // When the last wait for a byte began (to within one yield), and when the box came.
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

    QCOMPARE(rig.image.ControllerType, qint16(2));
    QCOMPARE(rig.fake.written, QByteArray("B@?"));
    QCOMPARE(rig.fake.writes.last().settings, QStringLiteral("9600,N,8,1"));
    QCOMPARE(rig.view.progressMax, kSecondGenerationLength);
    QCOMPARE(rig.view.linesWith("status:Uploading"),
             QStringList{"status:Uploading Controller Configuration (186368 bytes)"});
    QCOMPARE(rig.image.ConfigData.size(), qsizetype(kSecondGenerationLength) + 1);
    const QList<qint64> values = rig.view.progressValues();
    rig.checkEndedIdle();
    if (taken < 0) {
        QCOMPARE(rig.view.warnings, QStringList());
        QCOMPARE(rig.image.ConfigLength, kSecondGenerationLength);
        const QByteArray garbage = sim.isEmpty() ? QByteArray() : QByteArray("xy");
        QCOMPARE(rig.image.ConfigData.mid(1),
                 (garbage + controller.image).left(kSecondGenerationLength));
        QCOMPARE(rig.view.configStatus, QStringLiteral("186368 bytes"));
        QCOMPARE(values.size(), kSecondGenerationLength + 1);
        QCOMPARE(values.at(values.size() - 2), kSecondGenerationLength - 1);
    } else {
        QCOMPARE(rig.view.warnings, QStringList{kNoResponse});
        QCOMPARE(rig.image.ConfigLength, 0);
        QCOMPARE(rig.view.configStatus, QStringLiteral("Empty")); // nothing held any more
        QCOMPARE(rig.image.ConfigData.mid(1),
                 controller.image.left(taken) + QByteArray(kSecondGenerationLength - taken, 0));
        QCOMPARE(values.at(values.size() - 2), taken);
        // Each byte has two seconds from the moment the one before it was taken.
        QVERIFY(boxAt - lastWaitBegan > 2 * kSec);
        QVERIFY(boxAt - lastWaitBegan < 2 * kSec + 2 * rig.fake.stepNs);
    }
}

// A first-generation controller talks at 57600 only: after a second-generation Backup has
// left the line at 9600, the next probe still goes out at 57600 and the Backup succeeds.
void TestBackup::lineSettingsCarryOver() {
    Rig rig;
    {
        SimLink second(rig.fake, {"--generation=2"});
        rig.transfers.mnuBackup_Click();
    }
    QCOMPARE(rig.fake.writes.first().settings, QStringLiteral("57600,N,8,1"));
    SimLink first(rig.fake, {}, "xyz");
    const qsizetype before = rig.fake.writes.size();
    rig.transfers.mnuBackup_Click();
    QCOMPARE(rig.fake.writes.at(before).bytes, QByteArray("B"));
    QCOMPARE(rig.fake.writes.at(before).settings, QStringLiteral("57600,N,8,1"));
    QCOMPARE(rig.image.ConfigLength, 3);
}

void TestBackup::openFailure_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<int>("failing"); // which opening fails: the second is the hand-over
    QTest::addColumn<QString>("text");
    QTest::newRow("Com 2") << 2 << 1 << "Error : Cannot open Com 2 (/dev/ttyS1): Permission denied";
    QTest::newRow("no port chosen") << 0 << 1 << "Error : Cannot open Com 0: Permission denied";
    QTest::newRow("second set-up")
        << 4 << 2 << "Error : Cannot open Com 4 (/dev/ttyS3): Permission denied";
}

void TestBackup::openFailure() {
    QFETCH(int, port);
    QFETCH(int, failing);
    QFETCH(QString, text);

    Rig rig;
    rig.view.selectedPort = qint16(port);
    rig.fake.failOpening = failing;
    rig.transfers.mnuBackup_Click();

    QCOMPARE(rig.fake.written, QByteArray(failing == 2 ? "B" : ""));
    QStringList tail{"status:Waiting for Command", "warning:ERROR Message|" + text, "idle"};
    if (failing == 2) // the old image is gone already: nothing held, nothing shown
        tail = QStringList{tail[0], tail[1], "config:Empty", "value:0", tail[2]};
    // Not even busy when the first opening fails.
    QCOMPARE(failing == 2 ? rig.view.log.mid(rig.view.log.size() - tail.size()) : rig.view.log,
             tail);
    rig.checkEndedIdle();
    // The old image is kept unless the second generation had already replaced it.
    QCOMPARE(rig.image.ConfigLength, failing == 2 ? 0 : 3);
    QCOMPARE(rig.image.ControllerType, qint16(failing == 2 ? 2 : 0));
}

void TestBackup::interrupted_data() {
    QTest::addColumn<int>("generation");
    QTest::addColumn<bool>("stop");   // else the device goes away
    QTest::addColumn<int>("atValue"); // once the progress has got this far; -1: in the probe
    QTest::addColumn<int>("length");

    QTest::newRow("stop in probe") << 1 << true << -1 << 3;
    QTest::newRow("stop in upload") << 1 << true << 50 << 0;
    QTest::newRow("stop in stream") << 2 << true << 500 << 0;
    QTest::newRow("lost in probe") << 1 << false << -1 << 3;
    QTest::newRow("lost in upload") << 1 << false << 50 << 0;
    QTest::newRow("lost in stream") << 2 << false << 500 << 0;
}

void TestBackup::interrupted() {
    QFETCH(int, generation);
    QFETCH(bool, stop);
    QFETCH(int, atValue);
    QFETCH(int, length);

    Rig rig;
    SimLink controller(rig.fake, {QStringLiteral("--generation=%1").arg(generation),
                                  generation == 1 ? "--generate=100" : "--trailing=1"});
    controller.byteGapNs = kMs;
    qsizetype logAtStop = -1, writesAtStop = -1;
    rig.fake.onTick = [&] {
        const bool due =
            atValue < 0 ? !rig.fake.writes.isEmpty() : rig.view.progressValue >= atValue;
        if (writesAtStop < 0 && due) {
            logAtStop = rig.view.log.size();
            writesAtStop = rig.fake.writes.size();
            if (stop)
                rig.view.stop = true;
            else
                rig.fake.loseDevice();
        }
    };
    rig.transfers.mnuBackup_Click();

    QVERIFY(writesAtStop > 0);
    QCOMPARE(rig.fake.writes.size(), writesAtStop);
    QCOMPARE(rig.fake.refusedOutputs, 0);
    QCOMPARE(rig.view.warnings, stop ? QStringList() : QStringList{kNoResponse});
    QCOMPARE(rig.fake.props.last(), QStringLiteral("PortOpen=0"));
    QCOMPARE(rig.image.ConfigLength, length);
    if (stop)
        QCOMPARE(rig.view.log.size(), logAtStop); // not a single view call after the stop
    else
        rig.checkEndedIdle();
}

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_transfers_backup.moc"
