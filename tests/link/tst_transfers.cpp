// Backup and Restore against the simulator's controller over simulated time.
#include "filecommands.h"
#include "guardedrestore.h"
#include "imagediff.h"
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

QStringList warned(const QString &warning) {
    return warning.isEmpty() ? QStringList() : QStringList{warning};
}
QList<qint64> steps(qint64 last, qint64 step) {
    QList<qint64> values;
    for (qint64 v = 0; v <= last; v += step)
        values << v;
    return values << 0;
}
TransferOutcome run(Rig &rig, const QString &command, const QString &snapshots = {}) {
    if (command.startsWith("backup") || command.startsWith("restore")) {
        command.startsWith("backup") ? rig.transfers.mnuBackup_Click()
                                     : rig.transfers.mnuRestore_Click();
        return rig.transfers.lastOutcome();
    }
    GuardedRestore restore(
        rig.fake, rig.fake, rig.view, rig.image,
        {command == "verify", command == "snapshot", snapshots, QDateTime::currentDateTime()});
    restore.run();
    return restore.lastOutcome();
}
// Unsent output is dropped just before the last close on a failure or a stop, so a controller
// holding CTS low cannot keep the close waiting; a success lets every byte out.
void checkDiscard(const Rig &rig, bool failed) {
    QCOMPARE(rig.fake.discards > 0, failed);
    if (failed)
        QCOMPARE(rig.fake.discardedAt, rig.fake.closings - 1);
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
} // namespace
Q_DECLARE_METATYPE(Strike)

class TestTransfers : public QObject {
    Q_OBJECT
private slots:
    void backup1_data() {
        QTest::addColumn<QStringList>("sim"); // the controller's faults, as simulator options
        QTest::addColumn<QString>("warning");
        QTest::addColumn<QByteArray>("written");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("configStatus");
        const auto row = [](const char *name, const QStringList &sim, const QString &warning,
                            const QByteArray &written, int length, const char *configStatus) {
            QTest::newRow(name) << sim << warning << written << length << configStatus;
        };
        const QString badLength = QStringLiteral(
            "ERROR Message|Error : Controller announced an invalid length (%1 bytes)");
        // 10000 = 0x2710: the length's bytes are read least significant first.
        row("checksum matches", {"--generate=10000"}, {}, "BU" + QByteArray(10000, 'A'), 10000,
            "10000 bytes");
        row("checksum differs", {"--bad-checksum"}, kBadChecksum, "BUAAA", 3, "3 bytes");
        row("no checksum", {"--silent-at=checksum"}, kNoResponse, "BUAAA", 3, "3 bytes");
        row("byte 2 missing", {"--stop-after=1"}, kNoResponse, "BUA", 0, "Empty");
        row("length 0", {"--length=0"}, "Error|Bad File System", "B", 0, "Empty");
        row("length 2^31", {"--length=2147483648"}, badLength.arg(2147483648LL), "B", 0, "Empty");
        // Anything but exactly four bytes makes it a second-generation controller, here silent.
        row("3-byte probe reply", {"--short-probe"}, kNoResponse, "B@?", 0, "Empty");
        row("5-byte probe reply", {"--long-probe"}, kNoResponse, "B@?", 0, "Empty");
    }
    void backup1() {
        QFETCH(QStringList, sim);
        QFETCH(QString, warning);
        QFETCH(QByteArray, written);
        QFETCH(int, length);
        QFETCH(QString, configStatus);
        Rig rig;
        SimLink controller(rig.fake, sim, length == 10000 ? QByteArray() : "abc");
        rig.transfers.mnuBackup_Click();

        QCOMPARE(rig.view.warnings, warned(warning));
        QCOMPARE(rig.fake.written, written);
        QCOMPARE(rig.image.ControllerType, qint16(written.contains('@') ? 2 : 1));
        QCOMPARE(rig.image.ConfigLength, length);
        QCOMPARE(rig.view.configStatus, configStatus);
        rig.checkEndedIdle();
        checkDiscard(rig, !warning.isEmpty());
        if (written == "B")
            QCOMPARE(rig.image.ConfigData, QByteArray("\0old", 4));
        if (length > 0) { // the bar moves at every byte, and the image is what was served
            QCOMPARE(rig.image.ConfigData, QByteArray(1, '\0') + controller.image);
            QCOMPARE(rig.view.progressValues(), steps(length - 1, 1));
            QCOMPARE(rig.view.linesWith("status:Uploading"),
                     {"status:Uploading Controller Configuration (" + configStatus + ")"});
        }
        // A failure's box comes after the status line has gone back to idle.
        if (!warning.isEmpty() && warning != kBadChecksum)
            QCOMPARE(rig.view.log.at(rig.view.log.indexOf("warning:" + warning) - 1),
                     QStringLiteral("status:Waiting for Command"));
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
            rig.view.selectedPort = 2; // for the next command: the set-up keeps the start's port
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
        QCOMPARE(rig.view.progressMax, k2);
        QCOMPARE(rig.view.linesWith("status:Uploading"),
                 {"status:Uploading Controller Configuration (186368 bytes)"});
        QCOMPARE(rig.image.ConfigData.size(), k2 + 1);
        const QList<qint64> values = rig.view.progressValues();
        rig.checkEndedIdle();
        checkDiscard(rig, taken >= 0);
        QCOMPARE(rig.fake.openings, 2); // both on the start's port
        QCOMPARE(rig.fake.commPort, qint16(1));
        QCOMPARE(rig.view.warnings, warned(taken < 0 ? "" : kNoResponse));
        if (taken < 0) {
            QCOMPARE(rig.image.ConfigLength, k2);
            QCOMPARE(rig.image.ConfigData.mid(1),
                     (QByteArray(sim.isEmpty() ? "" : "xy") + controller.image).left(k2));
            QCOMPARE(rig.view.configStatus, QStringLiteral("186368 bytes"));
            // The bar moves once per pass: up from 0, never past the image, back to 0.
            QCOMPARE(values.first(), 0);
            QCOMPARE(values.last(), 0);
            QVERIFY(std::is_sorted(values.begin(), values.end() - 1) && values.end()[-2] < k2);
        } else {
            QCOMPARE(rig.image.ConfigLength, 0);
            QCOMPARE(rig.view.configStatus, QStringLiteral("Empty")); // nothing held any more
            QCOMPARE(rig.image.ConfigData.mid(1),
                     controller.image.left(taken) + QByteArray(k2 - taken, 0));
            QCOMPARE(values.at(values.size() - 2), taken);
            // Each byte has two seconds from the moment the one before it was taken.
            QVERIFY(boxAt - lastWaitBegan > 2 * kSec);
            QVERIFY(boxAt - lastWaitBegan < 2 * kSec + 2 * rig.fake.stepNs);
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
        Rig rig(image, warning == kForSecond ? 2 : 1);
        SimLink controller(rig.fake, sim);
        rig.transfers.mnuRestore_Click();

        QCOMPARE(rig.view.warnings, warned(warning));
        // Nothing after the length
        const bool handedOver = warning == kWrongLength || warning == kForSecond;
        const QByteArray written =
            "R" + littleEndian32(quint32(image.size())) + (handedOver ? "" : image);
        QCOMPARE(rig.fake.written, written);
        QCOMPARE(rig.fake.writes.size(), written.size()); // every byte a write of its own
        QCOMPARE(rig.fake.openings, 1);
        QCOMPARE(controller.received, handedOver ? QByteArray() : image);
        rig.checkEndedIdle();
        checkDiscard(rig, !warning.isEmpty() && warning != kWrongLength);
        rig.checkImageUntouched();
        if (values.isEmpty())
            return;
        QCOMPARE(rig.view.progressMax, image.size() - 1);
        QCOMPARE(rig.view.progressValues(), values);
        QCOMPARE(rig.view.linesWith("status:"),
                 QStringList({"status:Initiating Restore with Controller",
                              QStringLiteral("status:Downloading Controller Configuration (%1 "
                                             "bytes)")
                                  .arg(image.size()),
                              "status:Validating Checksum", "status:Waiting for Command"}));
    }

    void restore2_data() {
        QTest::addColumn<QStringList>("sim");
        QTest::addColumn<QByteArray>("image");
        QTest::addColumn<QString>("warning");
        QTest::addColumn<int>("checksum"); // -1: nothing after "@M"
        QTest::addColumn<int>("type");     // the generation the image is known for; 0 unknown
        const QByteArray random = randomBytes(k2, 7);
        QByteArray only5A(k2, '\0');
        only5A[1000] = '\x5A';
        const auto row = [](const char *name, const QStringList &sim, const QByteArray &image,
                            const QString &warning, int checksum, int type = 0) {
            QTest::newRow(name) << (QStringList{"--generation=2"} + sim) << image << warning
                                << checksum << type;
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
        row("second-generation image", {}, random, {}, xorOf(random), 2);
        // "@M" finds out the generation; "@!" would start the download.
        row("first-generation image", {}, random, kForFirst, -1, 1);
    }
    void restore2() {
        QFETCH(QStringList, sim);
        QFETCH(QByteArray, image);
        QFETCH(QString, warning);
        QFETCH(int, checksum);
        QFETCH(int, type);
        Rig rig(image, qint16(type));
        SimLink controller(rig.fake, sim);
        rig.fake.onTick = [&] { rig.view.selectedPort = 2; };
        rig.transfers.mnuRestore_Click();

        QCOMPARE(rig.view.warnings, warned(warning));
        rig.checkEndedIdle();
        checkDiscard(rig, !warning.isEmpty() && warning != kWrongLength);
        QCOMPARE(rig.fake.commPort, qint16(1));
        rig.checkImageUntouched();
        const bool full = image.size() == k2 && checksum >= 0;
        QCOMPARE(rig.fake.written, image.size() != k2 ? "R" + littleEndian32(quint32(image.size()))
                                   : full             ? kRequest2 + "@M@!" + image + char(checksum)
                                                      : kRequest2 + "@M");
        QCOMPARE(rig.fake.writes.last().settings,
                 QString(image.size() == k2 ? "9600,N,8,1" : "57600,N,8,1"));
        if (!full)
            return;
        QCOMPARE(controller.received, image);
        // The commands go whole, each image byte and the checksum on its own.
        QCOMPARE(rig.fake.writes.size(), 5 + 2 + k2 + 1);
        QCOMPARE(rig.view.progressValues(), steps(181332, 5037));
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
        Rig rig(randomBytes(s.generation == 2 ? k2 : 100, 7), qint16(s.generation));
        QStringList sim{QStringLiteral("--generation=%1").arg(s.generation)};
        if (!s.silentAt.isEmpty())
            sim << "--silent-at=" + s.silentAt;
        SimLink controller(rig.fake, sim, randomBytes(s.generation == 2 ? k2 : 50, 3));
        controller.byteGapNs = kMs;
        qsizetype logAtStop = -1, sentAtStop = -1;
        const auto strike = [&] {
            if (sentAtStop >= 0 || rig.fake.written.size() < s.sent ||
                !rig.view.status.startsWith(s.status) || rig.view.progressValue < s.progress)
                return;
            logAtStop = rig.view.log.size();
            sentAtStop = rig.fake.written.size();
            if (s.fault == "lost")
                rig.fake.loseDevice();
            rig.view.stop = s.fault == "stop";
            rig.fake.stallOutput = s.fault == "stall" || s.fault == "blocked";
        };
        if (s.fault == "blocked")
            rig.fake.whileStalled = [&] { rig.view.stop = true, logAtStop = rig.view.log.size(); };
        const bool stopped = s.fault == "stop" || s.fault == "blocked";
        rig.fake.onTick = strike;
        rig.onOutput([&](const QByteArray &) { strike(); });
        QTemporaryDir snapshots;
        QCOMPARE(run(rig, s.command, snapshots.path()),
                 stopped ? TransferOutcome::Stopped : TransferOutcome::NoResponse);

        QVERIFY2(sentAtStop >= 0, "never struck");
        QCOMPARE(rig.fake.written.size(), sentAtStop);
        QCOMPARE(rig.fake.refusedOutputs, rig.fake.stallOutput ? 1 : 0);
        QCOMPARE(rig.view.warnings, warned(stopped ? "" : kNoResponse));
        checkDiscard(rig, true);
        if (stopped) {
            QVERIFY(!rig.fake.portOpen());
            QCOMPARE(rig.view.log.size(), logAtStop); // not a single view call after the stop
        } else {
            rig.checkEndedIdle();
        }
        if (s.command == "backup")
            QCOMPARE(rig.image.ConfigLength, s.length);
        else
            rig.checkImageUntouched();
        // A snapshot cut short leaves no file, and its Restore never starts.
        QCOMPARE(QDir(snapshots.path()).entryList(QDir::Files), QStringList());
        if (s.command == "snapshot")
            QVERIFY(!rig.fake.written.contains('R'));
    }

    // Which commands leave the held image "read from a controller and neither saved nor
    // restored since", the state the window asks about before anything replaces it.
    void unsavedBackup_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("after"); // before: set for all but a Backup
        const struct {
            const char *command, *fault;
            bool after;
        } rows[] = {{"backup1", "", true},     {"backup1", "bad", true}, {"backup2", "", true},
                    {"restore1", "", false},   {"restore2", "", false},  {"restore1", "bad", true},
                    {"restore2", "bad", true}, {"save", "", false},      {"save", "cancel", true},
                    {"save", "bad", true},     {"open", "", false},      {"open", "bad", true},
                    {"verify", "", false},     {"verify", "bad", true}};
        for (const auto &r : rows)
            QTest::addRow("%s %s", r.command, r.fault) << r.command << r.fault << r.after;
    }
    void unsavedBackup() {
        QFETCH(QString, command);
        QFETCH(QString, fault);
        QFETCH(bool, after);
        const bool bad = fault == "bad", second = command.endsWith('2');
        const QByteArray bytes = randomBytes(second ? k2 : 300);
        Rig rig(bytes, second ? 2 : 1);
        rig.image.unsavedBackup = !command.startsWith("backup");
        QStringList args{second ? "--generation=2" : "--generation=1"};
        if (bad && command != "verify")
            args << (second ? "--verdict=4E" : "--bad-checksum");
        SimLink controller(rig.fake, args, bad && command == "verify" ? changed(bytes, 5) : bytes);
        QTemporaryDir dir;
        const QString path = dir.filePath(bad ? "no/such/folder/x.CCF" : "x.CCF");
        if (command == "open" && !bad)
            QVERIFY(writeAll(path, bytes));
        if (fault != "cancel")
            rig.view.fileAnswers << RecordingView::FileAnswer{path, {}};
        FileCommands files(rig.image, rig.view);
        if (command == "save")
            files.mnuSave_Click();
        else if (command == "open")
            files.mnuOpen_Click();
        else
            run(rig, command);
        QCOMPARE(rig.view.warnings.size(), int(bad));
        QCOMPARE(rig.image.ConfigLength, qint32(bytes.size()));
        QCOMPARE(rig.image.unsavedBackup, after);
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
            << true << 0 << 1 << QByteArray() << "Error : Cannot open Com 0: Permission denied";
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
        Rig rig(backup ? QByteArray("old") : QByteArray(k2, '\x11'), backup ? 0 : 1);
        rig.view.selectedPort = qint16(port);
        rig.fake.failOpening = failing;
        backup ? rig.transfers.mnuBackup_Click() : rig.transfers.mnuRestore_Click();

        QCOMPARE(rig.fake.written, written);
        QStringList tail{"status:Waiting for Command", "warning:ERROR Message|" + text, "idle"};
        if (backup && !written.isEmpty()) // the old image is gone already: nothing held or shown
            tail = QStringList{tail[0], tail[1], "config:Empty", "value:0", tail[2]};
        // Not even busy when the first opening fails.
        QCOMPARE(backup && written.isEmpty() ? rig.view.log
                                             : rig.view.log.mid(rig.view.log.size() - tail.size()),
                 tail);
        rig.checkEndedIdle();
        if (!backup)
            return rig.checkImageUntouched();
        // The old image is kept unless the second generation had already replaced it.
        QCOMPARE(rig.image.ConfigLength, failing == 2 ? 0 : 3);
        QCOMPARE(rig.image.ControllerType, qint16(failing == 2 ? 2 : 0));
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
        Rig rig(randomBytes(generation == 2 ? k2 : 300), qint16(generation));
        SimLink controller(rig.fake, {QStringLiteral("--generation=%1").arg(generation),
                                      replyNs < 0 ? "--silent-at=verdict" : "--quiet"});
        rig.onOutput([&](const QByteArray &) { // only the reply to the image is late
            controller.replyDelayNs = rig.fake.written.size() > 7 ? replyNs : kMs;
        });
        rig.fake.drainNs = drainNs;
        qint64 lastWriteNs = -1, warnedNs = -1;
        rig.view.onWarning = [&] {
            lastWriteNs = rig.fake.writes.last().timeNs;
            warnedNs = rig.fake.nowNs();
        };
        rig.transfers.mnuRestore_Click();
        QCOMPARE(rig.view.warnings, warned(answered ? "" : kNoResponse));
        if (!answered)
            QVERIFY(warnedNs - lastWriteNs > drainNs + 4 * kSec);
        rig.checkEndedIdle();
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
        QTest::addColumn<QString>("file"); // the snapshot written; empty: none

        const QByteArray prior = randomBytes(60, 5);
        const QString idle = QStringLiteral("Waiting for Command");
        const QString verified =
            QStringLiteral("Verified: the controller holds the restored image");
        const QString file = QStringLiteral("2026-12-07_053012_Com1.CCF");
        const QString note = QStringLiteral("Snapshot of the previous configuration: ");
        QTest::newRow("read-back refused")
            << true << false << kHeld << "bad checksum" << idle << QString(kBadChecksum) << "";
        QTest::newRow("snapshot name taken")
            << false << true << prior << "taken" << note + "2026-12-07_053012_Com1_2.CCF"
            << ""
            << "2026-12-07_053012_Com1_2.CCF";
        QTest::newRow("snapshot and verify")
            << true << true << kHeld << "" << verified + " · " + note + file << "" << file;
        QTest::newRow("snapshot refused")
            << false << true << prior << "bad checksum" << idle << kBadChecksum + kNotStarted << "";
        QTest::newRow("snapshot folder unusable")
            << false << true << prior << "no folder" << idle << "ERROR Message|Error : Cannot save"
            << "";
    }

    void checks() {
        QFETCH(bool, verify);
        QFETCH(bool, snapshot);
        QFETCH(QByteArray, controller);
        QFETCH(QString, quirk);
        QFETCH(QString, status);
        QFETCH(QString, box);
        QFETCH(QString, file);

        Rig rig(kHeld, 1);
        SimLink link(rig.fake,
                     quirk == "bad checksum" ? QStringList{"--bad-checksum"} : QStringList{},
                     controller);
        QTemporaryDir dir;
        QString snapshots = dir.filePath(QStringLiteral("snapshots"));
        if (quirk == QLatin1String("taken"))
            QVERIFY(QDir().mkpath(snapshots) &&
                    writeAll(snapshots + "/2026-12-07_053012_Com1.CCF", "keep"));
        if (quirk == QLatin1String("no folder"))
            QVERIFY(writeAll(snapshots, "a file"));
        // A port chosen meanwhile applies to the next command only.
        rig.fake.onTick = [&] { rig.view.selectedPort = 2; };

        GuardedRestore restore(rig.fake, rig.fake, rig.view, rig.image,
                               {verify, snapshot, snapshots, kWhen});
        g_syncs = 0;
        restore.run();

        QCOMPARE(rig.view.status, status);
        QCOMPARE(rig.view.warnings.size(), box.isEmpty() ? 0 : 1);
        if (!box.isEmpty())
            QVERIFY2(rig.view.warnings.first().startsWith(box),
                     qPrintable(rig.view.warnings.first()));
        // A snapshot that could not be kept holds the Restore back, and the box says so.
        const bool held = !box.isEmpty() && rig.view.warnings.first().endsWith(kNotStarted);
        QCOMPARE(rig.view.log.contains("status:Initiating Restore with Controller"), !held);
        QCOMPARE(held, snapshot && file.isEmpty());
        QCOMPARE(rig.fake.commPort, qint16(1));
        QVERIFY(!rig.fake.portOpen());
        QVERIFY(!rig.view.busy);
        rig.checkImageUntouched();
        QCOMPARE(QFileInfo(restore.snapshotPath()).fileName(), file);
        QCOMPARE(readAll(restore.snapshotPath()), file.isEmpty() ? QByteArray() : controller);
        QCOMPARE(g_syncs > 0, !file.isEmpty()); // a power loss during the Restore cannot empty it
    }
};

QTEST_GUILESS_MAIN(TestTransfers)
#include "tst_transfers.moc"
