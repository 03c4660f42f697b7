// A technician backs up a second-generation controller and then plugs in a first-generation
// one, in the same run: the second Backup's probe goes out at 57600 baud and succeeds.
#include "faultmatrix.h"

class MixedFleetTest : public QObject {
    Q_OBJECT
private slots:
    void firstGenerationAfterSecond() {
        Session s;
        QVERIFY(s.start({QStringLiteral("--generation=2")}));
        s.window->BackupButton->trigger();
        QCOMPARE(s.dialogs.warnings(), QStringList());
        QCOMPARE(s.window->image.ControllerType, qint16(2));

        const QString commands = s.path("commands.txt");
        const QByteArray image = randomBytes(500, 8);
        QVERIFY(writeAll(s.path("first.img"), image));
        QVERIFY(s.startSim({QStringLiteral("--image=") + s.path("first.img"),
                            QStringLiteral("--record-commands=") + commands}));
        s.window->BackupButton->trigger();
        QCOMPARE(s.dialogs.warnings(), QStringList());
        QCOMPARE(s.window->image.ControllerType, qint16(1));
        QCOMPARE(heldImage(*s.window), image);
        QCOMPARE(readAll(commands).split('\n').first(), QByteArray("B 57600"));
    }
};

QTEST_MAIN(MixedFleetTest)
#include "tst_mixedfleet.moc"
