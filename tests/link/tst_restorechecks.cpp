// The read-back after a Restore and the snapshot before it, over simulated time: what each
// finds, says and writes, and that neither touches the held image, its labels or the port.
#include "guardedrestore.h"
#include "imagediff.h"
#include "snapshotfile.h"
#include "transferrig.h"

#include <QTemporaryDir>

namespace {
const QByteArray kHeld = randomBytes(100, 7);
const QDateTime kWhen(QDate(2026, 12, 7), QTime(5, 30, 12));
const QString kNotStarted = QStringLiteral("\n\nThe Restore was not started.");

bool writeAllTo(const QString &dir, const char *name, const QByteArray &bytes) {
    QFile f(QDir(dir).filePath(QLatin1String(name)));
    return QDir().mkpath(dir) && f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray changed(QByteArray bytes, qsizetype index) {
    bytes[index] = char(~bytes.at(index));
    return bytes;
}
} // namespace

class TestRestoreChecks : public QObject {
    Q_OBJECT
private slots:
    void diff_data();
    void diff();
    void checks_data();
    void checks();
};

void TestRestoreChecks::diff_data() {
    QTest::addColumn<QByteArray>("actual");
    QTest::addColumn<QString>("text");
    const QString one = QStringLiteral("Verify failed: %1 bytes differ from the restored image "
                                       "(first at byte %2)");
    // One byte off is a row of the Restore checks below and end to end.
    QTest::newRow("two bytes") << changed(changed(kHeld, 98), 41) << one.arg(2).arg(42);
    QTest::newRow("shorter") << kHeld.left(90)
                             << one.arg(10).arg(91) +
                                    "; the controller holds 90 bytes, the restored image 100";
    QTest::newRow("longer and one byte")
        << changed(kHeld, 4) + "xyz"
        << one.arg(4).arg(5) + "; the controller holds 103 bytes, the restored image 100";
}

void TestRestoreChecks::diff() {
    QFETCH(QByteArray, actual);
    QFETCH(QString, text);
    QCOMPARE(verifyFailedText(diffImages(kHeld, actual), kHeld.size(), actual.size()), text);
}

void TestRestoreChecks::checks_data() {
    QTest::addColumn<bool>("verify");
    QTest::addColumn<bool>("snapshot");
    QTest::addColumn<QByteArray>("controller"); // what its Backup serves
    QTest::addColumn<QString>("quirk");
    QTest::addColumn<QString>("status"); // at the end
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("file"); // the snapshot written; empty: none

    const QByteArray prior = randomBytes(60, 5);
    const QString idle = QStringLiteral("Waiting for Command");
    const QString verified = QStringLiteral("Verified: the controller holds the restored image");
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

void TestRestoreChecks::checks() {
    QFETCH(bool, verify);
    QFETCH(bool, snapshot);
    QFETCH(QByteArray, controller);
    QFETCH(QString, quirk);
    QFETCH(QString, status);
    QFETCH(QString, box);
    QFETCH(QString, file);

    Rig rig(kHeld, 1);
    SimLink link(rig.fake,
                 quirk == QLatin1String("bad checksum") ? QStringList{"--bad-checksum"}
                                                        : QStringList(),
                 controller);
    QTemporaryDir dir;
    QString snapshots = dir.filePath(QStringLiteral("snapshots"));
    if (quirk == QLatin1String("taken"))
        QVERIFY(writeAllTo(snapshots, "2026-12-07_053012_Com1.CCF", "keep"));
    if (quirk == QLatin1String("no folder"))
        QVERIFY(writeAllTo(dir.path(), "snapshots", "a file"));
    // A port chosen meanwhile applies to the next command only.
    rig.fake.onTick = [&] { rig.view.selectedPort = 2; };

    GuardedRestore restore(rig.fake, rig.fake, rig.view, rig.image,
                           {verify, snapshot, snapshots, kWhen});
    restore.run();

    QCOMPARE(rig.view.status, status);
    QCOMPARE(rig.view.warnings.size(), box.isEmpty() ? 0 : 1);
    if (!box.isEmpty())
        QVERIFY2(rig.view.warnings.first().startsWith(box), qPrintable(rig.view.warnings.first()));
    // A snapshot that could not be kept holds the Restore back, and the box says so.
    const bool held = !box.isEmpty() && rig.view.warnings.first().endsWith(kNotStarted);
    QCOMPARE(rig.view.log.contains("status:Initiating Restore with Controller"), !held);
    QCOMPARE(held, snapshot && file.isEmpty());
    QCOMPARE(rig.fake.commPort, qint16(1));
    QVERIFY(!rig.fake.portOpen());
    QVERIFY(!rig.view.busy);
    rig.checkImageUntouched();
    QCOMPARE(QFileInfo(restore.snapshotPath()).fileName(), file);
    if (!file.isEmpty())
        QCOMPARE(readFile(restore.snapshotPath()), controller);
}

QTEST_GUILESS_MAIN(TestRestoreChecks)
#include "tst_restorechecks.moc"
