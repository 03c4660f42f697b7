#include "transferrig.h"

#include <functional>

Q_DECLARE_METATYPE(FirstGenController)
Q_DECLARE_METATYPE(SecondGenController)

namespace {
const QString kWrongLength = QStringLiteral("ERROR Message|Error : Incorrect File Length");
const QByteArray kRequest2("R\x00\xD8\x02\x00", 5); // "R" and 186368, least significant first

QByteArray request(qint32 length) {
    return "R" + littleEndian32(quint32(length));
}

QList<qint64> progressSteps(qint64 last, qint64 step) {
    QList<qint64> values;
    for (qint64 v = 0; v <= last; v += step)
        values << v;
    return values << 0;
}
const QList<qint64> kFullImageProgress = progressSteps(181332, 5037);
} // namespace

class TestRestore : public QObject {
    Q_OBJECT
private slots:
    void firstGeneration_data();
    void firstGeneration();
    void firstGenerationSequence();
    void progress_data();
    void progress();
    void secondGeneration_data();
    void secondGeneration();
    void interrupted_data();
    void interrupted();
    void openFailure_data();
    void openFailure();
    void imageShorterThanLength();
    void replyWaitsForTheLine_data();
    void replyWaitsForTheLine();
};

void TestRestore::firstGeneration_data() {
    QTest::addColumn<FirstGenController>("controller");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<QByteArray>("written");
    const auto row = [](const char *name, const FirstGenController &controller,
                        const QString &warning, const QByteArray &image = "abc",
                        const QByteArray &written = {}) {
        QTest::newRow(name) << controller << image << warning
                            << (written.isNull() ? request(qint32(image.size())) + image : written);
    };
    const auto with = [](const std::function<void(FirstGenController &)> &change) {
        FirstGenController controller;
        change(controller);
        return controller;
    };
    row("checksum matches", FirstGenController(), {});
    row("checksum differs", with([](auto &c) { c.checksumReplyOverride = 0x61; }), kBadChecksum);
    row("XOR 0, reply 0x00", with([](auto &c) { c.checksumReplyOverride = 0; }), {}, "\x5A\x5A");
    row("others before U", with([](auto &c) { c.readyReply = "#u\x01U"; }), {});
    row("silent after image", with([](auto &c) { c.answerChecksum = false; }), kNoResponse);
    // Without a "U" the controller counts as second-generation, which takes only 186368 bytes.
    row("lower-case u", with([](auto &c) { c.readyReply = "u"; }), kWrongLength, "abc", request(3));
    row("U after 4 s", with([](auto &c) { c.readyDelayNs = 4 * kSec + kMs; }), kWrongLength, "abc",
        request(3));
    row("silent", with([](auto &c) { c.readyReply.clear(); }), kWrongLength, "abc", request(3));
}

void TestRestore::firstGeneration() {
    QFETCH(FirstGenController, controller);
    QFETCH(QByteArray, image);
    QFETCH(QString, warning);
    QFETCH(QByteArray, written);

    Rig rig(image, 1);
    controller.attach(rig.fake);
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.view.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
    QCOMPARE(rig.fake.written, written);
    QCOMPARE(rig.fake.writes.size(), written.size()); // every byte a write of its own
    QCOMPARE(rig.fake.props.count("PortOpen=1"), 1);
    if (warning == kWrongLength)
        QCOMPARE(rig.view.log.mid(rig.view.log.size() - 2),
                 (QStringList{"warning:" + warning, "idle"}));
    rig.checkEndedIdle();
    rig.checkImageUntouched();
}

void TestRestore::firstGenerationSequence() {
    Rig rig(QByteArray("abc"), 1);
    FirstGenController controller;
    controller.attach(rig.fake);
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.view.log,
             QStringList({"busy", "status:Initiating Restore with Controller",
                          "status:Downloading Controller Configuration (3 bytes)", "min:0", "max:2",
                          "value:0", "value:1", "value:2", "value:0", "status:Validating Checksum",
                          "status:Waiting for Command", "idle"}));
    QCOMPARE(rig.fake.props,
             (QStringList{"CommPort=1", "Settings=57600,N,8,1", "RTSEnable=1", "Handshaking=2",
                          "InBufferSize=32000", "InBufferCount=0", "InputLen=1", "InputMode=0",
                          "PortOpen=1", "PortOpen=0"}));
}

void TestRestore::progress_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<qint64>>("values");
    QTest::newRow("1 byte") << 1 << QList<qint64>{0, 0};
    QTest::newRow("18 bytes, interval 0") << 18 << progressSteps(17, 1);
    QTest::newRow("19 bytes, interval 1") << 19 << progressSteps(18, 1);
    QTest::newRow("55 bytes, interval 1") << 55 << progressSteps(54, 1);
    QTest::newRow("56 bytes, interval 2") << 56 << progressSteps(55, 2);
}

void TestRestore::progress() {
    QFETCH(int, length);
    QFETCH(QList<qint64>, values);
    Rig rig(randomBytes(length), 1);
    FirstGenController controller;
    controller.attach(rig.fake);
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.view.warnings, QStringList());
    QCOMPARE(rig.view.progressMin, 0);
    QCOMPARE(rig.view.progressMax, length - 1);
    QCOMPARE(rig.view.progressValues(), values);
}

void TestRestore::secondGeneration_data() {
    QTest::addColumn<SecondGenController>("controller"); // holding the image restored
    QTest::addColumn<QString>("warning");
    QTest::addColumn<int>("checksum"); // -1: nothing after "@M"
    const auto row = [](const char *name, const SecondGenController &controller,
                        const QString &warning,
                        int checksum) { QTest::newRow(name) << controller << warning << checksum; };
    const QByteArray random = randomBytes(kSecondGenerationLength, 7);
    const int randomXor = xorOf(random);
    const auto with = [&](const std::function<void(SecondGenController &)> &change) {
        SecondGenController controller(random);
        change(controller);
        return controller;
    };
    QByteArray only5A(kSecondGenerationLength, '\0');
    only5A[1000] = '\x5A';

    row("accepted", SecondGenController(random), {}, randomXor);
    row("all zeros", SecondGenController(QByteArray(kSecondGenerationLength, '\0')), {}, 0);
    row("only 0x5A", SecondGenController(only5A), {}, 0x5A);
    row("long answer to @M", with([](auto &c) { c.menuAnswer = "OK\r\n"; }), {}, randomXor);
    row("answer Y, rejected", with([](auto &c) {
            c.menuAnswer = "Y";
            c.verdictOverride = 'N';
        }),
        kBadChecksum, randomXor);
    row("verdict 0x00", with([](auto &c) {
            c.menuAnswer = QByteArray(1, '\0');
            c.verdictOverride = '\0';
        }),
        kBadChecksum, randomXor);
    row("no verdict", with([](auto &c) { c.answerVerdict = false; }), kNoResponse, randomXor);
    row("no answer to @M", with([](auto &c) { c.menuAnswer.clear(); }), kNoResponse, -1);
    row("186367 bytes", SecondGenController(random.left(186367)), kWrongLength, -1);
    row("186369 bytes", SecondGenController(random + "x"), kWrongLength, -1);
}

void TestRestore::secondGeneration() {
    QFETCH(SecondGenController, controller);
    QFETCH(QString, warning);
    QFETCH(int, checksum);

    const QByteArray image = controller.image;
    Rig rig(image, 1);
    controller.attach(rig.fake);
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.view.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
    rig.checkEndedIdle();
    rig.checkImageUntouched();
    if (image.size() != kSecondGenerationLength) {
        QCOMPARE(rig.fake.written, request(qint32(image.size())));
        QCOMPARE(rig.fake.props.count("PortOpen=1"), 1);
        return;
    }
    QCOMPARE(rig.fake.lastSetUp(),
             (QStringList{"CommPort=1", "Settings=9600,N,8,1", "RTSEnable=1", "InBufferSize=32000",
                          "InBufferCount=0", "InputLen=1", "InputMode=0", "PortOpen=1"}));
    if (checksum < 0) {
        QCOMPARE(rig.fake.written, kRequest2 + "@M");
        return;
    }
    QCOMPARE(rig.fake.written, kRequest2 + "@M@!" + image + char(checksum));
    // The commands go whole, each image byte and the checksum on its own.
    QCOMPARE(rig.fake.writes.size(), 5 + 2 + kSecondGenerationLength + 1);
    QCOMPARE(rig.view.progressMax, kSecondGenerationLength - 1);
    QCOMPARE(rig.view.progressValues(), kFullImageProgress);
    QCOMPARE(rig.view.linesStartingWith("status:Downloading"),
             QStringList{"status:Downloading Controller Configuration (186368 bytes)"});
}

void TestRestore::interrupted_data() {
    QTest::addColumn<bool>("secondGeneration");
    QTest::addColumn<int>("afterWrites");
    QTest::addColumn<QString>("fault"); // "stop", "lost" or "stall"

    QTest::newRow("stop in probe") << false << 5 << "stop";
    QTest::newRow("stop in download") << false << 500 << "stop";
    QTest::newRow("stop in 2nd-gen download") << true << 500 << "stop";
    QTest::newRow("lost in probe") << true << 5 << "lost";
    QTest::newRow("lost in download") << false << 500 << "lost";
    QTest::newRow("lost in 2nd-gen download") << true << 500 << "lost";
    QTest::newRow("lost after last byte") << false << 5 + 186368 << "lost";
    QTest::newRow("stalled in download") << false << 500 << "stall";
    QTest::newRow("stalled before checksum") << true << 7 + 186368 << "stall";
}

void TestRestore::interrupted() {
    QFETCH(bool, secondGeneration);
    QFETCH(int, afterWrites);
    QFETCH(QString, fault);

    Rig rig(randomBytes(kSecondGenerationLength), 1);
    FirstGenController first;
    first.readyDelayNs = 3 * kSec;
    SecondGenController second;
    qsizetype logAtStop = -1;
    rig.fake.onOutput = [&](const QByteArray &bytes) {
        if (secondGeneration)
            second.receive(rig.fake, bytes);
        else
            first.receive(rig.fake, bytes);
        if (rig.fake.writes.size() != afterWrites)
            return;
        logAtStop = rig.view.log.size();
        if (fault == "stop")
            rig.view.stop = true;
        else if (fault == "lost")
            rig.fake.loseDevice();
        else
            rig.fake.stallOutput = true;
    };
    rig.transfers.mnuRestore_Click();

    QVERIFY(logAtStop >= 0);
    QCOMPARE(rig.fake.writes.size(), afterWrites);
    QCOMPARE(rig.fake.refusedOutputs, fault == "stall" ? 1 : 0);
    QCOMPARE(rig.view.warnings, fault == "stop" ? QStringList() : QStringList{kNoResponse});
    QCOMPARE(rig.fake.props.last(), QStringLiteral("PortOpen=0"));
    if (fault == "stop")
        QCOMPARE(rig.view.log.size(), logAtStop); // not a single view call after the stop
    else
        rig.checkEndedIdle();
    rig.checkImageUntouched();
}

void TestRestore::openFailure_data() {
    QTest::addColumn<bool>("secondSetUp");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("restore start") << false << QByteArray();
    QTest::newRow("second generation") << true << kRequest2;
}

void TestRestore::openFailure() {
    QFETCH(bool, secondSetUp);
    QFETCH(QByteArray, written);

    Rig rig(QByteArray(kSecondGenerationLength, '\x11'), 1);
    rig.view.selectedPort = 3;
    if (secondSetUp)
        rig.fake.onOutput = [&](const QByteArray &) { rig.fake.failOpen = true; };
    else
        rig.fake.failOpen = true;
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.fake.written, written);
    QCOMPARE(rig.view.log.mid(rig.view.log.size() - 3),
             (QStringList{"status:Waiting for Command",
                          "warning:ERROR Message|Error : Cannot open Com 3 (/dev/ttyS2): "
                          "Permission denied",
                          "idle"}));
    rig.checkEndedIdle();
    rig.checkImageUntouched();
}

// A length beyond the bytes held is never sent: nothing would back it.
void TestRestore::imageShorterThanLength() {
    Rig rig(QByteArray("abc"), 1);
    rig.image.ConfigLength = rig.kept.ConfigLength = 10;
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.fake.props, QStringList());
    QCOMPARE(rig.view.log, QStringList{"idle"});
    rig.checkImageUntouched();
}

void TestRestore::replyWaitsForTheLine_data() {
    QTest::addColumn<bool>("secondGeneration");
    QTest::addColumn<qint64>("drainNs");
    QTest::addColumn<qint64>("replyNs"); // after the last byte went out; -1: never
    QTest::addColumn<bool>("answered");

    QTest::newRow("line drained, late reply") << false << 0LL << 4500 * kMs << false;
    QTest::newRow("reply while the line drains") << false << 10 * kSec << 12 * kSec << true;
    QTest::newRow("reply after drain and limit") << false << 10 * kSec << 14500 * kMs << false;
    QTest::newRow("verdict while the line drains") << true << 10 * kSec << 13 * kSec << true;
    QTest::newRow("no verdict at all") << true << 10 * kSec << -1LL << false;
}

// The system queues bytes beyond the transmit buffer; the reply to the image can come only
// once the line has carried them, so the limit counts from then.
void TestRestore::replyWaitsForTheLine() {
    QFETCH(bool, secondGeneration);
    QFETCH(qint64, drainNs);
    QFETCH(qint64, replyNs);
    QFETCH(bool, answered);

    Rig rig(randomBytes(secondGeneration ? kSecondGenerationLength : 300), 1);
    FirstGenController first;
    SecondGenController second(QByteArray(kSecondGenerationLength, '\0')); // takes that many
    if (secondGeneration) {
        second.answerVerdict = replyNs >= 0;
        rig.fake.onOutput = [&](const QByteArray &bytes) {
            // The answer to "@M" comes at once; only the verdict is late.
            second.replyDelayNs = bytes == "@M" ? kMs : replyNs;
            second.receive(rig.fake, bytes);
        };
    } else {
        first.replyDelayNs = replyNs;
        first.attach(rig.fake);
    }
    rig.fake.drainNs = drainNs;
    qint64 lastWriteNs = -1, warnedNs = -1;
    rig.view.onWarning = [&] {
        lastWriteNs = rig.fake.writes.last().timeNs;
        warnedNs = rig.fake.nowNs();
    };
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.view.warnings, answered ? QStringList() : QStringList{kNoResponse});
    if (!answered)
        QVERIFY(warnedNs - lastWriteNs > drainNs + 4 * kSec);
    rig.checkEndedIdle();
}

QTEST_GUILESS_MAIN(TestRestore)
#include "tst_transfers_restore.moc"
