#include "transferrig.h"

#include <algorithm>
#include <functional>

Q_DECLARE_METATYPE(FirstGenController)

namespace {
const QByteArray kOldImage("\0old", 4);
const QStringList kStartSetUp{"CommPort=1",    "Settings=57600,N,8,1", "RTSEnable=1",
                              "Handshaking=2", "InBufferSize=32000",   "InBufferCount=0",
                              "InputLen=1",    "InputMode=1",          "PortOpen=1"};
const QStringList kType2SetUp{"CommPort=1",         "Settings=9600,N,8,1", "RTSEnable=1",
                              "InBufferSize=32000", "InBufferCount=0",     "InputLen=1",
                              "InputMode=1",        "PortOpen=1"};
} // namespace

class TestBackup : public QObject {
    Q_OBJECT
private slots:
    void firstGeneration_data();
    void firstGeneration();
    void firstGenerationSequence();
    void secondGeneration_data();
    void secondGeneration();
    void lineSettingsCarryOver();
    void openFailure_data();
    void openFailure();
    void interrupted_data();
    void interrupted();
};

void TestBackup::firstGeneration_data() {
    QTest::addColumn<FirstGenController>("controller");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("data"); // ConfigData afterwards
    QTest::addColumn<QString>("configStatus");
    const auto row = [](const char *name, const FirstGenController &controller,
                        const QString &warning, const QByteArray &written, int length,
                        const QByteArray &data, const char *configStatus) {
        QTest::newRow(name) << controller << warning << written << length << data
                            << QString::fromLatin1(configStatus);
    };
    const auto abc = [](const std::function<void(FirstGenController &)> &change) {
        FirstGenController controller(QByteArray("abc"));
        change(controller);
        return controller;
    };
    const auto asIs = [](FirstGenController &) {};
    const QByteArray held("\0abc", 4);
    const QByteArray big = randomBytes(10000);

    row("checksum matches", abc(asIs), {}, "BUAAA", 3, held, "3 bytes");
    // 10000 = 0x2710: the length's bytes are read least significant first.
    row("10000 bytes", FirstGenController(big), {}, "BU" + QByteArray(10000, 'A'), 10000,
        QByteArray(1, '\0') + big, "10000 bytes");
    row("checksum differs", abc([](auto &c) { c.checksumOverride = 0x61; }), kBadChecksum, "BUAAA",
        3, held, "3 bytes");
    row("no checksum", abc([](auto &c) { c.sendChecksum = false; }), kNoResponse, "BUAAA", 3, held,
        "3 bytes");
    row("byte 2 missing", abc([](auto &c) { c.sendOnly = 1; }), kNoResponse, "BUA", 0,
        QByteArray("\0a\0\0", 4), "Empty");
    row("length 0", FirstGenController(), "Error|Bad File System", "B", 0, kOldImage, "Empty");
    row("length 2^31", abc([](auto &c) { c.probeReply = QByteArray("\0\0\0\x80", 4); }),
        "ERROR Message|Error : Controller announced an invalid length (2147483648 bytes)", "B", 0,
        kOldImage, "Empty");
    row("length 2^32-1", abc([](auto &c) { c.probeReply = QByteArray("\xFF\xFF\xFF\xFF", 4); }),
        "ERROR Message|Error : Controller announced an invalid length (4294967295 bytes)", "B", 0,
        kOldImage, "Empty");
}

void TestBackup::firstGeneration() {
    QFETCH(FirstGenController, controller);
    QFETCH(QString, warning);
    QFETCH(QByteArray, written);
    QFETCH(int, length);
    QFETCH(QByteArray, data);
    QFETCH(QString, configStatus);

    Rig rig;
    controller.attach(rig.fake);
    rig.transfers.mnuBackup_Click();

    QCOMPARE(rig.view.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
    QCOMPARE(rig.fake.written, written);
    QCOMPARE(rig.image.ControllerType, qint16(1));
    QCOMPARE(rig.image.ConfigLength, length);
    QCOMPARE(rig.image.ConfigData, data);
    QCOMPARE(rig.view.configStatus, configStatus);
    rig.checkEndedIdle();
    if (length > 0) { // the bar moves at every byte
        QList<qint64> values;
        for (qint64 k = 0; k < length; ++k)
            values << k;
        QCOMPARE(rig.view.progressValues(), values << 0);
    }
    // A failure's box comes after the status line has gone back to idle.
    if (!warning.isEmpty() && warning != kBadChecksum) {
        const qsizetype box = rig.view.log.indexOf("warning:" + warning);
        QCOMPARE(rig.view.log.at(box - 1), QStringLiteral("status:Waiting for Command"));
    }
}

void TestBackup::firstGenerationSequence() {
    Rig rig;
    FirstGenController controller(QByteArray("abc"));
    controller.attach(rig.fake);
    rig.transfers.mnuBackup_Click();

    QCOMPARE(
        rig.view.log,
        QStringList({"busy", "status:Initiating Backup with Controller",
                     "status:Handshaking with Controller",
                     "status:Uploading Controller Configuration (3 bytes)", "config:Empty", "min:0",
                     "max:2", "value:0", "value:1", "value:2", "value:0", "config:3 bytes",
                     "status:Validating Checksum", "status:Waiting for Command", "idle"}));
    QCOMPARE(rig.fake.props, kStartSetUp + QStringList{"PortOpen=0"});
}

void TestBackup::secondGeneration_data() {
    QTest::addColumn<QByteArray>("probeReply"); // what answers "B"
    QTest::addColumn<qint64>("streamLength");   // -1: image and one more byte
    QTest::addColumn<qint64>("byteGapNs");
    QTest::addColumn<bool>("held");

    QTest::newRow("silent probe, full stream") << QByteArray() << -1LL << 0LL << true;
    QTest::newRow("3-byte probe reply") << QByteArray("abc") << -1LL << 0LL << true;
    QTest::newRow("5-byte probe reply") << QByteArray("abcde") << -1LL << 0LL << true;
    QTest::newRow("paced at 9600 baud") << QByteArray() << -1LL << 1041667LL << true;
    QTest::newRow("exactly 186368 bytes") << QByteArray() << 186368LL << 0LL << false;
    QTest::newRow("stops after 1000 bytes") << QByteArray() << 1000LL << 0LL << false;
    QTest::newRow("no reply to @?") << QByteArray() << 0LL << 0LL << false;
}

void TestBackup::secondGeneration() {
    QFETCH(QByteArray, probeReply);
    QFETCH(qint64, streamLength);
    QFETCH(qint64, byteGapNs);
    QFETCH(bool, held);

    Rig rig;
    const QByteArray image = randomBytes(kSecondGenerationLength);
    SecondGenController controller(image);
    controller.streamLength = streamLength;
    controller.byteGapNs = byteGapNs;
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
    rig.fake.onOutput = [&](const QByteArray &bytes) {
        if (bytes == "B")
            rig.fake.deliverAfter(kMs, probeReply);
        controller.receive(rig.fake, bytes);
    };
    rig.transfers.mnuBackup_Click();

    QCOMPARE(rig.image.ControllerType, qint16(2));
    QCOMPARE(rig.fake.written, QByteArray("B@?"));
    QCOMPARE(rig.fake.props,
             kStartSetUp + QStringList{"PortOpen=0"} + kType2SetUp + QStringList{"PortOpen=0"});
    QCOMPARE(rig.view.progressMax, kSecondGenerationLength);
    QCOMPARE(rig.view.linesStartingWith("status:Uploading"),
             QStringList{"status:Uploading Controller Configuration (186368 bytes)"});
    QCOMPARE(rig.image.ConfigData.size(), qsizetype(kSecondGenerationLength) + 1);
    QCOMPARE(rig.image.ConfigData.at(0), '\0');
    const QList<qint64> values = rig.view.progressValues();
    rig.checkEndedIdle();
    if (held) {
        QCOMPARE(rig.view.warnings, QStringList());
        QCOMPARE(rig.image.ConfigLength, kSecondGenerationLength);
        QCOMPARE(rig.image.ConfigData.mid(1), image);
        QCOMPARE(rig.view.configStatus, QStringLiteral("186368 bytes"));
        // Once per pass: the bytes taken so far, rising, then back to 0.
        QCOMPARE(values.first(), 0);
        QVERIFY(std::is_sorted(values.begin(), values.end() - 1));
        QVERIFY(values.at(values.size() - 2) < kSecondGenerationLength);
    } else {
        const qsizetype taken = qMax<qint64>(0, streamLength - 1);
        QCOMPARE(rig.view.warnings, QStringList{kNoResponse});
        QCOMPARE(rig.image.ConfigLength, 0);
        QCOMPARE(rig.view.configStatus, QStringLiteral("Empty"));
        QCOMPARE(rig.image.ConfigData.mid(1),
                 image.left(taken) + QByteArray(kSecondGenerationLength - taken, '\0'));
        QCOMPARE(values.at(values.size() - 2), qint64(taken));
        // Each byte has two seconds from the moment the one before it was taken.
        QVERIFY(boxAt - lastWaitBegan > 2 * kSec);
        QVERIFY(boxAt - lastWaitBegan < 2 * kSec + 2 * rig.fake.stepNs);
    }
}

// A first-generation controller talks at 57600 only: after a second-generation Backup has
// left the line at 9600, the next probe still goes out at 57600 and the Backup succeeds.
void TestBackup::lineSettingsCarryOver() {
    Rig rig;
    SecondGenController second(randomBytes(kSecondGenerationLength));
    second.attach(rig.fake);
    rig.transfers.mnuBackup_Click();
    QCOMPARE(rig.fake.writes.first().settings, QStringLiteral("57600,N,8,1"));

    FirstGenController first(QByteArray("xyz"));
    first.attach(rig.fake);
    const qsizetype before = rig.fake.writes.size();
    rig.transfers.mnuBackup_Click();
    QCOMPARE(rig.fake.writes.at(before).bytes, QByteArray("B"));
    QCOMPARE(rig.fake.writes.at(before).settings, QStringLiteral("57600,N,8,1"));
    QCOMPARE(rig.image.ConfigLength, 3);
}

void TestBackup::openFailure_data() {
    QTest::addColumn<int>("port");
    QTest::addColumn<bool>("failsSecondOpen"); // the second-generation set-up
    QTest::addColumn<QString>("text");
    QTest::newRow("Com 2") << 2 << false
                           << "Error : Cannot open Com 2 (/dev/ttyS1): Permission denied";
    QTest::newRow("no port chosen") << 0 << false << "Error : Cannot open Com 0: Permission denied";
    QTest::newRow("second set-up")
        << 4 << true << "Error : Cannot open Com 4 (/dev/ttyS3): Permission denied";
}

void TestBackup::openFailure() {
    QFETCH(int, port);
    QFETCH(bool, failsSecondOpen);
    QFETCH(QString, text);

    Rig rig;
    rig.view.selectedPort = qint16(port);
    if (failsSecondOpen)
        rig.fake.onOutput = [&](const QByteArray &) { rig.fake.failOpen = true; };
    else
        rig.fake.failOpen = true;
    rig.transfers.mnuBackup_Click();

    QCOMPARE(rig.fake.written, QByteArray(failsSecondOpen ? "B" : ""));
    QStringList tail{"status:Waiting for Command", "warning:ERROR Message|" + text, "idle"};
    if (failsSecondOpen) // the old image is gone already: nothing held, nothing shown
        tail = QStringList{tail[0], tail[1], "config:Empty", "value:0", tail[2]};
    // Not even busy when the first opening fails.
    QCOMPARE(failsSecondOpen ? rig.view.log.mid(rig.view.log.size() - tail.size()) : rig.view.log,
             tail);
    rig.checkEndedIdle();
    // The old image is kept unless the second generation had already replaced it.
    QCOMPARE(rig.image.ConfigLength, failsSecondOpen ? 0 : 3);
    QCOMPARE(rig.image.ControllerType, qint16(failsSecondOpen ? 2 : 0));
}

void TestBackup::interrupted_data() {
    QTest::addColumn<bool>("secondGeneration");
    QTest::addColumn<bool>("stop");   // else the device goes away
    QTest::addColumn<int>("atValue"); // once the progress has got this far; -1: in the probe
    QTest::addColumn<int>("length");

    QTest::newRow("stop in probe") << false << true << -1 << 3;
    QTest::newRow("stop in upload") << false << true << 50 << 0;
    QTest::newRow("stop in stream") << true << true << 500 << 0;
    QTest::newRow("lost in probe") << false << false << -1 << 3;
    QTest::newRow("lost in upload") << false << false << 50 << 0;
    QTest::newRow("lost in stream") << true << false << 500 << 0;
}

void TestBackup::interrupted() {
    QFETCH(bool, secondGeneration);
    QFETCH(bool, stop);
    QFETCH(int, atValue);
    QFETCH(int, length);

    Rig rig;
    FirstGenController first(randomBytes(100));
    SecondGenController second(randomBytes(kSecondGenerationLength));
    second.byteGapNs = kMs;
    if (secondGeneration)
        second.attach(rig.fake);
    else
        first.attach(rig.fake);
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
