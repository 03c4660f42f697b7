// The real window and serial port against the controller simulator over a pseudo-terminal:
// what only a real port, real time or the real window can show. Protocol faults are the
// engine tests' business.
#include "windowtest.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

namespace {

const QString kNoResponse =
    QStringLiteral("ERROR Message|Error : Controller Failed to respond, Check Communications");

struct Session {
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<frmMain> window;

    QString path(const char *name) const { return dir.filePath(QLatin1String(name)); }
    bool start(const QStringList &simArgs) {
        sim = std::make_unique<SimProcess>(simArgs);
        qputenv("STOWLINE_COM1", sim->device().toLocal8Bit());
        window = std::make_unique<frmMain>(&dialogs);
        window->Form_Load();
        window->show();
        return !sim->device().isEmpty();
    }
    // Opens `name` in the session folder holding `bytes` through the window's Open.
    bool openImage(const char *name, const QByteArray &bytes) {
        dialogs.fileAnswers << path(name);
        if (writeAll(path(name), bytes))
            window->mnuOpen->trigger();
        return heldImage(*window) == bytes;
    }
};

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { settingsStore().clear(); }

    void transfer_data() {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<int>("generation");
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<int>("hangUpAfter"); // image bytes; -1: no fault
        QTest::addColumn<int>("withinMs");    // the end noticed this soon; 0: no bound
        const auto row = [](const char *name, bool backup, int generation, const QStringList &args,
                            int hangUpAfter = -1, int withinMs = 0) {
            QTest::newRow(name) << backup << generation << args << hangUpAfter << withinMs;
        };
        row("Backup, first generation", true, 1, {});
        row("Backup, first generation, 960 bytes/s", true, 1, {"--rate=960"});
        row("Backup, second generation", true, 2, {});
        row("Restore, first generation", false, 1, {});
        row("Restore, second generation", false, 2, {});
        // Near line speed the system's own queue (some 20 KiB on a pseudo-terminal) takes longer
        // than four seconds to drain after the last byte is handed over: the verdict wait must
        // count from when the line has carried it.
        row("Restore, second generation, near line speed", false, 2, {"--rate=3000"});
        // Unplugged mid-transfer: noticed at once, not after a time-out.
        row("Backup, unplugged", true, 1, {}, 150, 1500);
        row("Restore, unplugged", false, 1, {}, 150, 1500);
    }
    void transfer() {
        QFETCH(bool, backup);
        QFETCH(int, generation);
        QFETCH(QStringList, simArgs);
        QFETCH(int, hangUpAfter);
        QFETCH(int, withinMs);
        Session s;
        const QByteArray image = randomBytes(generation == 1 ? 300 : kSecondGenerationLength, 7);
        const QByteArray previous = randomBytes(12, 99);
        QVERIFY(writeAll(s.path("controller.img"), image));
        simArgs << QStringLiteral("--generation=%1").arg(generation)
                << "--image=" + s.path("controller.img")
                << "--record-image=" + s.path("received.img");
        if (hangUpAfter >= 0)
            simArgs << QStringLiteral("--hangup-after=%1").arg(hangUpAfter);
        QVERIFY(s.start(simArgs));
        QVERIFY(s.openImage(generation == 1 ? "held.CCF" : "held.SAV", backup ? previous : image));

        QElapsedTimer took;
        took.start();
        (backup ? s.window->BackupButton : s.window->RestoreButton)->trigger();
        if (withinMs > 0)
            QVERIFY2(took.elapsed() < withinMs, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(s.dialogs.warnings(), hangUpAfter < 0 ? QStringList() : QStringList{kNoResponse});
        checkIdle(*s.window);
        if (backup) {
            QCOMPARE(heldImage(*s.window), hangUpAfter < 0 ? image : QByteArray());
            QCOMPARE(s.window->image.ControllerType, qint16(generation));
        } else { // the image held stays, and the controller has it, or the part it got
            QCOMPARE(heldImage(*s.window), image);
            QTRY_VERIFY(image.startsWith(readAll(s.path("received.img"))) &&
                        readAll(s.path("received.img")).size() >=
                            (hangUpAfter < 0 ? image.size() : hangUpAfter));
        }
    }

    // Closing the window mid-transfer asks once, stops the transfer, closes the port and still
    // writes the settings.
    void closingDuringATransferStopsIt() {
        Session s;
        QVERIFY(s.start({QStringLiteral("--generation=2"), QStringLiteral("--rate=960")}));
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
        QCOMPARE(settingsStore().value(QStringLiteral("Settings/Com1")).toString(),
                 QStringLiteral("True"));
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
