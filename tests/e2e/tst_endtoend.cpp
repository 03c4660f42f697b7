// The real window against the controller simulator over a pseudo-terminal.
#include "session.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QProgressBar>
#include <QRandomGenerator>
#include <QSettings>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Stowline"),
                  QStringLiteral("Stowline"))
            .clear();
    }
    void cleanup() { qunsetenv("STOWLINE_COM1"); }

    void backupThenSaveGivesTheControllerImage_data() {
        QTest::addColumn<int>("generation");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("rate");
        QTest::newRow("first generation, full speed") << 1 << 20000 << "";
        QTest::newRow("first generation, 960 bytes/s") << 1 << 300 << "960";
        QTest::newRow("second generation, full speed") << 2 << 186368 << "";
    }
    void backupThenSaveGivesTheControllerImage() {
        QFETCH(int, generation);
        QFETCH(int, length);
        QFETCH(QString, rate);
        Session s;
        const QByteArray image = patterned(length, 7);
        QVERIFY(writeAll(s.path("controller.img"), image));
        QStringList args{QStringLiteral("--generation=%1").arg(generation),
                         QStringLiteral("--image=") + s.path("controller.img")};
        if (!rate.isEmpty())
            args << QStringLiteral("--rate=") + rate;
        QVERIFY(s.start(args));

        s.window->BackupButton->trigger();
        QCOMPARE(s.dialogs.warnings(), QStringList());
        QVERIFY(s.idleWithPortClosed());
        QCOMPARE(s.window->image.ControllerType, qint16(generation));
        QCOMPARE(s.window->image.ConfigLength, length);
        QCOMPARE(s.window->ConfigStatus->text(), QStringLiteral("%1 bytes").arg(length));
        QCOMPARE(s.window->ProgressBar->value(), 0);
        QVERIFY(s.window->SaveButton->isEnabled() && s.window->mnuRestore->isEnabled());

        const QString saved = s.path(generation == 1 ? "backup.CCF" : "backup.SAV");
        s.dialogs.fileAnswers << saved;
        s.window->mnuSave->trigger();
        QCOMPARE(readAll(saved), image);
    }

    void unplugMidBackupEndsThroughNoResponse_data() {
        QTest::addColumn<int>("generation");
        QTest::newRow("first generation") << 1;
        QTest::newRow("second generation") << 2;
    }
    void unplugMidBackupEndsThroughNoResponse() {
        QFETCH(int, generation);
        Session s;
        QVERIFY(s.start({QStringLiteral("--generation=%1").arg(generation),
                         QStringLiteral("--generate=%1").arg(generation == 1 ? 5000 : 186368),
                         QStringLiteral("--hangup-after=1000")}));
        QElapsedTimer timer;
        timer.start();
        s.window->mnuBackup->trigger();
        QCOMPARE(s.dialogs.warnings(), QStringList{kNoResponse});
        QVERIFY(s.idleWithPortClosed());
        QCOMPARE(s.window->image.ConfigLength, 0);
        QVERIFY(!s.window->SaveButton->isEnabled());
        // Noticed at once, not after a two-second time-out (plus the probe's four).
        QVERIFY2(timer.elapsed() < (generation == 1 ? 1500 : 5500),
                 qPrintable(QString::number(timer.elapsed())));
    }

    void restoreLandsInTheController_data() {
        QTest::addColumn<int>("generation");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("rate");
        QTest::newRow("first generation") << 1 << 20000 << "";
        QTest::newRow("second generation") << 2 << 186368 << "";
        // Takes over six seconds to drain: an unbounded send queue would "finish" at once and
        // then miss the four-second verdict wait.
        QTest::newRow("second generation, slow reader") << 2 << 186368 << "30000";
        // Near line speed the system's own queue (some 20 KiB on a pseudo-terminal) takes
        // longer than four seconds to drain after the last byte is handed over; the verdict
        // wait must count from when the line has carried it.
        QTest::newRow("second generation, near line speed") << 2 << 186368 << "3000";
    }
    void restoreLandsInTheController() {
        QFETCH(int, generation);
        QFETCH(int, length);
        QFETCH(QString, rate);
        Session s;
        const QByteArray image = patterned(length, 11);
        const QString file = s.path(generation == 1 ? "image.CCF" : "image.SAV");
        QVERIFY(writeAll(file, image));
        QStringList args{QStringLiteral("--generation=%1").arg(generation),
                         QStringLiteral("--record-image=") + s.path("received.img")};
        if (!rate.isEmpty())
            args << QStringLiteral("--rate=") + rate;
        QVERIFY(s.start(args));
        s.dialogs.fileAnswers << file;
        s.window->mnuOpen->trigger();
        QCOMPARE(s.window->image.ConfigLength, length);

        s.window->RestoreButton->trigger();
        QCOMPARE(s.dialogs.warnings(), QStringList());
        QVERIFY(s.idleWithPortClosed());
        QTRY_COMPARE(readAll(s.path("received.img")), image);
        QCOMPARE(heldImage(*s.window), image);
    }

    void closingDuringATransferStopsIt() {
        Session s;
        QVERIFY(s.start({QStringLiteral("--generation=2"), QStringLiteral("--rate=960"),
                         QStringLiteral("--record-commands=") + s.path("commands.txt")}));
        s.dialogs.questionAnswers << true;
        QTimer::singleShot(6000, s.window.get(), [&] { s.window->close(); });
        QElapsedTimer timer;
        timer.start();
        s.window->mnuBackup->trigger();
        QVERIFY(timer.elapsed() < 8000);
        QCOMPARE(s.dialogs.asked.size(), 1);
        QVERIFY(s.dialogs.asked.first().startsWith(QLatin1String("question:")));
        QVERIFY(!s.window->MSComm1->portOpen());
        QTRY_VERIFY(!s.window->isVisible());
        QCOMPARE(s.dialogs.warnings(), QStringList());
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Stowline"),
                        QStringLiteral("Stowline"));
        QCOMPARE(store.value(QStringLiteral("Settings/Com1")).toString(), QStringLiteral("True"));
    }

    void missingDeviceGivesAClearPortError() {
        Session s;
        QVERIFY(s.start({QStringLiteral("--generation=1")}));
        qputenv("STOWLINE_COM1", "/dev/stowline-no-such-device");
        s.window->mnuBackup->trigger();
        QCOMPARE(s.dialogs.warnings(),
                 QStringList{QStringLiteral("ERROR Message|Error : Cannot open Com 1 "
                                            "(/dev/stowline-no-such-device): No such file or "
                                            "directory")});
        QVERIFY(s.idleWithPortClosed());
        // The next command works.
        qputenv("STOWLINE_COM1", s.sim->device().toLocal8Bit());
        s.window->mnuBackup->trigger();
        QCOMPARE(s.dialogs.warnings().size(), 1);
        QCOMPARE(s.window->image.ConfigLength, 1000);
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
