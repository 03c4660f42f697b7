// The real window and serial port against the controller simulator over a pseudo-terminal:
// what only a real port, real time or the real window can show. Protocol faults are the
// engine tests' business.
#include "frmdevice.h"
#include "module1.h"
#include "windowtest.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QTreeWidget>
#include <functional>

namespace {

// Runs the Choose Device dialog through the given hands instead of a modal loop.
class Chooser : public ScriptedDialogs {
public:
    std::function<bool(frmDevice &)> hands;
    bool chooseDevice(frmDevice &dialog) override { return hands(dialog); }
};

} // namespace

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    void init() { settingsStore().clear(); }

    void transfer_data() {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<int>("generation");
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<QString>("setting"); // "verify" or "snapshot": on for this Restore
        QTest::addColumn<QString>("status");  // how the status line starts; empty: idle
        QTest::addColumn<QString>("box");
        const auto row = [](const char *name, bool backup, int generation, const QStringList &args,
                            const char *setting = "", const char *status = "",
                            const char *box = "") {
            QTest::newRow(name) << backup << generation << args << QString(setting)
                                << QString(status) << QString(box);
        };
        const char *noResponse =
            "ERROR Message|Error : Controller Failed to respond, Check Communications";
        row("Backup, first generation", true, 1, {});
        row("Backup, second generation", true, 2, {});
        row("Restore, first generation", false, 1, {});
        row("Restore, second generation", false, 2, {});
        // Near line speed the system's own queue (some 20 KiB on a pseudo-terminal) takes longer
        // than four seconds to drain after the last byte is handed over: the verdict wait must
        // count from when the line has carried it.
        row("Restore, second generation, near line speed", false, 2, {"--rate=3000"});
        // Unplugged mid-transfer: noticed at once, not after a time-out.
        row("Backup, unplugged", true, 1, {"--hangup-after=150"}, "", "", noResponse);
        row("Restore, unplugged", false, 1, {"--hangup-after=150"}, "", "", noResponse);
        // A Stop question still open when the Restore ends is withdrawn.
        row("Restore, verify passes, stop unanswered", false, 1, {}, "verify",
            "Verified: the controller holds the restored image");
        row("Restore, verify finds a spoilt byte", false, 1, {"--corrupt-byte=1234"}, "verify", "",
            "ERROR Message|Verify failed: 1 bytes differ from the restored image (first at byte "
            "1234)");
        row("Restore, snapshot first", false, 1, {}, "snapshot",
            "Snapshot of the previous configuration: ");
    }
    void transfer() {
        QFETCH(bool, backup);
        QFETCH(int, generation);
        QFETCH(QStringList, simArgs);
        QFETCH(QString, setting);
        QFETCH(QString, status);
        QFETCH(QString, box);
        Session s;
        qputenv("XDG_DATA_HOME", s.path("data").toLocal8Bit());
        const QByteArray image = randomBytes(generation == 1 ? 3000 : kSecondGenerationLength, 7);
        const QByteArray previous = randomBytes(image.size(), 99);
        const bool hangUp = simArgs.join(' ').contains("hangup");
        QVERIFY(writeAll(s.path("controller.img"), backup ? image : previous));
        QVERIFY(s.start(simArgs << QStringLiteral("--generation=%1").arg(generation)
                                << "--keep-restored"
                                << "--image=" + s.path("controller.img")
                                << "--record-image=" + s.path("received.img")));
        const char *held = generation == 1 ? "held.CCF" : "held.SAV";
        QVERIFY(s.openImage(held, backup ? previous : image));
        frmMain &w = *s.window;
        w.mnuVerifyAfterRestore->setChecked(setting == "verify");
        w.mnuBackupBeforeRestore->setChecked(setting == "snapshot");
        s.dialogs.asked.clear();
        const bool unanswered = QByteArray(QTest::currentDataTag()).endsWith("unanswered");
        s.dialogs.holdQuestions = unanswered;
        if (unanswered)
            QTimer::singleShot(0, &w, [&] { w.StopButton->trigger(); });

        QElapsedTimer took;
        took.start();
        (backup ? w.BackupButton : w.RestoreButton)->trigger();
        QVERIFY2(!hangUp || took.elapsed() < 1500, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(s.dialogs.asked.endsWith("withdrawn"), unanswered);
        QCOMPARE(s.dialogs.warnings(), box.isEmpty() ? QStringList() : QStringList{box});
        if (status.isEmpty())
            checkIdle(w);
        QVERIFY2(w.sbStatusBar->text().startsWith(status) && !w.MSComm1->portOpen(),
                 qPrintable(w.sbStatusBar->text()));
        if (backup) {
            QVERIFY(heldImage(w) == (hangUp ? QByteArray() : image));
            QCOMPARE(w.image.ControllerType, qint16(generation));
        } else { // the image held stays, and the controller has it, or the part it got
            QVERIFY(heldImage(w) == image && w.FileStatus->text().endsWith(held));
            const auto received = [&] { return readAll(s.path("received.img")); };
            QTRY_VERIFY(image.startsWith(received()) &&
                        received().size() >= (hangUp ? 150 : image.size()));
        }
        // The snapshot is the controller's previous image; Open Snapshot starts in its folder.
        const QDir folder(s.path("data/Stowline/snapshots"));
        const QStringList files = folder.entryList(QDir::Files);
        QCOMPARE(files.size(), setting == "snapshot" ? 1 : 0);
        if (!files.isEmpty()) {
            QVERIFY(files.first().contains(
                QRegularExpression("^\\d{4}-\\d\\d-\\d\\d_\\d{6}_Com1\\.CCF$")));
            QCOMPARE(readAll(folder.filePath(files.first())), previous);
            QCOMPARE(w.sbStatusBar->text(), status + files.first());
            s.dialogs.fileAnswers << folder.filePath(files.first());
            w.mnuOpenSnapshot->trigger();
            QVERIFY(s.dialogs.folders.contains(folder.path()) && heldImage(w) == previous);
        }
    }

    // Closing the window mid-transfer asks once, stops the transfer, closes the port and still
    // writes the settings.
    void closingDuringATransferStopsIt() {
        Session s;
        QVERIFY(s.start({"--generation=2", "--rate=960"}));
        s.dialogs.questionAnswers << true;
        QTimer::singleShot(6000, s.window.get(), [&] { s.window->close(); });
        QElapsedTimer timer;
        timer.start();
        s.window->mnuBackup->trigger();
        QVERIFY(timer.elapsed() < 8000);
        QVERIFY(s.dialogs.asked.size() == 1 && s.dialogs.asked.first().startsWith("question:"));
        QVERIFY(!s.window->MSComm1->portOpen());
        QTRY_VERIFY(!s.window->isVisible());
        QCOMPARE(settingsStore().value("Settings/Com1").toString(), QStringLiteral("True"));
    }

    // A file named at start (`stowline plant.sav`, relative, lower case) goes through Open.
    void openedAtStart() {
        QTemporaryDir dir;
        const QByteArray image = randomBytes(kSecondGenerationLength, 7);
        QVERIFY(writeAll(dir.filePath("plant.sav"), image));
        const QString cwd = QDir::currentPath();
        QDir::setCurrent(dir.path());
        ScriptedDialogs dialogs;
        QPointer<frmMain> w = Module1::Main("plant.sav", &dialogs);
        QDir::setCurrent(cwd);
        QVERIFY(w && w->isVisible());
        checkIdle(*w);
        QCOMPARE(dialogs.asked, QStringList());
        QVERIFY(heldImage(*w) == image && w->image.ControllerType == 2);
        QVERIFY(w->FileStatus->text().endsWith("plant.sav"));
        w->close();
        QTRY_VERIFY(!w);
    }

    // A drop opens like Open on the idle window; during a transfer it is refused and the image
    // being sent stays as it is.
    void dropOpensOnlyWhenIdle() {
        Session s;
        QVERIFY(s.start({"--rate=200"}));
        const QByteArray first = randomBytes(400, 9), second = randomBytes(500, 10);
        QVERIFY(writeAll(s.path("first.CCF"), first) && writeAll(s.path("second.ccf"), second));
        QVERIFY(dropFile(s.window.get(), s.path("first.CCF")));
        QVERIFY(heldImage(*s.window) == first);
        bool acceptedDuringTransfer = true;
        QTimer::singleShot(300, s.window.get(), [&] {
            QVERIFY(s.window->transferRunning());
            acceptedDuringTransfer = dropFile(s.window.get(), s.path("second.ccf"));
        });
        s.window->mnuRestore->trigger();
        QVERIFY(!acceptedDuringTransfer && heldImage(*s.window) == first);
        QCOMPARE(s.dialogs.warnings(), QStringList());
    }

    // A second-generation controller, then a first-generation one, in the same run: the second
    // Backup's probe goes out at 57600 baud and succeeds.
    void firstGenerationAfterSecond() {
        Session s;
        QVERIFY(s.start({"--generation=2"}));
        s.window->BackupButton->trigger();
        QCOMPARE(s.window->image.ControllerType, qint16(2));
        const QByteArray image = randomBytes(500, 8);
        QVERIFY(writeAll(s.path("first.img"), image));
        QVERIFY(s.startSim(
            {"--image=" + s.path("first.img"), "--record-commands=" + s.path("commands.txt")}));
        s.window->BackupButton->trigger();
        QCOMPARE(s.dialogs.warnings(), QStringList());
        QVERIFY(heldImage(*s.window) == image && s.window->image.ControllerType == 1);
        QCOMPARE(readAll(s.path("commands.txt")).split('\n').first(), QByteArray("B 57600"));
    }

    // A second-generation Backup stops at Esc. A first-generation Restore asks first, goes on
    // while the question is open and after No, and stops after Yes.
    void stop_data() {
        QTest::addColumn<int>("generation");
        QTest::newRow("backup, second generation") << 2;
        QTest::newRow("restore, first generation") << 1;
    }
    void stop() {
        QFETCH(int, generation);
        const bool backup = generation == 2;
        Session s;
        const QString rxPath = s.path("rx.bin");
        const QByteArray image = randomBytes(20000, 4);
        QVERIFY(s.start({QStringLiteral("--generation=%1").arg(generation), "--rate=960",
                         "--record-rx=" + rxPath}));
        QVERIFY(s.openImage("held.CCF", image));
        s.dialogs.asked.clear();
        frmMain &w = *s.window;
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        s.dialogs.questionAnswers << true;

        QString barText;
        QElapsedTimer running, sinceStop;
        bool askedOnce = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &w, [&] {
            if (sinceStop.isValid())
                return;
            QVERIFY(w.StopButton->isEnabled());
            if (backup && w.ProgressBar->value() >= 2000) {
                barText = w.ProgressBar->text();
                QTest::keyClick(&w, Qt::Key_Escape);
                sinceStop.start();
            } else if (!backup && !askedOnce && running.elapsed() > 1500) {
                askedOnce = true;
                s.dialogs.holdQuestions = true;
                w.StopButton->trigger();
                const qsizetype before = readAll(rxPath).size();
                QTest::qWait(1000);
                QVERIFY(readAll(rxPath).size() > before + 500);
                s.dialogs.holdQuestions = false;
                std::exchange(s.dialogs.open, nullptr)(false);
            } else if (!backup && running.elapsed() > 4000) {
                w.StopButton->trigger();
                sinceStop.start();
            }
        });
        poll.start(100);
        running.start();
        (backup ? w.mnuBackup : w.mnuRestore)->trigger();
        poll.stop();
        QVERIFY2(sinceStop.isValid() && sinceStop.elapsed() < 1000,
                 qPrintable(QString::number(sinceStop.elapsed())));
        if (backup) // 2000 bytes in at 960 a second: the rate is known
            QVERIFY2(barText.contains(QRegularExpression("^\\d+ % · \\d+:\\d\\d left$")),
                     qPrintable(barText));
        QVERIFY(w.ProgressBar->text().isEmpty() && !w.StopButton->isEnabled() &&
                !w.mnuStop->isEnabled());
        const QString question = "question:Stowline|Stop the Restore? The controller will be "
                                 "left without a complete configuration.";
        QCOMPARE(s.dialogs.asked, backup ? QStringList() : QStringList({question, question}));
        checkIdle(w);
        // Once the bytes that were on their way are in, nothing more reaches the controller.
        QByteArray rx = readAll(rxPath);
        for (QByteArray was; was != rx; rx = readAll(rxPath))
            was = rx, QTest::qWait(500);
        const QByteArray sent = "R" + littleEndian32(20000) + image;
        if (backup)
            QVERIFY(rx == "B@?" && w.ConfigStatus->text() == "Empty");
        else
            QVERIFY(rx.size() > 2000 && rx.size() < sent.size() && sent.startsWith(rx) &&
                    heldImage(w) == image && w.ConfigStatus->text() == "20000 bytes");
    }

    // A new user: the controller's device is named by no mapping. Choose Device, type the
    // path, OK, Backup; after a restart the choice is still in force.
    void firstRunWithATypedPath() {
        qunsetenv("STOWLINE_COM1");
        QTemporaryDir dir;
        const QByteArray image = randomBytes(700, 3);
        QVERIFY(writeAll(dir.filePath("c.img"), image));
        SimProcess sim({"--image=" + dir.filePath("c.img")});
        QVERIFY(!sim.device().isEmpty());
        Chooser dialogs;
        dialogs.hands = [&](frmDevice &d) {
            d.txtDevice->clear();
            QTest::keyClicks(d.txtDevice, sim.device());
            QTest::mouseClick(d.buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
            return d.result() == QDialog::Accepted;
        };
        for (int run = 0; run < 2; ++run) {
            frmMain w(&dialogs);
            w.Form_Load();
            w.show();
            if (run == 0)
                w.mnuChooseDevice->trigger();
            QVERIFY(w.mniCom[0]->toolTip().startsWith(sim.device()));
            w.BackupButton->trigger();
            QCOMPARE(dialogs.warnings(), QStringList());
            QVERIFY(heldImage(w) == image);
            w.close();
        }
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
