// Backup and Restore against the simulator's controller over simulated time.
#include "config/imagediff.h"
#include "link/transfertexts.h"
#include "simprocess.h"
#include "transferrig.h"

#include <algorithm>

#include <QTemporaryDir>
#include <dlfcn.h>

static int g_syncs = 0; // files synced to disk, counted on their way to the system
extern "C" int fdatasync(int fd) {
    return ++g_syncs, reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fdatasync"))(fd);
}

namespace {
const QString kWrongLength = QStringLiteral("ERROR Message|Error : Incorrect File Length");
const QString kForFirst =
    QStringLiteral("ERROR Message|Error : Image is for a first-generation Controller");
const QString kForSecond =
    QStringLiteral("ERROR Message|Error : Image is for a second-generation Controller");
constexpr qint64 k2 = kSecondGenerationLength;
const QByteArray kRequest2("R\x00\xD8\x02\x00", 5); // "R" and 186368, least significant first

QList<qint64> steps(qint64 last, qint64 step) {
    QList<qint64> values;
    for (qint64 v = 0; v <= last; v += step)
        values << v;
    return values << 0;
}

const QByteArray kHeld = randomBytes(100, 7);
const QDateTime kWhen(QDate(2026, 12, 7), QTime(5, 30, 12));
const QString kNotStarted = QStringLiteral("\n\nThe Restore was not started.");

QByteArray changed(QByteArray bytes, qsizetype index) {
    bytes[index] = char(~bytes.at(index));
    return bytes;
}

struct Strike {      // a stop, lost device or stalled line, once the command got this far
    QString command; // backup, restore, snapshot (first), verify (after)
    int generation;
    QString fault;
    int sent;         // bytes gone out...
    QString status;   // ...the status line starts so...
    int progress;     // ...and the bar reached this
    QString silentAt; // where the controller stays silent
    int length;       // what a Backup leaves held
};
constexpr auto kBackup = JobRequest::Kind::Backup, kRestore = JobRequest::Kind::Restore;
} // namespace
Q_DECLARE_METATYPE(Strike)

class TestTransfers : public QObject {
    Q_OBJECT
private slots:
    void backup1_data() {
        QTest::addColumn<QStringList>("sim"); // the controller's faults, as simulator options
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<int>("length"); // of the image read; 0: the one held before is gone
        const auto row = [](const char *name, const QStringList &sim, const QString &warning,
                            const QByteArray &written, int length) {
            QTest::newRow(name) << sim << warning << written << length;
        };
        const QString badLength = QStringLiteral(
            "ERROR Message|Error : Controller announced an invalid length (%1 bytes)");
        // 10000 = 0x2710: the length's bytes are read least significant first.
        row("checksum matches", {"--generate=10000"}, {}, "BU" + QByteArray(10000, 'A'), 10000);
        row("checksum differs", {"--bad-checksum"}, kBadChecksum, "BUAAA", 3);
        row("no checksum", {"--silent-at=checksum"}, kNoResponse, "BUAAA", 3);
        row("byte 2 missing", {"--stop-after=1"}, kNoResponse, "BUA", 0);
        row("length 0", {"--length=0"}, "Error|Bad File System", "B", 0);
        row("length 2^31", {"--length=2147483648"}, badLength.arg(2147483648LL), "B", 0);
        // Anything but exactly four bytes makes it a second-generation controller, here silent.
        row("3-byte probe reply", {"--short-probe"}, kNoResponse, "B@?", 0);
        row("5-byte probe reply", {"--long-probe"}, kNoResponse, "B@?", 0);
    }
    void backup1() {
        QFETCH(QStringList, sim);
        QFETCH(QString, warning);
        QFETCH(QByteArray, written);
        QFETCH(int, length);
        Rig rig;
        SimLink controller(rig.port, sim, length == 10000 ? QByteArray() : "abc");
        const JobResult result = rig.run(kBackup);

        QCOMPARE(Rig::box(result), warning);
        QCOMPARE(rig.port.written, written);
        QCOMPARE(result.held, length > 0 ? HeldEffect::Replaced : HeldEffect::Dropped);
        QCOMPARE(result.image.bytes, length > 0 ? controller.image : QByteArray());
        QCOMPARE(result.image.generation, length > 0 ? Generation::First : Generation::Unknown);
        rig.checkClosed(!warning.isEmpty());
        // The count held goes to 0 as the upload begins, and to the image's once it is read.
        QStringList held = written.contains('U') ? QStringList{"held:0"} : QStringList();
        if (length > 0) { // the bar moves at every byte
            held << "held:" + QString::number(length);
            QCOMPARE(rig.rec.progressValues(), steps(length - 1, 1));
            QCOMPARE(rig.rec.linesWith("status:Uploading"),
                     {QStringLiteral("status:Uploading Controller Configuration (%1 bytes)")
                          .arg(length)});
        }
        QCOMPARE(rig.rec.linesWith("held:"), held);
    }

    void backup2_data() {
        QTest::addColumn<QStringList>("sim");
        QTest::addColumn<QByteArray>("probeReply"); // what answers "B" before the stream
        QTest::addColumn<qint64>("byteGapNs");
        QTest::addColumn<qint64>("taken"); // bytes taken before the two-second limit; -1 all
        QTest::newRow("full stream") << QStringList() << QByteArray() << 0LL << -1LL;
        QTest::newRow("3 bytes answer the probe")
            << QStringList() << QByteArray("abc") << 0LL << -1LL;
        QTest::newRow("paced at 9600 baud") << QStringList() << QByteArray() << 1041667LL << -1LL;
        // Each byte is taken only once the next one is there.
        QTest::newRow("exactly 186368 bytes")
            << QStringList{"--trailing=0"} << QByteArray() << 0LL << k2 - 1;
        QTest::newRow("no reply to @?")
            << QStringList{"--stop-after=0"} << QByteArray() << 0LL << 0LL;
        // No checksum guards this stream: bytes in front of it shift the whole image unnoticed.
        QTest::newRow("garbage before the stream")
            << QStringList{"--garbage=xy"} << QByteArray() << 0LL << -1LL;
    }
    void backup2() {
        QFETCH(QStringList, sim);
        QFETCH(QByteArray, probeReply);
        QFETCH(qint64, byteGapNs);
        QFETCH(qint64, taken);
        Rig rig;
        SimLink controller(rig.port, QStringList{"--generation=2"} + sim);
        controller.byteGapNs = byteGapNs;
        rig.onOutput([&](const QByteArray &bytes) {
            if (bytes == "B")
                rig.port.deliverAfter(kMs, probeReply);
        });
        qint64 lastReport = 0; // each pass reports before it waits
        rig.rec.onCall = [&] { lastReport = rig.port.nowNs(); };
        const JobResult result = rig.run(kBackup);

        QCOMPARE(rig.port.written, QByteArray("B@?"));
        QCOMPARE(rig.port.writes.last().settings, QStringLiteral("9600,N,8,1"));
        QCOMPARE(rig.port.openings, 2);
        QCOMPARE(rig.rec.progressMax, k2);
        QCOMPARE(rig.rec.linesWith("status:Uploading"),
                 {"status:Uploading Controller Configuration (186368 bytes)"});
        const QList<qint64> values = rig.rec.progressValues();
        rig.checkClosed(taken >= 0);
        QCOMPARE(Rig::box(result), taken < 0 ? QString() : kNoResponse);
        if (taken < 0) {
            QCOMPARE(result.held, HeldEffect::Replaced);
            QCOMPARE(result.image.generation, Generation::Second);
            QCOMPARE(result.image.bytes,
                     (QByteArray(sim.isEmpty() ? "" : "xy") + controller.image).left(k2));
            // The bar moves once per pass: up from 0, never past the image, back to 0.
            QCOMPARE(values.first(), 0);
            QCOMPARE(values.last(), 0);
            QVERIFY(std::is_sorted(values.begin(), values.end() - 1) && values.end()[-2] < k2);
        } else {
            QCOMPARE(result.held, HeldEffect::Dropped); // nothing held any more
            QCOMPARE(result.image.bytes, QByteArray());
            QCOMPARE(values.last(), taken);
            // Each byte has two seconds from the moment the one before it was taken.
            QVERIFY(rig.port.nowNs() - lastReport > 2 * kSec);
            QVERIFY(rig.port.nowNs() - lastReport < 2 * kSec + kMs);
        }
    }

    void restore1_data() {
        QTest::addColumn<QStringList>("sim");
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QList<qint64>>("values"); // empty: not checked
        QTest::newRow("1 byte") << QStringList() << QByteArray("a") << "" << QList<qint64>{0, 0};
        QTest::newRow("XOR 0, reply 0x00")
            << QStringList() << QByteArray("\x5A\x5A") << "" << QList<qint64>();
        // The bar steps by 1 from 19 bytes, by 2 from 56.
        QTest::newRow("18 bytes") << QStringList() << randomBytes(18) << "" << steps(17, 1);
        QTest::newRow("55 bytes") << QStringList() << randomBytes(55) << "" << steps(54, 1);
        QTest::newRow("56 bytes") << QStringList() << randomBytes(56) << "" << steps(55, 2);
        QTest::newRow("checksum differs") << QStringList{"--bad-checksum"} << QByteArray("abc")
                                          << kBadChecksum << QList<qint64>();
        QTest::newRow("others before U") << QStringList{"--u-prefix=#u?", "--garbage=x"}
                                         << QByteArray("abc") << "" << QList<qint64>();
        QTest::newRow("silent after image") << QStringList{"--silent-at=restore-checksum"}
                                            << QByteArray("abc") << kNoResponse << QList<qint64>();
        // Without a "U" the controller counts as second-generation, which takes only 186368.
        QTest::newRow("silent at U") << QStringList{"--silent-at=u-reply"} << QByteArray("abc")
                                     << kWrongLength << QList<qint64>();
        // The "U" shows the generation: not one byte of a second-generation image follows it.
        QTest::newRow("second-generation image")
            << QStringList() << QByteArray("abc") << kForSecond << QList<qint64>();
    }
    void restore1() {
        QFETCH(QStringList, sim);
        QFETCH(QByteArray, image);
        QFETCH(QString, warning);
        QFETCH(QList<qint64>, values);
        Rig rig(image, warning == kForSecond ? Generation::Second : Generation::First);
        SimLink controller(rig.port, sim);
        const JobResult result = rig.run(kRestore);

        QCOMPARE(Rig::box(result), warning);
        // Nothing after the length
        const bool handedOver = warning == kWrongLength || warning == kForSecond;
        const QByteArray written =
            "R" + littleEndian32(quint32(image.size())) + (handedOver ? "" : image);
        QCOMPARE(rig.port.written, written);
        QCOMPARE(rig.port.writes.size(), written.size()); // every byte a write of its own
        QCOMPARE(rig.port.openings, 1);
        QCOMPARE(controller.received, handedOver ? QByteArray() : image);
        rig.checkClosed(!warning.isEmpty() && warning != kWrongLength);
        rig.checkHeldUntouched();
        QCOMPARE(rig.rec.linesWith("writing:"), QStringList({"writing:on", "writing:off"}));
        if (values.isEmpty())
            return;
        QCOMPARE(rig.rec.progressMax, image.size() - 1);
        QCOMPARE(rig.rec.progressValues(), values);
        QCOMPARE(rig.rec.linesWith("status:"),
                 QStringList({"status:Initiating Restore with Controller",
                              QStringLiteral("status:Downloading Controller Configuration (%1 "
                                             "bytes)")
                                  .arg(image.size()),
                              "status:Validating Checksum"}));
    }

    void restore2_data() {
        QTest::addColumn<QStringList>("sim");
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<int>("checksum");          // -1: nothing after "@M"
        QTest::addColumn<Generation>("generation"); // the one the image is known for
        const QByteArray random = randomBytes(k2, 7);
        QByteArray only5A(k2, '\0');
        only5A[1000] = '\x5A';
        const auto row = [](const char *name, const QStringList &sim, const QByteArray &image,
                            const QString &warning, int checksum,
                            Generation generation = Generation::Unknown) {
            QTest::newRow(name) << (QStringList{"--generation=2"} + sim) << image << warning
                                << checksum << generation;
        };
        row("accepted", {}, random, {}, xorOf(random));
        row("only 0x5A", {}, only5A, {}, 0x5A);
        row("answer Y, rejected", {"--m-answer=59", "--verdict=4E"}, random, kBadChecksum,
            xorOf(random));
        row("verdict 0x00", {"--m-answer=00", "--verdict=00"}, random, kBadChecksum, xorOf(random));
        row("no verdict", {"--silent-at=verdict"}, random, kNoResponse, xorOf(random));
        row("no answer to @M", {"--silent-at=m-answer"}, random, kNoResponse, -1);
        row("186367 bytes", {}, random.left(186367), kWrongLength, -1);
        row("186369 bytes", {}, random + "x", kWrongLength, -1);
        row("second-generation image", {}, random, {}, xorOf(random), Generation::Second);
        // "@M" finds out the generation; "@!" would start the download.
        row("first-generation image", {}, random, kForFirst, -1, Generation::First);
    }
    void restore2() {
        QFETCH(QStringList, sim);
        QFETCH(QByteArray, image);
        QFETCH(QString, warning);
        QFETCH(int, checksum);
        QFETCH(Generation, generation);
        Rig rig(image, generation);
        SimLink controller(rig.port, sim);
        const JobResult result = rig.run(kRestore);

        QCOMPARE(Rig::box(result), warning);
        rig.checkClosed(!warning.isEmpty() && warning != kWrongLength);
        rig.checkHeldUntouched();
        const bool full = image.size() == k2 && checksum >= 0;
        QCOMPARE(rig.port.written, image.size() != k2 ? "R" + littleEndian32(quint32(image.size()))
                                   : full             ? kRequest2 + "@M@!" + image + char(checksum)
                                                      : kRequest2 + "@M");
        QCOMPARE(rig.port.writes.last().settings,
                 QString(image.size() == k2 ? "9600,N,8,1" : "57600,N,8,1"));
        if (!full)
            return;
        QCOMPARE(controller.received, image);
        // The commands go whole, each image byte and the checksum on its own.
        QCOMPARE(rig.port.writes.size(), 5 + 2 + k2 + 1);
        QCOMPARE(rig.rec.progressValues(), steps(181332, 5037));
    }

    // A stop, a lost device or a stalled line at each stage: nothing goes out after it, the port
    // closes, and what the user holds stays (an upload that was cut short holds nothing).
    void interrupted_data() {
        QTest::addColumn<Strike>("s");
        const auto row = [](const char *command, int generation, const char *fault,
                            const char *where, int sent, const char *status = "", int progress = 0,
                            const char *silentAt = "", int length = 0) {
            QTest::addRow("%s %d: %s %s", command, generation, fault, where)
                << Strike{command, generation, fault, sent, status, progress, silentAt, length};
        };
        for (const char *fault : {"stop", "lost"}) {
            row("backup", 1, fault, "in probe", 1, "", 0, "", 100);
            row("backup", 1, fault, "in upload", 0, "Uploading", 20);
            row("backup", 2, fault, "in stream", 0, "Uploading", 500);
            row("restore", 2, fault, "in probe", 5);
            row("restore", 2, fault, "in download", 500);
        }
        row("backup", 1, "stop", "before checksum", 0, "Validating", 0, "checksum", 50);
        row("restore", 1, "stop", "in download", 50);
        row("restore", 1, "stop", "before checksum", 0, "Validating", 0, "restore-checksum");
        row("restore", 2, "stop", "at @M", 7, "", 0, "m-answer");
        row("restore", 2, "stop", "before verdict", 0, "Validating", 0, "verdict");
        row("restore", 1, "lost", "after last byte", 105);
        row("restore", 1, "stall", "in download", 50);
        row("restore", 2, "stall", "before verdict", 9 + k2);
        // A stop while a write waits for room ends the wait and the command as a stop.
        row("backup", 1, "blocked", "in upload", 0, "Uploading", 20);
        row("restore", 1, "blocked", "in download", 50);
        row("snapshot", 1, "stop", "in upload", 4, "Uploading", 2);
        row("verify", 1, "stop", "in upload", 106, "Uploading", 2);
    }
    void interrupted() {
        QFETCH(Strike, s);
        const bool second = s.generation == 2;
        Rig rig(randomBytes(second ? k2 : 100, 7), second ? Generation::Second : Generation::First);
        QStringList sim{QStringLiteral("--generation=%1").arg(s.generation)};
        if (!s.silentAt.isEmpty())
            sim << "--silent-at=" + s.silentAt;
        SimLink controller(rig.port, sim, randomBytes(second ? k2 : 50, 3));
        controller.byteGapNs = kMs;
        qsizetype sentAtStop = -1;
        const auto strike = [&] {
            if (sentAtStop >= 0 || rig.port.written.size() < s.sent ||
                !rig.rec.statusLine.startsWith(s.status) || rig.rec.progressValue < s.progress)
                return;
            sentAtStop = rig.port.written.size();
            if (s.fault == "lost")
                rig.port.loseDevice();
            if (s.fault == "stop")
                rig.stop.request();
            rig.port.stallOutput = s.fault == "stall" || s.fault == "blocked";
        };
        if (s.fault == "blocked")
            rig.port.whileStalled = [&] { rig.stop.request(); };
        const bool stopped = s.fault == "stop" || s.fault == "blocked";
        rig.port.onTick = strike;
        rig.onOutput([&](const QByteArray &) { strike(); });
        QTemporaryDir snapshots;
        rig.request.verify = s.command == "verify";
        rig.request.backupFirst = s.command == "snapshot";
        rig.request.snapshotDir = snapshots.path();
        const JobResult result = rig.run(s.command == "backup" ? kBackup : kRestore);

        QCOMPARE(result.outcome, stopped ? Outcome::Stopped : Outcome::NoResponse);
        QVERIFY2(sentAtStop >= 0, "never struck");
        QCOMPARE(rig.port.written.size(), sentAtStop);
        QCOMPARE(rig.port.refusedWrites, rig.port.stallOutput ? 1 : 0);
        QCOMPARE(Rig::box(result), stopped ? QString() : kNoResponse);
        rig.checkClosed(true);
        QCOMPARE(rig.rec.callsAfterStop, 0); // not a single report after the stop
        if (s.command == "backup") {
            HeldImage held;
            held.bytes = rig.request.image.bytes;
            applyToHeld(held, kBackup, result);
            QCOMPARE(held.length(), s.length);
        } else {
            rig.checkHeldUntouched();
        }
        // A snapshot cut short leaves no file, and its Restore never starts.
        QCOMPARE(QDir(snapshots.path()).entryList(QDir::Files), QStringList());
        if (s.command == "snapshot")
            QVERIFY(!rig.port.written.contains('R'));
    }

    // What each job's end does to the image held: a Backup replaces, drops or keeps it, and
    // only a Restore that ended without a box makes it no longer the only copy there is.
    void held_data() {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<QStringList>("sim");
        QTest::addColumn<QString>("fault"); // "no port", "verify" (fails) or "stop"
        QTest::addColumn<bool>("before");   // read from a controller and not saved since
        QTest::addColumn<int>("length");    // held after
        QTest::addColumn<bool>("after");
        const auto row = [](const char *name, bool backup, const QStringList &sim,
                            const char *fault, bool before, int length, bool after) {
            QTest::newRow(name) << backup << sim << fault << before << length << after;
        };
        const QString two = QStringLiteral("--generation=2");
        row("Backup", true, {}, "", false, 300, true);
        row("Backup, checksum refused", true, {"--bad-checksum"}, "", false, 300, true);
        row("Backup, second generation", true, {two}, "", false, k2, true);
        row("Backup cut short", true, {"--stop-after=1"}, "", true, 0, false);
        row("Backup, port not opened", true, {}, "no port", true, 100, true);
        row("Restore", false, {}, "", true, 100, false);
        row("Restore, second generation", false, {two}, "", true, k2, false);
        row("Restore, checksum refused", false, {"--bad-checksum"}, "", true, 100, true);
        row("Restore, verdict refused", false, {two, "--verdict=4E"}, "", true, k2, true);
        row("Restore, verify failed", false, {}, "verify", true, 100, true);
        row("Restore stopped", false, {}, "stop", true, 100, true);
    }
    void held() {
        QFETCH(bool, backup);
        QFETCH(QStringList, sim);
        QFETCH(QString, fault);
        QFETCH(bool, before);
        QFETCH(int, length);
        QFETCH(bool, after);
        const bool second = sim.contains("--generation=2");
        HeldImage held;
        held.bytes = randomBytes(second ? k2 : 100, 7);
        held.generation = second ? Generation::Second : Generation::First;
        held.unsavedBackup = before;
        Rig rig(held.bytes, held.generation);
        SimLink controller(rig.port, sim, randomBytes(second ? k2 : backup ? 300 : 100, 9));
        rig.port.failOpening = fault == "no port" ? 1 : 0;
        rig.request.verify = fault == "verify";
        if (fault == "stop")
            rig.stop.request();
        applyToHeld(held, backup ? kBackup : kRestore, rig.run(backup ? kBackup : kRestore));
        QCOMPARE(held.length(), length);
        QCOMPARE(held.unsavedBackup, after);
    }

    void openFailure_data() {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<int>("port");
        QTest::addColumn<int>("failing"); // which opening fails
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<QString>("text");
        const QString denied = QStringLiteral("Error : Cannot open Com %1 (/dev/ttyS%2): "
                                              "Permission denied");
        QTest::newRow("Backup, Com 2") << true << 2 << 1 << QByteArray() << denied.arg(2).arg(1);
        QTest::newRow("Backup, no port chosen")
            << true << 0 << 0 << QByteArray() << "Error : Cannot open Com 0: no port selected";
        // The second opening hands over to the second generation.
        QTest::newRow("Backup, second set-up")
            << true << 4 << 2 << QByteArray("B") << denied.arg(4).arg(3);
        QTest::newRow("Restore start") << false << 3 << 1 << QByteArray() << denied.arg(3).arg(2);
        QTest::newRow("Restore, second generation")
            << false << 3 << 2 << kRequest2 << denied.arg(3).arg(2);
    }
    void openFailure() {
        QFETCH(bool, backup);
        QFETCH(int, port);
        QFETCH(int, failing);
        QFETCH(QByteArray, written);
        QFETCH(QString, text);
        Rig rig(QByteArray(k2, '\x11'));
        rig.request.port = {qint16(port), port ? QStringLiteral("/dev/ttyS%1").arg(port - 1) : ""};
        rig.port.failOpening = failing;
        const JobResult result = rig.run(backup ? kBackup : kRestore);

        QCOMPARE(rig.port.written, written);
        QCOMPARE(result.outcome, Outcome::OpenFailed);
        QCOMPARE(Rig::box(result), "ERROR Message|" + text);
        // Not a word when nothing was sent.
        QCOMPARE(rig.rec.linesWith("status:").isEmpty(), written.isEmpty());
        rig.checkClosed(false);
        if (!backup)
            return rig.checkHeldUntouched();
        // The old image is kept unless the second generation had already begun to replace it.
        QCOMPARE(result.held, failing == 2 ? HeldEffect::Dropped : HeldEffect::Kept);
    }

    void replyWaitsForTheLine_data() {
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
    void replyWaitsForTheLine() {
        QFETCH(int, generation);
        QFETCH(qint64, drainNs);
        QFETCH(qint64, replyNs);
        QFETCH(bool, answered);
        Rig rig(randomBytes(generation == 2 ? k2 : 300), Generation(generation));
        SimLink controller(rig.port, {QStringLiteral("--generation=%1").arg(generation),
                                      replyNs < 0 ? "--silent-at=verdict" : "--quiet"});
        rig.onOutput([&](const QByteArray &) { // only the reply to the image is late
            controller.replyDelayNs = rig.port.written.size() > 7 ? replyNs : kMs;
        });
        rig.port.drainNs = drainNs;
        const JobResult result = rig.run(kRestore);
        QCOMPARE(Rig::box(result), answered ? QString() : kNoResponse);
        if (!answered)
            QVERIFY(rig.port.nowNs() - rig.port.writes.last().timeNs > drainNs + 4 * kSec);
        rig.checkClosed(!answered);
    }

    // The read-back after a Restore and the snapshot before it: what each finds, says and
    // writes, and that neither touches the held image, its labels or the port.
    void diff_data() {
        QTest::addColumn<QByteArray>("actual");
        QTest::addColumn<QString>("text");
        const QString one = QStringLiteral("Verify failed: %1 bytes differ from the restored image "
                                           "(first at byte %2)");
        // One byte off is checked end to end.
        QTest::newRow("two bytes") << changed(changed(kHeld, 98), 41) << one.arg(2).arg(42);
        QTest::newRow("shorter") << kHeld.left(90)
                                 << one.arg(10).arg(91) +
                                        "; the controller holds 90 bytes, the restored image 100";
        QTest::newRow("longer and one byte")
            << changed(kHeld, 4) + "xyz"
            << one.arg(4).arg(5) + "; the controller holds 103 bytes, the restored image 100";
    }

    void diff() {
        QFETCH(QByteArray, actual);
        QFETCH(QString, text);
        QCOMPARE(verifyFailedText(diffImages(kHeld, actual), kHeld.size(), actual.size()), text);
    }

    void checks_data() {
        QTest::addColumn<bool>("verify");
        QTest::addColumn<bool>("snapshot");
        QTest::addColumn<QByteArray>("controller"); // what its Backup serves
        QTest::addColumn<QString>("quirk");
        QTest::addColumn<QString>("status"); // at the end
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("file");      // the snapshot written; empty: none
        QTest::addColumn<QString>("exchanges"); // as the journal records them

        const QByteArray prior = randomBytes(60, 5);
        const QString idle = QStringLiteral("Waiting for Command");
        const QString verified =
            QStringLiteral("Verified: the controller holds the restored image");
        const QString file = QStringLiteral("2026-12-07_053012_Com1.CCF");
        const QString note = QStringLiteral("Snapshot of the previous configuration: ");
        QTest::newRow("read-back refused")
            << true << false << kHeld << "bad checksum" << idle << QString(kBadChecksum) << ""
            << "restore refused";
        QTest::newRow("snapshot name taken")
            << false << true << prior << "taken" << note + "2026-12-07_053012_Com1_2.CCF"
            << ""
            << "2026-12-07_053012_Com1_2.CCF"
            << "snapshot succeeded, restore succeeded";
        QTest::newRow("snapshot and verify")
            << true << true << kHeld << "" << verified + " · " + note + file << "" << file
            << "snapshot succeeded, restore succeeded, read-back succeeded";
        QTest::newRow("snapshot refused")
            << false << true << prior << "bad checksum" << idle << kBadChecksum + kNotStarted << ""
            << "snapshot refused";
        QTest::newRow("snapshot folder unusable")
            << false << true << prior << "no folder" << idle << "ERROR Message|Error : Cannot save"
            << ""
            << "snapshot succeeded";
    }

    void checks() {
        QFETCH(bool, verify);
        QFETCH(bool, snapshot);
        QFETCH(QByteArray, controller);
        QFETCH(QString, quirk);
        QFETCH(QString, status);
        QFETCH(QString, box);
        QFETCH(QString, file);

        Rig rig(kHeld, Generation::First);
        SimLink link(rig.port,
                     quirk == QLatin1String("bad checksum") ? QStringList{"--bad-checksum"}
                                                            : QStringList(),
                     controller);
        QTemporaryDir dir;
        QString snapshots = dir.filePath(QStringLiteral("snapshots"));
        if (quirk == QLatin1String("taken"))
            QVERIFY(QDir().mkpath(snapshots) &&
                    writeAll(snapshots + "/2026-12-07_053012_Com1.CCF", "keep"));
        if (quirk == QLatin1String("no folder"))
            QVERIFY(writeAll(snapshots, "a file"));
        rig.request.verify = verify;
        rig.request.backupFirst = snapshot;
        rig.request.snapshotDir = snapshots;
        rig.request.now = kWhen;
        g_syncs = 0;
        const JobResult result = rig.run(kRestore);

        const QString name = QFileInfo(result.snapshotPath).fileName();
        QCOMPARE(texts::restoreEndStatus(result.verified, name), status);
        QVERIFY2(box.isEmpty() ? !result.hasBox() : Rig::box(result).startsWith(box),
                 qPrintable(Rig::box(result)));
        // A snapshot that could not be kept holds the Restore back, and the box says so.
        const bool held = result.boxText.endsWith(kNotStarted);
        QCOMPARE(rig.rec.log.contains("status:Initiating Restore with Controller"), !held);
        QCOMPARE(held, snapshot && file.isEmpty());
        QVERIFY(!rig.port.isOpen());
        rig.checkHeldUntouched();
        QCOMPARE(name, file);
        if (!file.isEmpty())
            QCOMPARE(readAll(result.snapshotPath), controller);
        QCOMPARE(g_syncs > 0, !file.isEmpty()); // a power loss during the Restore cannot empty it

        // Each exchange recorded with the hash of the image read or sent; the snapshot names
        // its file.
        QStringList got;
        for (const ExchangeRecord &r : result.exchanges) {
            got << r.command + ' ' + r.outcome;
            const QByteArray image = r.command == "restore" ? kHeld : controller;
            QCOMPARE(r.sha256, QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
            QCOMPARE(r.file, r.command == "snapshot" ? result.snapshotPath : QString());
        }
        QTEST(got.join(", "), "exchanges");
    }
};

QTEST_GUILESS_MAIN(TestTransfers)
#include "tst_transfers.moc"
