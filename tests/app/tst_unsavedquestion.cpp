// Exit, Open and Backup ask before they drop an image read from a controller that was neither
// saved nor restored since; an image opened from a file is never asked about.
#include "windowtest.h"

#include <QTemporaryDir>

namespace {
using Answer = Dialogs::Answer;
const QString kQuestion = QStringLiteral("yesNoCancel:Stowline|The configuration read from the "
                                         "controller has not been saved. Save it now?");
} // namespace

class UnsavedQuestionTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QStandardPaths::setTestModeEnabled(true);
        // A Backup that goes ahead ends at once with the port's box.
        qputenv("STOWLINE_COM1", "/dev/stowline-no-such-device");
    }

    void beforeReplacing_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("fromController"); // else opened from a file
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("saveTo"); // the Save dialog's answer; empty: Cancel
        QTest::addColumn<QString>("asked");  // the boxes and dialogs shown, in order
        const QString yes = "Yes", no = "No", cancel = "Cancel";
        QTest::newRow("Exit, Yes, saved") << "exit" << true << yes << "kept.CCF"
                                          << "question save closed";
        QTest::newRow("Exit, Yes, Save cancelled") << "exit" << true << yes << ""
                                                   << "question save";
        QTest::newRow("Exit, No") << "exit" << true << no << ""
                                  << "question closed";
        QTest::newRow("Exit, Cancel") << "exit" << true << cancel << ""
                                      << "question";
        QTest::newRow("Open, Yes, saved") << "open" << true << yes << "kept"
                                          << "question save open";
        QTest::newRow("Open, No") << "open" << true << no << ""
                                  << "question open";
        QTest::newRow("Open, Cancel") << "open" << true << cancel << ""
                                      << "question";
        QTest::newRow("Backup, Yes, Save cancelled") << "backup" << true << yes << ""
                                                     << "question save";
        QTest::newRow("Backup, No") << "backup" << true << no << ""
                                    << "question warning";
        QTest::newRow("Backup, Cancel") << "backup" << true << cancel << ""
                                        << "question";
        QTest::newRow("Exit, opened image") << "exit" << false << cancel << ""
                                            << "closed";
        QTest::newRow("Open, opened image") << "open" << false << cancel << ""
                                            << "open";
        QTest::newRow("Backup, opened image") << "backup" << false << cancel << ""
                                              << "warning";
    }
    void beforeReplacing() {
        QFETCH(QString, command);
        QFETCH(bool, fromController);
        QFETCH(QString, answer);
        QFETCH(QString, saveTo);
        QFETCH(QString, asked);
        QTemporaryDir dir;
        ScriptedDialogs dialogs;
        frmMain w(&dialogs);
        w.Form_Load();
        w.show();
        const QByteArray bytes = randomBytes(500, 7);
        if (fromController) { // as a Backup leaves it
            w.image.ConfigData = QByteArray(1, '\0') + bytes;
            w.image.ConfigLength = qint32(bytes.size());
            w.image.ControllerType = 1;
            w.image.unsavedBackup = true;
            w.SetIdleState();
        } else {
            QVERIFY(writeAll(dir.filePath("opened.CCF"), bytes));
            dialogs.fileAnswers << dir.filePath("opened.CCF");
            w.mnuOpen->trigger();
            QCOMPARE(heldImage(w), bytes);
            dialogs.asked.clear();
        }
        dialogs.yesNoCancelAnswers << (answer == "Yes"  ? Answer::Yes
                                       : answer == "No" ? Answer::No
                                                        : Answer::Cancel);
        dialogs.fileAnswers << (saveTo.isEmpty() ? QString() : dir.filePath(saveTo));

        if (command == "exit")
            w.mnuFileExit->trigger();
        else if (command == "open")
            w.OpenButton->trigger();
        else
            w.BackupButton->trigger();

        QStringList shown;
        for (const QString &line : dialogs.asked)
            shown << line.section(':', 0, 0);
        shown.replaceInStrings("yesNoCancel", "question");
        if (!w.isVisible())
            shown << "closed";
        QCOMPARE(shown.join(' '), asked);
        if (fromController)
            QCOMPARE(dialogs.asked.first(), kQuestion);
        if (!saveTo.isEmpty()) // a name typed without an extension gets one
            QCOMPARE(readAll(dir.filePath("kept.CCF")), bytes);
        if (shown.size() == 1 && shown.first() == "question") // called off: nothing changed
            QCOMPARE(heldImage(w), bytes);
    }
};

QTEST_MAIN(UnsavedQuestionTest)
#include "tst_unsavedquestion.moc"
