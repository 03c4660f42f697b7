#include "transferrig.h"

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
} // namespace

class TestRestore : public QObject {
    Q_OBJECT
private slots:
    void firstGeneration_data();
    void firstGeneration();
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
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<bool>("handedOver"); // no "U": nothing after the length
    QTest::newRow("checksum matches") << QStringList() << QByteArray("abc") << "" << false;
    QTest::newRow("checksum differs")
        << QStringList{"--bad-checksum"} << QByteArray("abc") << kBadChecksum << false;
    QTest::newRow("XOR 0, reply 0x00") << QStringList() << QByteArray("\x5A\x5A") << "" << false;
    QTest::newRow("others before U")
        << QStringList{"--u-prefix=#u?", "--garbage=x"} << QByteArray("abc") << "" << false;
    QTest::newRow("silent after image")
        << QStringList{"--silent-at=restore-checksum"} << QByteArray("abc") << kNoResponse << false;
    // Without a "U" the controller counts as second-generation, which takes only 186368 bytes.
    QTest::newRow("silent at U") << QStringList{"--silent-at=u-reply"} << QByteArray("abc")
                                 << kWrongLength << true;
}

void TestRestore::firstGeneration() {
    QFETCH(QStringList, sim);
    QFETCH(QByteArray, image);
    QFETCH(QString, warning);
    QFETCH(bool, handedOver);

    Rig rig(image, 1);
    SimLink controller(rig.fake, sim);
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.view.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
    const QByteArray written = request(qint32(image.size())) + (handedOver ? "" : image);
    QCOMPARE(rig.fake.written, written);
    QCOMPARE(rig.fake.writes.size(), written.size()); // every byte a write of its own
    QCOMPARE(rig.fake.props.count("PortOpen=1"), 1);
    if (!handedOver)
        QCOMPARE(controller.received, image);
    rig.checkEndedIdle();
    rig.checkImageUntouched();
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
    SimLink controller(rig.fake, {});
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.view.warnings, QStringList());
    QCOMPARE(rig.view.progressMin, 0);
    QCOMPARE(rig.view.progressMax, length - 1);
    QCOMPARE(rig.view.progressValues(), values);
    QCOMPARE(
        rig.view.linesWith("status:"),
        QStringList(
            {"status:Initiating Restore with Controller",
             QStringLiteral("status:Downloading Controller Configuration (%1 bytes)").arg(length),
             "status:Validating Checksum", "status:Waiting for Command"}));
}

void TestRestore::secondGeneration_data() {
    QTest::addColumn<QStringList>("sim");
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QString>("warning");
    QTest::addColumn<int>("checksum"); // -1: nothing after "@M"
    const QByteArray random = randomBytes(kSecondGenerationLength, 7);
    QByteArray only5A(kSecondGenerationLength, '\0');
    only5A[1000] = '\x5A';
    const auto row = [](const char *name, const QStringList &sim, const QByteArray &image,
                        const QString &warning, int checksum) {
        QTest::newRow(name) << (QStringList{"--generation=2"} + sim) << image << warning
                            << checksum;
    };
    row("accepted", {}, random, {}, xorOf(random));
    row("all zeros", {}, QByteArray(kSecondGenerationLength, '\0'), {}, 0);
    row("only 0x5A", {}, only5A, {}, 0x5A);
    row("answer Y, rejected", {"--m-answer=59", "--verdict=4E"}, random, kBadChecksum,
        xorOf(random));
    row("verdict 0x00", {"--m-answer=00", "--verdict=00"}, random, kBadChecksum, xorOf(random));
    row("no verdict", {"--silent-at=verdict"}, random, kNoResponse, xorOf(random));
    row("no answer to @M", {"--silent-at=m-answer"}, random, kNoResponse, -1);
    row("186367 bytes", {}, random.left(186367), kWrongLength, -1);
    row("186369 bytes", {}, random + "x", kWrongLength, -1);
}

void TestRestore::secondGeneration() {
    QFETCH(QStringList, sim);
    QFETCH(QByteArray, image);
    QFETCH(QString, warning);
    QFETCH(int, checksum);

    Rig rig(image, 1);
    SimLink controller(rig.fake, sim);
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.view.warnings, warning.isEmpty() ? QStringList() : QStringList{warning});
    rig.checkEndedIdle();
    rig.checkImageUntouched();
    if (image.size() != kSecondGenerationLength) {
        QCOMPARE(rig.fake.written, request(qint32(image.size())));
        QCOMPARE(rig.fake.props.count("PortOpen=1"), 1);
        return;
    }
    QCOMPARE(rig.fake.writes.last().settings, QStringLiteral("9600,N,8,1"));
    if (checksum < 0) {
        QCOMPARE(rig.fake.written, kRequest2 + "@M");
        return;
    }
    QCOMPARE(rig.fake.written, kRequest2 + "@M@!" + image + char(checksum));
    QCOMPARE(controller.received, image);
    // The commands go whole, each image byte and the checksum on its own.
    QCOMPARE(rig.fake.writes.size(), 5 + 2 + kSecondGenerationLength + 1);
    QCOMPARE(rig.view.progressMax, kSecondGenerationLength - 1);
    QCOMPARE(rig.view.progressValues(), progressSteps(181332, 5037));
}

void TestRestore::interrupted_data() {
    QTest::addColumn<int>("generation");
    QTest::addColumn<int>("afterWrites");
    QTest::addColumn<QString>("fault"); // "stop", "lost" or "stall"

    QTest::newRow("stop in probe") << 1 << 5 << "stop";
    QTest::newRow("stop in download") << 1 << 500 << "stop";
    QTest::newRow("stop in 2nd-gen download") << 2 << 500 << "stop";
    QTest::newRow("lost in probe") << 2 << 5 << "lost";
    QTest::newRow("lost in download") << 1 << 500 << "lost";
    QTest::newRow("lost in 2nd-gen download") << 2 << 500 << "lost";
    QTest::newRow("lost after last byte") << 1 << 5 + 186368 << "lost";
    QTest::newRow("stalled in download") << 1 << 500 << "stall";
    QTest::newRow("stalled before checksum") << 2 << 7 + 186368 << "stall";
}

void TestRestore::interrupted() {
    QFETCH(int, generation);
    QFETCH(int, afterWrites);
    QFETCH(QString, fault);

    Rig rig(randomBytes(kSecondGenerationLength), 1);
    SimLink controller(rig.fake, {QStringLiteral("--generation=%1").arg(generation)});
    qsizetype logAtStop = -1;
    rig.onOutput([&](const QByteArray &) {
        if (rig.fake.writes.size() != afterWrites)
            return;
        logAtStop = rig.view.log.size();
        if (fault == "stop")
            rig.view.stop = true;
        else if (fault == "lost")
            rig.fake.loseDevice();
        else
            rig.fake.stallOutput = true;
    });
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
    QTest::addColumn<int>("failing");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("restore start") << 1 << QByteArray();
    QTest::newRow("second generation") << 2 << kRequest2;
}

void TestRestore::openFailure() {
    QFETCH(int, failing);
    QFETCH(QByteArray, written);

    Rig rig(QByteArray(kSecondGenerationLength, '\x11'), 1);
    rig.view.selectedPort = 3;
    rig.fake.failOpening = failing;
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
    QTest::addColumn<int>("generation");
    QTest::addColumn<qint64>("drainNs");
    QTest::addColumn<qint64>("replyNs"); // after the last byte went out; -1: never
    QTest::addColumn<bool>("answered");

    QTest::newRow("line drained, late reply") << 1 << 0LL << 4500 * kMs << false;
    QTest::newRow("reply while the line drains") << 1 << 10 * kSec << 12 * kSec << true;
    QTest::newRow("reply after drain and limit") << 1 << 10 * kSec << 14500 * kMs << false;
    QTest::newRow("verdict while the line drains") << 2 << 10 * kSec << 13 * kSec << true;
    QTest::newRow("no verdict at all") << 2 << 10 * kSec << -1LL << false;
}

// The system queues bytes beyond the transmit buffer; the reply to the image can come only
// once the line has carried them, so the limit counts from then.
void TestRestore::replyWaitsForTheLine() {
    QFETCH(int, generation);
    QFETCH(qint64, drainNs);
    QFETCH(qint64, replyNs);
    QFETCH(bool, answered);

    Rig rig(randomBytes(generation == 2 ? kSecondGenerationLength : 300), 1);
    SimLink controller(rig.fake, {QStringLiteral("--generation=%1").arg(generation),
                                  replyNs < 0 ? "--silent-at=verdict" : "--quiet"});
    // Only the reply to the image is late.
    rig.onOutput([&](const QByteArray &) {
        controller.replyDelayNs = rig.fake.written.size() > 7 ? replyNs : kMs;
    });
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
