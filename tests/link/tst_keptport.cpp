// A Port item chosen while a transfer runs applies to the next command only: the second-
// generation set-up, which comes seconds after the start, still uses the start's port.
#include "transferrig.h"

class TestKeptPort : public QObject {
    Q_OBJECT
private slots:
    void portChosenMidTransfer_data() {
        QTest::addColumn<bool>("restore");
        QTest::newRow("Backup") << false;
        QTest::newRow("Restore") << true;
    }
    void portChosenMidTransfer() {
        QFETCH(bool, restore);
        Rig rig(randomBytes(kSecondGenerationLength), 2);
        SimLink controller(rig.fake, {"--generation=2"}, randomBytes(kSecondGenerationLength));
        // Com 2 is chosen a second into the probe, before the second-generation set-up.
        rig.fake.onTick = [&] {
            if (rig.fake.nowNs() > kSec)
                rig.view.selectedPort = 2;
        };
        restore ? rig.transfers.mnuRestore_Click() : rig.transfers.mnuBackup_Click();

        QCOMPARE(rig.view.selectedPort, qint16(2));
        // Both set-ups, the second after the switch, opened Com 1.
        QCOMPARE(rig.fake.openings, 2);
        QCOMPARE(rig.fake.commPort, qint16(1));
        QCOMPARE(rig.view.warnings, QStringList());
        QCOMPARE(restore ? controller.received : rig.image.ConfigData.mid(1),
                 restore ? rig.kept.ConfigData.mid(1) : controller.image);
    }
};

QTEST_GUILESS_MAIN(TestKeptPort)
#include "tst_keptport.moc"
