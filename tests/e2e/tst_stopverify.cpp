// Stop, verify and the snapshot before a Restore, with the real window and port against the
// controller simulator.
#include "windowtest.h"

#include <QDir>
#include <QRegularExpression>
#include <QTimer>

class StopVerifyTest : public QObject {
    Q_OBJECT

private slots:
    void stop_data() {
        QTest::addColumn<int>("generation");
        QTest::addColumn<bool>("backup");
        // A second-generation Backup stops at Esc; a first-generation Restore asks first, and
        // goes on when the answer is No.
        QTest::newRow("backup, second generation") << 2 << true;
        QTest::newRow("restore, first generation") << 1 << false;
    }
    void stop() {
        QFETCH(int, generation);
        QFETCH(bool, backup);
        Session s;
        const QString rxPath = s.path("rx.bin");
        QVERIFY(s.start({QStringLiteral("--generation=%1").arg(generation),
                         QStringLiteral("--rate=960"), QStringLiteral("--record-rx=") + rxPath}));
        frmMain &w = *s.window;
        const QByteArray image = randomBytes(20000, 4);
        QVERIFY(s.openImage("held.CCF", image));
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        s.dialogs.asked.clear();
        s.dialogs.questionAnswers << true;

        QString barText;
        QElapsedTimer running, sinceStop;
        int asks = 0;
        QTimer poll;
        connect(&poll, &QTimer::timeout, &w, [&] {
            if (sinceStop.isValid())
                return;
            QVERIFY(w.StopButton->isEnabled());
            if (backup && w.ProgressBar->value() >= 2000) {
                barText = w.ProgressBar->text();
                QTest::keyClick(&w, Qt::Key_Escape);
                sinceStop.start();
            } else if (!backup && asks == 0 && running.elapsed() > 1500) {
                // The Restore goes on while the question is open, and after No.
                ++asks;
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
            QVERIFY2(
                barText.contains(QRegularExpression(QStringLiteral("^\\d+ % · \\d+:\\d\\d left$"))),
                qPrintable(barText));
        QVERIFY(w.ProgressBar->text().isEmpty());
        QVERIFY(!w.StopButton->isEnabled() && !w.mnuStop->isEnabled());
        QCOMPARE(s.dialogs.warnings(), QStringList());
        const QString question = QStringLiteral(
            "question:Stowline|Stop the Restore? The controller will be left without a "
            "complete configuration.");
        QCOMPARE(s.dialogs.asked, backup ? QStringList() : QStringList({question, question}));
        checkIdle(w);
        // Nothing more reaches the controller once the bytes that were on their way are in.
        QByteArray rx = readAll(rxPath);
        for (QByteArray was; was != rx; rx = readAll(rxPath)) {
            was = rx;
            QTest::qWait(500);
        }
        if (backup) {
            QCOMPARE(rx, QByteArray("B@?"));
            QCOMPARE(w.ConfigStatus->text(), QStringLiteral("Empty"));
        } else {
            const QByteArray sent = QByteArray("R") + littleEndian32(20000) + image;
            QVERIFY(rx.size() > 2000 && rx.size() < sent.size() && sent.startsWith(rx));
            QCOMPARE(heldImage(w), image);
            QCOMPARE(w.ConfigStatus->text(), QStringLiteral("20000 bytes"));
        }
    }

    void checks_data() {
        QTest::addColumn<QStringList>("simArgs");
        QTest::addColumn<bool>("verify");
        QTest::addColumn<bool>("snapshot");
        QTest::addColumn<QString>("status");
        QTest::addColumn<QString>("box");
        // Verify passes; a Stop question still open when the Restore ends is withdrawn.
        QTest::newRow("verify passes, stop unanswered")
            << QStringList() << true << false << "Verified: the controller holds the restored image"
            << "";
        QTest::newRow("verify finds a spoilt byte")
            << QStringList{"--corrupt-byte=1234"} << true << false << "Waiting for Command"
            << "ERROR Message|Verify failed: 1 bytes differ from the restored image (first at "
               "byte 1234)";
        QTest::newRow("snapshot first")
            << QStringList() << false << true << "Snapshot of the previous configuration: "
            << "";
    }
    void checks() {
        QFETCH(QStringList, simArgs);
        QFETCH(bool, verify);
        QFETCH(bool, snapshot);
        QFETCH(QString, status);
        QFETCH(QString, box);
        Session s;
        qputenv("XDG_DATA_HOME", s.path("data").toLocal8Bit());
        const QByteArray previous = randomBytes(3000, 1), restored = randomBytes(3000, 2);
        QVERIFY(writeAll(s.path("controller.img"), previous));
        QVERIFY(
            s.start(simArgs + QStringList{"--keep-restored", "--image=" + s.path("controller.img"),
                                          "--record-image=" + s.path("stored.img")}));
        frmMain &w = *s.window;
        QVERIFY(s.openImage("held.CCF", restored));
        w.mnuVerifyAfterRestore->setChecked(verify);
        w.mnuBackupBeforeRestore->setChecked(snapshot);
        s.dialogs.asked.clear();
        const bool unanswered = QByteArray(QTest::currentDataTag()).endsWith("unanswered");
        s.dialogs.holdQuestions = unanswered;
        if (unanswered)
            QTimer::singleShot(0, &w, [&] { w.StopButton->trigger(); });

        w.RestoreButton->trigger();
        QCOMPARE(s.dialogs.asked.endsWith(QStringLiteral("withdrawn")), unanswered);

        QCOMPARE(s.dialogs.warnings(), box.isEmpty() ? QStringList() : QStringList{box});
        QVERIFY2(w.sbStatusBar->text().startsWith(status), qPrintable(w.sbStatusBar->text()));
        QCOMPARE(readAll(s.path("stored.img")), restored);
        QCOMPARE(heldImage(w), restored);
        QCOMPARE(w.ConfigStatus->text(), QStringLiteral("3000 bytes"));
        QVERIFY(w.FileStatus->text().endsWith(QLatin1String("held.CCF")));
        QVERIFY(!w.MSComm1->portOpen() && !w.transferRunning());
        const QDir folder(s.path("data/Stowline/snapshots"));
        const QStringList files = folder.entryList(QDir::Files);
        QCOMPARE(files.size(), snapshot ? 1 : 0);
        if (snapshot) {
            QVERIFY2(QRegularExpression(QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d{6}_Com1\\.CCF$"))
                         .match(files.first())
                         .hasMatch(),
                     qPrintable(files.first()));
            QCOMPARE(readAll(folder.filePath(files.first())), previous);
            QCOMPARE(w.sbStatusBar->text(), status + files.first());
            // Open Snapshot starts in that folder and brings the old image back.
            s.dialogs.fileAnswers << folder.filePath(files.first());
            w.mnuOpenSnapshot->trigger();
            QVERIFY(s.dialogs.folders.contains(folder.path()));
            QCOMPARE(heldImage(w), previous);
        }
    }
};

QTEST_MAIN(StopVerifyTest)
#include "tst_stopverify.moc"
