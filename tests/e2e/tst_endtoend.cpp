// The real window and serial port against the controller simulator over a pseudo-terminal:
// what only a real port, real time or the real window can show. Protocol faults are the
// engine tests' business.
#include "configfile.h"
#include "module1.h"
#include "windowtest.h"

#include <QDropEvent>
#include <QMimeData>
#include <QUrl>

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <memory>

namespace {

const QString kNoResponse =
    QStringLiteral("ERROR Message|Error : Controller Failed to respond, Check Communications");


// Drag enter then drop of `path` on the window; true when both were accepted.
bool dropFile(QWidget *window, const QString &path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    enter.ignore();
    QApplication::sendEvent(window, &enter);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    drop.ignore();
    QApplication::sendEvent(window, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

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

    // A file named at start (`stowline FILE`) or dropped on the window goes through Open.
    void openedAtStart_data() {
        QTest::addColumn<QString>("name"); // written into the session folder unless "missing"
        QTest::addColumn<bool>("relative");
        QTest::addRow("second-generation file") << "PLANT.SAV" << false;
        QTest::addRow("relative path, lower case") << "plant.sav" << true;
        QTest::addRow("missing file") << "missing.SAV" << false;
    }
    void openedAtStart() {
        QFETCH(QString, name);
        QFETCH(bool, relative);
        QTemporaryDir dir;
        const QString path = dir.filePath(name);
        const QByteArray image = randomBytes(kSecondGenerationLength, 7);
        const bool missing = name.startsWith(QLatin1String("missing"));
        if (!missing)
            QVERIFY(writeAll(path, image));
        const QString cwd = QDir::currentPath();
        if (relative)
            QDir::setCurrent(dir.path());

        ScriptedDialogs dialogs;
        QPointer<frmMain> w = Module1::Main(relative ? name : path, &dialogs);
        QDir::setCurrent(cwd);
        QVERIFY(w && w->isVisible());
        checkIdle(*w);
        if (missing) {
            // Open's failure box, and the window as it starts.
            QCOMPARE(dialogs.warnings().size(), 1);
            QVERIFY(dialogs.warnings().first().startsWith(QLatin1String("ERROR Message|")));
            QVERIFY(dialogs.warnings().first().contains(path));
            QCOMPARE(w->image.ConfigLength, 0);
            QCOMPARE(w->ConfigStatus->text(), QStringLiteral("Empty"));
            QCOMPARE(w->FileStatus->text(), QStringLiteral("None"));
        } else {
            QCOMPARE(dialogs.asked, QStringList());
            QCOMPARE(heldImage(*w), image);
            QCOMPARE(w->image.ControllerType, qint16(2));
            QCOMPARE(w->ConfigStatus->text(), QStringLiteral("186368 bytes"));
            QCOMPARE(w->FileStatus->text(), ConfigFile::pathTail(path));
        }
        w->close();
        QTRY_VERIFY(!w);
    }

    // A drop opens like Open on the idle window; during a transfer it is refused and the image
    // being sent stays as it is.
    void dropOpensOnlyWhenIdle() {
        Session s;
        QVERIFY(s.start({QStringLiteral("--rate=200")}));
        const QByteArray first = randomBytes(400, 9), second = randomBytes(500, 10);
        QVERIFY(writeAll(s.path("first.CCF"), first));
        QVERIFY(writeAll(s.path("second.ccf"), second));

        QVERIFY(dropFile(s.window.get(), s.path("first.CCF")));
        QCOMPARE(heldImage(*s.window), first);
        QCOMPARE(s.window->ConfigStatus->text(), QStringLiteral("400 bytes"));
        checkIdle(*s.window);

        bool acceptedDuringTransfer = true;
        QTimer::singleShot(300, s.window.get(), [&] {
            QVERIFY(s.window->transferRunning());
            acceptedDuringTransfer = dropFile(s.window.get(), s.path("second.ccf"));
        });
        s.window->mnuRestore->trigger();
        QVERIFY(!acceptedDuringTransfer);
        QCOMPARE(heldImage(*s.window), first);
        QCOMPARE(s.dialogs.warnings(), QStringList());
    }

    // A second-generation controller, then a first-generation one, in the same run: the second
    // Backup's probe goes out at 57600 baud and succeeds.
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

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
