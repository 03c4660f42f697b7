// A stop in the waits that tst_transfers_* do not stop in, and in the snapshot and read-back
// around a Restore: nothing goes out after it, the port is closed, no box, no further view
// call, and the held image stays (a first-generation upload that has all its bytes keeps them).
#include "guardedrestore.h"
#include "transferrig.h"

#include <QTemporaryDir>

class TestStop : public QObject {
    Q_OBJECT
private slots:
    void stopAt_data();
    void stopAt();
};

void TestStop::stopAt_data() {
    QTest::addColumn<QString>("command"); // backup, restore, snapshot (first), verify (after)
    QTest::addColumn<int>("generation");
    QTest::addColumn<QString>("quirk");  // what the controller leaves out
    QTest::addColumn<int>("sent");       // stop once this many bytes went out...
    QTest::addColumn<QString>("status"); // ...the status line starts so...
    QTest::addColumn<int>("progress");   // ...and the bar reached this
    QTest::addColumn<int>("length");     // ConfigLength afterwards: 0 once the upload gave it up

    QTest::newRow("backup 1 checksum")
        << "backup" << 1 << "checksum" << 0 << "Validating" << 0 << 50;
    QTest::newRow("backup 2 probe") << "backup" << 2 << "" << 1 << "" << 0 << 186368;
    QTest::newRow("restore 1 checksum")
        << "restore" << 1 << "checksum" << 0 << "Validating" << 0 << 100;
    QTest::newRow("restore 2 menu") << "restore" << 2 << "menu" << 7 << "" << 0 << 186368;
    QTest::newRow("restore 2 verdict")
        << "restore" << 2 << "verdict" << 0 << "Validating" << 0 << 186368;
    QTest::newRow("snapshot upload") << "snapshot" << 1 << "" << 4 << "Uploading" << 2 << 100;
    QTest::newRow("verify upload") << "verify" << 1 << "" << 106 << "Uploading" << 2 << 100;
}

void TestStop::stopAt() {
    QFETCH(QString, command);
    QFETCH(int, generation);
    QFETCH(QString, quirk);
    QFETCH(int, sent);
    QFETCH(QString, status);
    QFETCH(int, progress);
    QFETCH(int, length);

    const QByteArray held = randomBytes(generation == 2 ? kSecondGenerationLength : 100, 7);
    Rig rig(held, qint16(generation));
    // The controller stays silent where the row says so.
    QStringList args{QStringLiteral("--generation=%1").arg(generation)};
    if (quirk == QLatin1String("checksum"))
        args << QStringLiteral("--silent-at=checksum,restore-checksum");
    else if (quirk == QLatin1String("ready"))
        args << QStringLiteral("--silent-at=u-reply");
    else if (quirk == QLatin1String("verdict"))
        args << QStringLiteral("--silent-at=verdict");
    else if (quirk == QLatin1String("menu"))
        args << QStringLiteral("--silent-at=m-answer");
    SimLink controller(rig.fake, args,
                       randomBytes(generation == 2 ? kSecondGenerationLength : 50, 3));

    qsizetype sentAtStop = -1, logAtStop = -1;
    rig.fake.onTick = [&] {
        if (rig.view.stop || rig.fake.written.size() < sent ||
            !rig.view.status.startsWith(status) || rig.view.progressValue < progress)
            return;
        rig.view.stop = true;
        sentAtStop = rig.fake.written.size();
        logAtStop = rig.view.log.size();
    };
    QTemporaryDir snapshots;
    TransferOutcome outcome;
    if (command == QLatin1String("backup")) {
        rig.transfers.mnuBackup_Click();
        outcome = rig.transfers.lastOutcome();
    } else {
        GuardedRestore restore(rig.fake, rig.fake, rig.view, rig.image,
                               {command == QLatin1String("verify"),
                                command == QLatin1String("snapshot"), snapshots.path(),
                                QDateTime::currentDateTime()});
        restore.run();
        outcome = restore.lastOutcome();
        QVERIFY(restore.snapshotPath().isEmpty());
    }

    QVERIFY2(sentAtStop >= 0, "the stop point was never reached");
    QCOMPARE(outcome, TransferOutcome::Stopped);
    QCOMPARE(rig.fake.written.size(), sentAtStop);
    QCOMPARE(rig.view.log.size(), logAtStop);
    QVERIFY(!rig.fake.portOpen());
    QVERIFY(!rig.fake.portOpen());
    QCOMPARE(rig.view.warnings, QStringList());
    QCOMPARE(rig.image.ConfigLength, length);
    if (command != QLatin1String("backup"))
        rig.checkImageUntouched();
    // A snapshot cut short leaves no file, and its Restore never starts.
    QCOMPARE(QDir(snapshots.path()).entryList(QDir::Files), QStringList());
    if (command == QLatin1String("snapshot"))
        QVERIFY(!rig.fake.written.contains('R'));
}

QTEST_GUILESS_MAIN(TestStop)
#include "tst_stop.moc"
