// Unsent output is dropped just before the port closes on every failure path, so a controller
// holding CTS low cannot keep the close waiting; a transfer that succeeds lets every byte out.
#include "transferrig.h"

class TestDiscard : public QObject {
    Q_OBJECT
private slots:
    void discardBeforeClose_data() {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<QString>("fault"); // "none": the transfer succeeds
        for (const char *fault :
             {"none", "byte missing", "no checksum", "bad checksum", "stop", "lost device"})
            QTest::addRow("Backup, %s", fault) << true << fault;
        for (const char *fault : {"none", "no checksum", "bad checksum", "stop", "lost device"})
            QTest::addRow("Restore, %s", fault) << false << fault;
    }
    void discardBeforeClose() {
        QFETCH(bool, backup);
        QFETCH(QString, fault);
        Rig rig(randomBytes(300, 5));
        QStringList args;
        if (fault == "byte missing")
            args << "--stop-after=100";
        else if (fault == "no checksum")
            args << (backup ? "--silent-at=checksum" : "--silent-at=restore-checksum");
        else if (fault == "bad checksum")
            args << "--bad-checksum";
        SimLink controller(rig.fake, args, randomBytes(300, 6));
        rig.fake.onTick = [&] {
            if (rig.fake.written.size() < 150)
                return;
            if (fault == "stop")
                rig.view.stop = true;
            else if (fault == "lost device" && !rig.fake.loseAtNs)
                rig.fake.loseAtNs = rig.fake.nowNs();
        };
        backup ? rig.transfers.mnuBackup_Click() : rig.transfers.mnuRestore_Click();

        QVERIFY(!rig.fake.portOpen());
        if (fault == "none") {
            QCOMPARE(rig.fake.discards, 0);
            QCOMPARE(rig.transfers.lastOutcome(), TransferOutcome::Succeeded);
        } else {
            QCOMPARE(rig.fake.discardedAt, rig.fake.closings - 1); // just before the last close
            QVERIFY(rig.transfers.lastOutcome() != TransferOutcome::Succeeded);
        }
    }
};

QTEST_GUILESS_MAIN(TestDiscard)
#include "tst_discard.moc"
