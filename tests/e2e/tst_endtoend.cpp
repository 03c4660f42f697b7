// The real window and serial port against the controller simulator over a pseudo-terminal:
// what only a real port, real time or the real window can show. Protocol faults are the
// engine tests' business.
#include "window/devicedialog.h"
#include "windowtest.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <functional>

namespace {

// Runs the Choose Device dialog through the given hands instead of a modal loop.
class Chooser : public ScriptedDialogs {
public:
    std::function<bool(DeviceDialog &)> hands;
    bool chooseDevice(DeviceDialog &dialog) override { return hands(dialog); }
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
        MainWindow &w = *s.window;
        child(w, "verifyAfterRestoreAction")->setChecked(setting == "verify");
        child(w, "backupBeforeRestoreAction")->setChecked(setting == "snapshot");
        s.dialogs.asked.clear();
        const bool unanswered = QByteArray(QTest::currentDataTag()).endsWith("unanswered");
        s.dialogs.holdQuestions = unanswered;
        if (unanswered) // pressed once the Restore writes
            connect(w.findChild<TransferThread *>(), &TransferThread::writing, &w,
                    [&](bool on) { on ? child(w, "stopButton")->trigger() : void(); });

        QElapsedTimer took;
        took.start();
        QVERIFY(runToEnd(w, backup ? "backupButton" : "restoreButton"));
        QVERIFY2(!hangUp || took.elapsed() < 1500, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(s.dialogs.asked.endsWith("withdrawn"), unanswered);
        QCOMPARE(s.dialogs.warnings(), box.isEmpty() ? QStringList() : QStringList{box});
        if (status.isEmpty())
            checkIdle(w);
        const QString shown = child<QLabel>(w, "statusLine")->text();
        QVERIFY2(shown.startsWith(status) && !w.transferRunning(), qPrintable(shown));
        if (backup) {
            QVERIFY(heldImage(w) == (hangUp ? QByteArray() : image));
            QCOMPARE(w.image().generation, hangUp ? Generation::Unknown : Generation(generation));
        } else { // the image held stays, and the controller has it, or the part it got
            QVERIFY(heldImage(w) == image && child<QLabel>(w, "fileLabel")->text().endsWith(held));
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
            QCOMPARE(shown, status + files.first());
            s.dialogs.fileAnswers << folder.filePath(files.first());
            child(w, "openSnapshotAction")->trigger();
            QVERIFY(s.dialogs.folders.contains(folder.path()) && heldImage(w) == previous);
        }
    }

    // Closing the window mid-transfer asks once, stops the transfer, closes the port and still
    // writes the settings.
    void closingDuringATransferStopsIt() {
        Session s;
        QVERIFY(s.start({"--generation=2", "--rate=960"}));
        s.dialogs.questionAnswers << true;
        child(*s.window, "backupAction")->trigger();
        QTest::qWait(6000);
        QVERIFY(s.window->transferRunning());
        s.window->close();
        QTRY_VERIFY_WITH_TIMEOUT(!s.window->isVisible(), 2000);
        QVERIFY(!s.window->transferRunning());
        QVERIFY(s.dialogs.asked.size() == 1 && s.dialogs.asked.first().startsWith("question:"));
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
        QPointer<MainWindow> w = new MainWindow(&dialogs); // as main() starts it
        w->setAttribute(Qt::WA_DeleteOnClose), w->load(), w->show(), w->openFile("plant.sav");
        QDir::setCurrent(cwd);
        QVERIFY(w && w->isVisible());
        checkIdle(*w);
        QCOMPARE(dialogs.asked, QStringList());
        QVERIFY(heldImage(*w) == image && w->image().generation == Generation::Second);
        QVERIFY(child<QLabel>(*w, "fileLabel")->text().endsWith("plant.sav"));
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
        QVERIFY(runToEnd(*s.window, "restoreAction"));
        QVERIFY(!acceptedDuringTransfer && heldImage(*s.window) == first);
        QCOMPARE(s.dialogs.warnings(), QStringList());
    }

    // A second-generation controller, then a first-generation one, in the same run: the second
    // Backup's probe goes out at 57600 baud and succeeds.
    void firstGenerationAfterSecond() {
        Session s;
        QVERIFY(s.start({"--generation=2"}));
        QVERIFY(runToEnd(*s.window, "backupButton"));
        QCOMPARE(s.window->image().generation, Generation::Second);
        const QByteArray image = randomBytes(500, 8);
        QVERIFY(writeAll(s.path("first.img"), image));
        QVERIFY(s.startSim(
            {"--image=" + s.path("first.img"), "--record-commands=" + s.path("commands.txt")}));
        QVERIFY(runToEnd(*s.window, "backupButton"));
        QCOMPARE(s.dialogs.warnings(), QStringList());
        QVERIFY(heldImage(*s.window) == image && s.window->image().generation == Generation::First);
        QCOMPARE(readAll(s.path("commands.txt")).split('\n').first(), QByteArray("B 57600"));
    }

    // A Backup stops at Esc. A first-generation Restore asks first, goes on while the question
    // is open and after No, and stops after Yes. The window answers throughout, also while a
    // slow controller answers a lock-step Backup byte by byte.
    void stop_data() {
        QTest::addColumn<int>("generation");
        QTest::addColumn<QString>("rate");
        QTest::addColumn<int>("stopAt"); // the Backup's progress at Esc; 0: a Restore
        QTest::newRow("backup, second generation") << 2 << "960" << 2000;
        QTest::newRow("restore, first generation") << 1 << "960" << 0;
        // Lock-step: each byte waits for the controller, and the window's thread never does.
        QTest::newRow("backup, first generation, slow") << 1 << "200" << 100;
    }
    void stop() {
        QFETCH(int, generation);
        QFETCH(QString, rate);
        QFETCH(int, stopAt);
        const bool backup = stopAt > 0;
        Session s;
        const QString rxPath = s.path("rx.bin");
        const QByteArray image = randomBytes(20000, 4);
        QVERIFY(
            s.start({QStringLiteral("--generation=%1").arg(generation), "--rate=" + rate,
                     "--record-rx=" + rxPath, generation == 1 ? "--generate=3000" : "--quiet"}));
        QVERIFY(s.openImage("held.CCF", image));
        s.dialogs.asked.clear();
        MainWindow &w = *s.window;
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        s.dialogs.questionAnswers << true;
        QAction *stopButton = child(w, "stopButton");
        auto *bar = child<QProgressBar>(w, "progressBar");

        QString barText;
        QElapsedTimer running, sinceStop;
        bool askedOnce = false;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &w, [&] {
            if (sinceStop.isValid())
                return;
            QVERIFY(stopButton->isEnabled());
            if (backup && bar->value() >= stopAt) {
                barText = bar->text();
                QTest::keyClick(&w, Qt::Key_Escape);
                sinceStop.start();
            } else if (!backup && !askedOnce && running.elapsed() > 1500) {
                askedOnce = true;
                s.dialogs.holdQuestions = true;
                stopButton->trigger();
                const qsizetype before = readAll(rxPath).size();
                QTest::qWait(1000);
                QVERIFY(readAll(rxPath).size() > before + 500);
                s.dialogs.holdQuestions = false;
                std::exchange(s.dialogs.open, nullptr)(false);
            } else if (!backup && running.elapsed() > 4000) {
                stopButton->trigger();
                sinceStop.start();
            }
        });
        poll.start(100);
        running.start();
        QVERIFY(runToEnd(w, backup ? "backupAction" : "restoreAction", rate == "200" ? 50 : 500));
        poll.stop();
        QVERIFY2(sinceStop.isValid() && sinceStop.elapsed() < 1000,
                 qPrintable(QString::number(sinceStop.elapsed())));
        if (stopAt >= 2000) // 2000 bytes in at 960 a second: the rate is known
            QVERIFY2(barText.contains(QRegularExpression("^\\d+ % · \\d+:\\d\\d left$")),
                     qPrintable(barText));
        QVERIFY(bar->text().isEmpty() && !stopButton->isEnabled() &&
                !child(w, "stopAction")->isEnabled());
        const QString question = "question:Stowline|Stop the Restore? The controller will be "
                                 "left without a complete configuration.";
        QCOMPARE(s.dialogs.asked, backup ? QStringList() : QStringList({question, question}));
        checkIdle(w);
        // Once the bytes that were on their way are in, nothing more reaches the controller.
        QByteArray rx = readAll(rxPath);
        for (QByteArray was; was != rx; rx = readAll(rxPath))
            was = rx, QTest::qWait(500);
        const QByteArray sent = "R" + littleEndian32(20000) + image;
        const QString held = child<QLabel>(w, "bufferLabel")->text();
        if (backup) // nothing held; a lock-step Backup acknowledged part of the image only
            QVERIFY(rx == (generation == 2 ? "B@?" : "BU" + QByteArray(rx.size() - 2, 'A')) &&
                    rx.size() < 3002 && heldImage(w).isEmpty() && held == "Empty");
        else
            QVERIFY(rx.size() > 2000 && rx.size() < sent.size() && sent.startsWith(rx) &&
                    heldImage(w) == image && held == "20000 bytes");
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
        dialogs.hands = [&](DeviceDialog &d) {
            child<QLineEdit>(d, "deviceEdit")->clear();
            QTest::keyClicks(child<QLineEdit>(d, "deviceEdit"), sim.device());
            QTest::mouseClick(child<QDialogButtonBox>(d, "buttons")->button(QDialogButtonBox::Ok),
                              Qt::LeftButton);
            return d.result() == QDialog::Accepted;
        };
        for (int run = 0; run < 2; ++run) {
            MainWindow w(&dialogs);
            w.load();
            w.show();
            if (run == 0)
                child(w, "chooseDeviceAction")->trigger();
            QVERIFY(child(w, "port1Action")->toolTip().startsWith(sim.device()));
            QVERIFY(runToEnd(w, "backupButton"));
            QCOMPARE(dialogs.warnings(), QStringList());
            QVERIFY(heldImage(w) == image);
            w.close();
        }
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
