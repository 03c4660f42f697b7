#include "fakecomm.h"
#include "recordingview.h"
#include "transfers.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {
const QString kNoResponse =
    QStringLiteral("ERROR Message|Error : Controller Failed to respond, Check Communications");
const QString kBadChecksum = QStringLiteral("ERROR Message|Error : Bad Checksum");
const QByteArray kOldImage("\0old", 4);

// A window holding an earlier image, with a controller on Com 1.
struct Rig {
    Rig() {
        image.ConfigData = kOldImage;
        image.ConfigLength = 3;
        view.configStatus = QStringLiteral("old");
    }
    FakeComm fake;
    RecordingView view;
    ConfigImage image;
    Transfers transfers{fake, fake, view, image};

    void checkEndedIdle() const {
        QVERIFY(!fake.portOpen());
        QCOMPARE(fake.props.last(), QStringLiteral("PortOpen=0"));
        QCOMPARE(view.log.last(), QStringLiteral("idle"));
        QCOMPARE(view.status, QStringLiteral("Waiting for Command"));
        QVERIFY(view.progressValues().isEmpty() || view.progressValues().last() == 0);
    }
};
} // namespace

class TestBackup : public QObject {
    Q_OBJECT
private slots:
    void firstGeneration_data();
    void firstGeneration();
    void firstGenerationSequence();
    void announcedLength();
    void secondGeneration_data();
    void secondGeneration();
    void lineSettingsCarryOver();
    void openFailure_data();
    void openFailure();
    void interrupted_data();
    void interrupted();
};

void TestBackup::firstGeneration_data() {
    QTest::addColumn<QByteArray>("controllerImage");
    QTest::addColumn<QByteArray>("probeReply"); // empty: the image's length
    QTest::addColumn<int>("sendOnly");
    QTest::addColumn<bool>("sendChecksum");
    QTest::addColumn<int>("checksum"); // -1: the right one
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QByteArray>("written");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QString>("configStatus");

    const QByteArray abc("abc");
    const QByteArray held = QByteArray(1, '\0') + abc;
    QTest::newRow("checksum matches") << abc << QByteArray() << -1 << true << -1 << QString()
                                      << QByteArray("BUAAA") << 3 << held << "3 bytes";
    QTest::newRow("checksum differs") << abc << QByteArray() << -1 << true << 0x61 << kBadChecksum
                                      << QByteArray("BUAAA") << 3 << held << "3 bytes";
    QTest::newRow("no checksum") << abc << QByteArray() << -1 << false << -1 << kNoResponse
                                 << QByteArray("BUAAA") << 3 << held << "3 bytes";
    QTest::newRow("byte 2 missing")
        << abc << QByteArray() << 1 << true << -1 << kNoResponse << QByteArray("BUA") << 0
        << QByteArray("\0a\0\0", 4) << "Empty";
    QTest::newRow("length 0") << QByteArray() << QByteArray() << -1 << true << -1
                              << "Error|Bad File System" << QByteArray("B") << 0 << kOldImage
                              << "old";
    QTest::newRow("length 2^31") << abc << QByteArray("\0\0\0\x80", 4) << -1 << true << -1
                                 << "ERROR Message|Error : Controller announced an invalid length "
                                    "(2147483648 bytes)"
                                 << QByteArray("B") << 0 << kOldImage << "old";
    QTest::newRow("length 2^32-1") << abc << QByteArray("\xFF\xFF\xFF\xFF", 4) << -1 << true << -1
                                   << "ERROR Message|Error : Controller announced an invalid "
                                      "length (4294967295 bytes)"
                                   << QByteArray("B") << 0 << kOldImage << "old";
}

void TestBackup::firstGeneration() {
    QFETCH(QByteArray, controllerImage);
    QFETCH(QByteArray, probeReply);
    QFETCH(int, sendOnly);
    QFETCH(bool, sendChecksum);
    QFETCH(int, checksum);
    QFETCH(QString, warning);
    QFETCH(QByteArray, written);
    QFETCH(int, length);
    QFETCH(QByteArray, data);
    QFETCH(QString, configStatus);

    Rig rig;
    FirstGenController controller(controllerImage);
    if (!probeReply.isEmpty())
        controller.probeReply = probeReply;
    controller.sendOnly = sendOnly;
    controller.sendChecksum = sendChecksum;
    if (checksum >= 0)
        controller.checksumOverride = quint8(checksum);
    controller.attach(rig.fake);

    rig.transfers.mnuBackup_Click();

    QCOMPARE(rig.view.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
    QCOMPARE(rig.fake.written, written);
    QCOMPARE(rig.image.ControllerType, qint16(1));
    QCOMPARE(rig.image.ConfigLength, length);
    QCOMPARE(rig.image.ConfigData, data);
    QCOMPARE(rig.view.configStatus, configStatus);
    rig.checkEndedIdle();
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

    const QStringList expected{
        "busy",
        "status:Initiating Backup with Controller",
        "status:Handshaking with Controller",
        "status:Uploading Controller Configuration (3 bytes)",
        "config:Empty",
        "min:0",
        "max:2",
        "value:0",
        "value:1",
        "value:2",
        "value:0",
        "config:3 bytes",
        "status:Validating Checksum",
        "status:Waiting for Command",
        "idle",
    };
    QCOMPARE(rig.view.log, expected);
    QCOMPARE(rig.fake.props, (QStringList{"CommPort=1", "RTSEnable=1", "Handshaking=2",
                                          "InBufferSize=32000", "InBufferCount=0", "InputLen=1",
                                          "InputMode=1", "PortOpen=1", "PortOpen=0"}));
    QCOMPARE(controller.acks, 3);
    QCOMPARE(rig.view.warnings, QStringList());
}

void TestBackup::announcedLength() {
    Rig rig;
    const QByteArray image = randomBytes(10000);
    FirstGenController controller(image);
    controller.attach(rig.fake);
    rig.transfers.mnuBackup_Click();

    QCOMPARE(rig.fake.writes.at(0).bytes, QByteArray("B"));
    QCOMPARE(rig.view.linesStartingWith("status:Uploading"),
             QStringList{"status:Uploading Controller Configuration (10000 bytes)"});
    QCOMPARE(rig.view.progressMax, 9999);
    QList<qint64> expected;
    for (qint64 k = 0; k < 10000; ++k)
        expected << k;
    expected << 0;
    QCOMPARE(rig.view.progressValues(), expected);
    QCOMPARE(rig.image.ConfigLength, 10000);
    QCOMPARE(rig.image.ConfigData.mid(1), image);
    QCOMPARE(rig.image.ConfigData.at(0), '\0');
    QCOMPARE(rig.view.warnings, QStringList());
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
    // When the last wait for a byte began (to within one yield).
    qint64 lastWaitBegan = 0;
    qsizetype logSize = 0;
    rig.fake.onTick = [&] {
        if (rig.view.log.size() != logSize) {
            logSize = rig.view.log.size();
            lastWaitBegan = rig.fake.nowNs() - rig.fake.stepNs;
        }
    };
    qint64 boxAt = 0;
    rig.view.onWarning = [&] { boxAt = rig.fake.nowNs(); };
    rig.fake.onOutput = [&](const QByteArray &bytes) {
        if (bytes == "B")
            rig.fake.deliverAfter(FakeComm::kMs, probeReply);
        controller.receive(rig.fake, bytes);
    };

    QElapsedTimer timer;
    timer.start();
    rig.transfers.mnuBackup_Click();
    qInfo("second-generation backup: %lld ms", qint64(timer.elapsed()));

    QCOMPARE(rig.image.ControllerType, qint16(2));
    QCOMPARE(rig.fake.written, QByteArray("B@?"));
    const QStringList setUps{"CommPort=1",         "RTSEnable=1",         "Handshaking=2",
                             "InBufferSize=32000", "InBufferCount=0",     "InputLen=1",
                             "InputMode=1",        "PortOpen=1",          "PortOpen=0",
                             "CommPort=1",         "Settings=9600,N,8,1", "RTSEnable=1",
                             "InBufferSize=32000", "InBufferCount=0",     "InputLen=1",
                             "InputMode=1",        "PortOpen=1",          "PortOpen=0"};
    QCOMPARE(rig.fake.props, setUps);
    QCOMPARE(rig.fake.writes.at(1).settings, QStringLiteral("9600,N,8,1"));
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
        QCOMPARE(values.size(), kSecondGenerationLength + 1);
        QCOMPARE(values.at(values.size() - 2), kSecondGenerationLength - 1);
    } else {
        const qsizetype taken = qMax<qint64>(0, streamLength - 1);
        QCOMPARE(rig.view.warnings, QStringList{kNoResponse});
        QCOMPARE(rig.image.ConfigLength, 0);
        QCOMPARE(rig.view.configStatus, QStringLiteral("old"));
        QCOMPARE(rig.image.ConfigData.mid(1, taken), image.left(taken));
        QVERIFY(rig.image.ConfigData.mid(1 + taken).count('\0') == kSecondGenerationLength - taken);
        QCOMPARE(values.at(values.size() - 2), qint64(taken));
        // Each byte has two seconds from the moment the one before it was taken.
        QVERIFY(boxAt - lastWaitBegan > 2 * FakeComm::kSec);
        QVERIFY(boxAt - lastWaitBegan < 2 * FakeComm::kSec + 2 * rig.fake.stepNs);
    }
}

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
    QCOMPARE(rig.fake.writes.at(before).settings, QStringLiteral("9600,N,8,1"));
    QCOMPARE(rig.image.ConfigLength, 3);
    QCOMPARE(rig.image.ControllerType, qint16(1));
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

    QCOMPARE(rig.view.warnings, QStringList{"ERROR Message|" + text});
    QCOMPARE(rig.fake.written, QByteArray(failsSecondOpen ? "B" : ""));
    const QStringList tail = rig.view.log.mid(rig.view.log.size() - 3);
    QCOMPARE(tail,
             (QStringList{"status:Waiting for Command", "warning:ERROR Message|" + text, "idle"}));
    rig.checkEndedIdle();
    if (!failsSecondOpen)
        QCOMPARE(rig.view.log.size(), 3); // not even busy
    // The old image is kept unless the second generation had already replaced it.
    QCOMPARE(rig.image.ConfigLength, failsSecondOpen ? 0 : 3);
    QCOMPARE(rig.image.ControllerType, qint16(failsSecondOpen ? 2 : 0));
}

void TestBackup::interrupted_data() {
    QTest::addColumn<bool>("secondGeneration");
    QTest::addColumn<bool>("stop");   // else the device goes away
    QTest::addColumn<int>("atValue"); // once the progress has got this far
    QTest::addColumn<int>("length");
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("stop in probe") << false << true << -1 << 3 << QStringList();
    QTest::newRow("stop in upload") << false << true << 50 << 0 << QStringList();
    QTest::newRow("stop in stream") << true << true << 500 << 0 << QStringList();
    QTest::newRow("lost in probe") << false << false << -1 << 3 << QStringList{kNoResponse};
    QTest::newRow("lost in upload") << false << false << 50 << 0 << QStringList{kNoResponse};
    QTest::newRow("lost in stream") << true << false << 500 << 0 << QStringList{kNoResponse};
}

void TestBackup::interrupted() {
    QFETCH(bool, secondGeneration);
    QFETCH(bool, stop);
    QFETCH(int, atValue);
    QFETCH(int, length);
    QFETCH(QStringList, warnings);

    Rig rig;
    FirstGenController first(randomBytes(100));
    SecondGenController second(randomBytes(kSecondGenerationLength));
    second.byteGapNs = FakeComm::kMs;
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
    QCOMPARE(rig.view.warnings, warnings);
    QCOMPARE(rig.fake.props.last(), QStringLiteral("PortOpen=0"));
    QCOMPARE(rig.image.ConfigLength, length);
    if (stop)
        QCOMPARE(rig.view.log.size(), logAtStop); // not a single view call after the stop
    else
        rig.checkEndedIdle();
}

QTEST_GUILESS_MAIN(TestBackup)
#include "tst_transfers_backup.moc"
