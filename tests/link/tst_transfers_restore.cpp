#include "fakecomm.h"
#include "recordingview.h"
#include "transfers.h"

#include <QElapsedTimer>
#include <QtTest>

namespace {
const QString kNoResponse =
    QStringLiteral("ERROR Message|Error : Controller Failed to respond, Check Communications");
const QString kBadChecksum = QStringLiteral("ERROR Message|Error : Bad Checksum");
const QString kWrongLength = QStringLiteral("ERROR Message|Error : Incorrect File Length");
constexpr qint64 kSec = FakeComm::kSec;
constexpr qint64 kMs = FakeComm::kMs;

// A window holding `image`, with a controller on Com 1.
struct Rig {
    explicit Rig(const QByteArray &image) {
        held.ConfigData = QByteArray(1, '\0') + image;
        held.ConfigLength = qint32(image.size());
        held.ControllerType = 1;
        kept = held;
    }
    FakeComm fake;
    RecordingView view;
    ConfigImage held, kept;
    Transfers transfers{fake, fake, view, held};

    void checkImageUntouched() const {
        QCOMPARE(held.ConfigData, kept.ConfigData);
        QCOMPARE(held.ConfigLength, kept.ConfigLength);
        QCOMPARE(held.ControllerType, kept.ControllerType);
        QCOMPARE(view.linesStartingWith("config:"), QStringList());
        QCOMPARE(view.linesStartingWith("file:"), QStringList());
    }
    void checkEndedIdle() const {
        QVERIFY(!fake.portOpen());
        QCOMPARE(fake.props.last(), QStringLiteral("PortOpen=0"));
        QCOMPARE(view.log.first(), QStringLiteral("busy"));
        QCOMPARE(view.log.last(), QStringLiteral("idle"));
        QCOMPARE(view.status, QStringLiteral("Waiting for Command"));
        QVERIFY(view.progressValues().isEmpty() || view.progressValues().last() == 0);
    }
    // The first `n` bytes, as the program wrote them: each in a write of its own.
    void checkSingleByteWrites(qsizetype from, qsizetype n) const {
        for (qsizetype i = from; i < from + n; ++i)
            QCOMPARE(fake.writes.at(i).bytes.size(), 1);
    }
};

QByteArray request(qint32 length) {
    return "R" + littleEndian32(quint32(length));
}

QList<qint64> fullImageProgress() {
    QList<qint64> values;
    for (qint64 v = 0; v <= 181332; v += 5037)
        values << v;
    values << 0;
    return values;
}
} // namespace

class TestRestore : public QObject {
    Q_OBJECT
private slots:
    void firstGeneration_data();
    void firstGeneration();
    void firstGenerationSequence();
    void progress_data();
    void progress();
    void handedOver_data();
    void handedOver();
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
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QByteArray>("readyReply");
    QTest::addColumn<bool>("answerChecksum");
    QTest::addColumn<int>("checksumReply"); // -1: the right one
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("checksum matches")
        << QByteArray("abc") << QByteArray("U") << true << -1 << QStringList();
    QTest::newRow("checksum differs")
        << QByteArray("abc") << QByteArray("U") << true << 0x61 << QStringList{kBadChecksum};
    QTest::newRow("XOR 0, reply 0x00")
        << QByteArray("\x5A\x5A") << QByteArray("U") << true << 0 << QStringList();
    QTest::newRow("others before U")
        << QByteArray("abc") << QByteArray("#u\x01U") << true << -1 << QStringList();
    QTest::newRow("silent after image")
        << QByteArray("abc") << QByteArray("U") << false << -1 << QStringList{kNoResponse};
}

void TestRestore::firstGeneration() {
    QFETCH(QByteArray, image);
    QFETCH(QByteArray, readyReply);
    QFETCH(bool, answerChecksum);
    QFETCH(int, checksumReply);
    QFETCH(QStringList, warnings);

    Rig rig(image);
    FirstGenController controller;
    controller.readyReply = readyReply;
    controller.answerChecksum = answerChecksum;
    if (checksumReply >= 0)
        controller.checksumReplyOverride = quint8(checksumReply);
    controller.attach(rig.fake);
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.view.warnings, warnings);
    QCOMPARE(rig.fake.written, request(qint32(image.size())) + image);
    QCOMPARE(rig.fake.writes.first().bytes, QByteArray("R"));
    rig.checkSingleByteWrites(1, 4 + image.size());
    QCOMPARE(controller.received, image);
    QCOMPARE(rig.fake.props.count("PortOpen=1"), 1);
    QCOMPARE(rig.fake.settings, QStringLiteral("57600,N,8,1"));
    rig.checkEndedIdle();
    rig.checkImageUntouched();
}

void TestRestore::firstGenerationSequence() {
    Rig rig(QByteArray("abc"));
    FirstGenController controller;
    controller.attach(rig.fake);
    rig.transfers.mnuRestore_Click();

    const QStringList expected{
        "busy",
        "status:Initiating Restore with Controller",
        "status:Downloading Controller Configuration (3 bytes)",
        "min:0",
        "max:2",
        "value:0",
        "value:1",
        "value:2",
        "value:0",
        "status:Validating Checksum",
        "status:Waiting for Command",
        "idle",
    };
    QCOMPARE(rig.view.log, expected);
    QCOMPARE(rig.fake.props, (QStringList{"CommPort=1", "RTSEnable=1", "Handshaking=2",
                                          "InBufferSize=32000", "InBufferCount=0", "InputLen=1",
                                          "InputMode=0", "PortOpen=1", "PortOpen=0"}));
}

void TestRestore::progress_data() {
    QTest::addColumn<int>("length");
    QTest::addColumn<QList<qint64>>("values");

    const auto steps = [](qint64 last, qint64 step) {
        QList<qint64> out;
        for (qint64 v = 0; v <= last; v += step)
            out << v;
        return out << 0;
    };
    QTest::newRow("1 byte") << 1 << QList<qint64>{0, 0};
    QTest::newRow("18 bytes, interval 0") << 18 << steps(17, 1);
    QTest::newRow("19 bytes, interval 1") << 19 << steps(18, 1);
    QTest::newRow("55 bytes, interval 1") << 55 << steps(54, 1);
    QTest::newRow("56 bytes, interval 2") << 56 << steps(55, 2);
    QTest::newRow("186368 bytes") << kSecondGenerationLength << fullImageProgress();
}

void TestRestore::progress() {
    QFETCH(int, length);
    QFETCH(QList<qint64>, values);

    const QByteArray image = randomBytes(length);
    Rig rig(image);
    FirstGenController controller;
    controller.attach(rig.fake);
    QElapsedTimer timer;
    timer.start();
    rig.transfers.mnuRestore_Click();
    if (length == kSecondGenerationLength)
        qInfo("first-generation restore of %d bytes: %lld ms", length, qint64(timer.elapsed()));

    QCOMPARE(rig.view.progressMin, 0);
    QCOMPARE(rig.view.progressMax, length - 1);
    QCOMPARE(rig.view.progressValues(), values);
    QCOMPARE(controller.received, image);
    QCOMPARE(rig.view.warnings, QStringList());
}

void TestRestore::handedOver_data() {
    QTest::addColumn<QByteArray>("readyReply");
    QTest::addColumn<qint64>("readyDelay");
    QTest::newRow("lower-case u") << QByteArray("u") << 1000LL;
    QTest::newRow("U after 4 s") << QByteArray("U") << 4 * kSec + FakeComm::kMs;
    QTest::newRow("silent") << QByteArray() << 0LL;
}

// Without a "U" the controller counts as second-generation, which takes only 186368 bytes.
void TestRestore::handedOver() {
    QFETCH(QByteArray, readyReply);
    QFETCH(qint64, readyDelay);

    Rig rig(QByteArray("abc"));
    FirstGenController controller;
    controller.readyReply = readyReply;
    controller.readyDelayNs = readyDelay;
    controller.attach(rig.fake);
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.view.warnings, QStringList{kWrongLength});
    QCOMPARE(rig.fake.written, request(3));
    QCOMPARE(rig.fake.props.count("PortOpen=1"), 1);
    QCOMPARE(rig.view.log.mid(rig.view.log.size() - 2),
             (QStringList{"warning:" + kWrongLength, "idle"}));
    QVERIFY(rig.fake.nowNs() > 4 * kSec);
    rig.checkEndedIdle();
    rig.checkImageUntouched();
}

void TestRestore::secondGeneration_data() {
    QTest::addColumn<QByteArray>("image");
    QTest::addColumn<QByteArray>("menuAnswer");
    QTest::addColumn<bool>("answerVerdict");
    QTest::addColumn<int>("verdict"); // -1: the controller's own
    QTest::addColumn<QStringList>("warnings");
    QTest::addColumn<int>("checksum"); // -1: nothing after "@M"

    const QByteArray random = randomBytes(kSecondGenerationLength, 7);
    const int randomXor = xorOf(random);
    QByteArray only5A(kSecondGenerationLength, '\0');
    only5A[1000] = '\x5A';
    const QByteArray zeros(kSecondGenerationLength, '\0');

    QTest::newRow("accepted") << random << QByteArray("K") << true << -1 << QStringList()
                              << randomXor;
    QTest::newRow("all zeros") << zeros << QByteArray("K") << true << -1 << QStringList() << 0;
    QTest::newRow("only 0x5A") << only5A << QByteArray("K") << true << -1 << QStringList() << 0x5A;
    QTest::newRow("long answer to @M")
        << random << QByteArray("OK\r\n") << true << -1 << QStringList() << randomXor;
    QTest::newRow("answer Y, rejected")
        << random << QByteArray("Y") << true << int('N') << QStringList{kBadChecksum} << randomXor;
    QTest::newRow("verdict 0x00") << random << QByteArray("\0", 1) << true << 0
                                  << QStringList{kBadChecksum} << randomXor;
    QTest::newRow("no verdict") << random << QByteArray("K") << false << -1
                                << QStringList{kNoResponse} << randomXor;
    QTest::newRow("no answer to @M")
        << random << QByteArray() << true << -1 << QStringList{kNoResponse} << -1;
    QTest::newRow("186367 bytes") << random.left(186367) << QByteArray("K") << true << -1
                                  << QStringList{kWrongLength} << -1;
    QTest::newRow("186369 bytes") << random + "x" << QByteArray("K") << true << -1
                                  << QStringList{kWrongLength} << -1;
}

void TestRestore::secondGeneration() {
    QFETCH(QByteArray, image);
    QFETCH(QByteArray, menuAnswer);
    QFETCH(bool, answerVerdict);
    QFETCH(int, verdict);
    QFETCH(QStringList, warnings);
    QFETCH(int, checksum);

    Rig rig(image);
    SecondGenController controller(image);
    controller.menuAnswer = menuAnswer;
    controller.answerVerdict = answerVerdict;
    if (verdict >= 0)
        controller.verdictOverride = char(verdict);
    controller.attach(rig.fake);
    QElapsedTimer timer;
    timer.start();
    rig.transfers.mnuRestore_Click();
    if (checksum >= 0)
        qInfo("second-generation restore: %lld ms", qint64(timer.elapsed()));

    QCOMPARE(rig.view.warnings, warnings);
    const QByteArray announced = request(qint32(image.size()));
    if (image.size() == kSecondGenerationLength)
        QCOMPARE(announced, QByteArray("R\x00\xD8\x02\x00", 5));
    rig.checkEndedIdle();
    rig.checkImageUntouched();

    if (image.size() != kSecondGenerationLength) {
        QCOMPARE(rig.fake.written, announced);
        QCOMPARE(rig.fake.props.count("PortOpen=1"), 1);
        return;
    }
    const QStringList restoreSetUp{"CommPort=1",         "Settings=9600,N,8,1", "RTSEnable=1",
                                   "InBufferSize=32000", "InBufferCount=0",     "InputLen=1",
                                   "InputMode=0",        "PortOpen=1"};
    QCOMPARE(rig.fake.lastSetUp(), restoreSetUp);
    QCOMPARE(rig.fake.settings, QStringLiteral("9600,N,8,1"));
    if (checksum < 0) {
        QCOMPARE(rig.fake.written, announced + "@M");
        return;
    }
    QCOMPARE(rig.fake.written, announced + "@M@!" + image + char(checksum));
    QCOMPARE(rig.fake.writes.size(), 5 + 2 + kSecondGenerationLength + 1);
    QCOMPARE(rig.fake.writes.at(5).bytes, QByteArray("@M"));
    QCOMPARE(rig.fake.writes.at(6).bytes, QByteArray("@!"));
    rig.checkSingleByteWrites(7, kSecondGenerationLength + 1);
    QCOMPARE(controller.received, image);
    QCOMPARE(rig.view.progressMax, kSecondGenerationLength - 1);
    QCOMPARE(rig.view.progressValues(), fullImageProgress());
    QCOMPARE(rig.view.linesStartingWith("status:Downloading"),
             QStringList{"status:Downloading Controller Configuration (186368 bytes)"});
}

void TestRestore::interrupted_data() {
    QTest::addColumn<bool>("secondGeneration");
    QTest::addColumn<int>("afterWrites");
    QTest::addColumn<QString>("fault"); // "stop", "lost" or "stall"
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("stop in probe") << false << 5 << "stop" << QStringList();
    QTest::newRow("stop in download") << false << 500 << "stop" << QStringList();
    QTest::newRow("stop in 2nd-gen download") << true << 500 << "stop" << QStringList();
    QTest::newRow("lost in probe") << true << 5 << "lost" << QStringList{kNoResponse};
    QTest::newRow("lost in download") << false << 500 << "lost" << QStringList{kNoResponse};
    QTest::newRow("lost in 2nd-gen download") << true << 500 << "lost" << QStringList{kNoResponse};
    QTest::newRow("lost after last byte")
        << false << 5 + 186368 << "lost" << QStringList{kNoResponse};
    QTest::newRow("stalled in download") << false << 500 << "stall" << QStringList{kNoResponse};
    QTest::newRow("stalled before checksum")
        << true << 7 + 186368 << "stall" << QStringList{kNoResponse};
}

void TestRestore::interrupted() {
    QFETCH(bool, secondGeneration);
    QFETCH(int, afterWrites);
    QFETCH(QString, fault);
    QFETCH(QStringList, warnings);

    Rig rig(randomBytes(kSecondGenerationLength));
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
    QCOMPARE(rig.view.warnings, warnings);
    QCOMPARE(rig.fake.props.last(), QStringLiteral("PortOpen=0"));
    if (fault == "stop")
        QCOMPARE(rig.view.log.size(), logAtStop);
    else
        rig.checkEndedIdle();
    rig.checkImageUntouched();
}

void TestRestore::openFailure_data() {
    QTest::addColumn<bool>("secondSetUp");
    QTest::addColumn<QByteArray>("written");
    QTest::newRow("restore start") << false << QByteArray();
    QTest::newRow("second generation") << true << request(kSecondGenerationLength);
}

void TestRestore::openFailure() {
    QFETCH(bool, secondSetUp);
    QFETCH(QByteArray, written);

    Rig rig(QByteArray(kSecondGenerationLength, '\x11'));
    rig.view.selectedPort = 3;
    if (secondSetUp)
        rig.fake.onOutput = [&](const QByteArray &) { rig.fake.failOpen = true; };
    else
        rig.fake.failOpen = true;
    rig.transfers.mnuRestore_Click();

    const QString warning =
        QStringLiteral("ERROR Message|Error : Cannot open Com 3 (/dev/ttyS2): Permission denied");
    QCOMPARE(rig.view.warnings, QStringList{warning});
    QCOMPARE(rig.fake.written, written);
    QCOMPARE(rig.view.log.mid(rig.view.log.size() - 3),
             (QStringList{"status:Waiting for Command", "warning:" + warning, "idle"}));
    rig.checkEndedIdle();
    rig.checkImageUntouched();
}

void TestRestore::imageShorterThanLength() {
    Rig rig(QByteArray("abc"));
    rig.held.ConfigLength = 10;
    rig.kept.ConfigLength = 10;
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.fake.props, QStringList());
    QCOMPARE(rig.view.log, QStringList{"idle"});
    rig.checkImageUntouched();
}

QTEST_GUILESS_MAIN(TestRestore)
#include "tst_transfers_restore.moc"

void TestRestore::replyWaitsForTheLine_data() {
    QTest::addColumn<bool>("secondGeneration");
    QTest::addColumn<qint64>("drainNs");
    QTest::addColumn<qint64>("replyNs"); // after the last byte went out; -1: never
    QTest::addColumn<QStringList>("warnings");

    QTest::newRow("line drained, late reply")
        << false << 0LL << 4500 * kMs << QStringList{kNoResponse};
    QTest::newRow("reply while the line drains")
        << false << 10 * kSec << 12 * kSec << QStringList();
    QTest::newRow("reply after drain and limit")
        << false << 10 * kSec << 14500 * kMs << QStringList{kNoResponse};
    QTest::newRow("verdict while the line drains")
        << true << 10 * kSec << 13 * kSec << QStringList();
    QTest::newRow("no verdict at all") << true << 10 * kSec << -1LL << QStringList{kNoResponse};
}

// The system queues bytes beyond the transmit buffer; the reply to the image can come only
// once the line has carried them, so the limit counts from then.
void TestRestore::replyWaitsForTheLine() {
    QFETCH(bool, secondGeneration);
    QFETCH(qint64, drainNs);
    QFETCH(qint64, replyNs);
    QFETCH(QStringList, warnings);

    Rig rig(randomBytes(secondGeneration ? kSecondGenerationLength : 300));
    FirstGenController first;
    SecondGenController second(QByteArray(kSecondGenerationLength, '\0')); // takes that many
    if (secondGeneration) {
        second.replyDelayNs = replyNs;
        second.answerVerdict = replyNs >= 0;
        rig.fake.onOutput = [&](const QByteArray &bytes) {
            // The answer to "@M" comes at once; only the verdict is late.
            second.replyDelayNs = bytes == "@M" ? FakeComm::kMs : replyNs;
            second.receive(rig.fake, bytes);
        };
    } else {
        first.replyDelayNs = replyNs;
        first.answerChecksum = replyNs >= 0;
        first.attach(rig.fake);
    }
    rig.fake.drainNs = drainNs;
    qint64 lastWriteNs = -1, warnedNs = -1;
    rig.view.onWarning = [&] {
        lastWriteNs = rig.fake.writes.last().timeNs;
        warnedNs = rig.fake.nowNs();
    };
    rig.transfers.mnuRestore_Click();

    QCOMPARE(rig.view.warnings, warnings);
    if (!warnings.isEmpty())
        QVERIFY(warnedNs - lastWriteNs > drainNs + 4 * kSec);
    rig.checkEndedIdle();
    rig.checkImageUntouched();
}
