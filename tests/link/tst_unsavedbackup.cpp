// Which commands make the held image "read from a controller and neither saved nor restored
// since", the state the window asks about before anything replaces the image.
#include "filecommands.h"
#include "transferrig.h"

#include <QTemporaryDir>

class TestUnsavedBackup : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    void flag_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("before");
        QTest::addColumn<bool>("after");
        QTest::newRow("first-generation Backup") << "backup1"
                                                 << "" << false << true;
        QTest::newRow("Backup, bad checksum: still held") << "backup1"
                                                          << "bad" << false << true;
        QTest::newRow("second-generation Backup") << "backup2"
                                                  << "" << false << true;
        QTest::newRow("first-generation Restore") << "restore1"
                                                  << "" << true << false;
        QTest::newRow("second-generation Restore") << "restore2"
                                                   << "" << true << false;
        QTest::newRow("Restore, bad checksum") << "restore1"
                                               << "bad" << true << true;
        QTest::newRow("Restore, rejected") << "restore2"
                                           << "bad" << true << true;
        QTest::newRow("Save") << "save"
                              << "" << true << false;
        QTest::newRow("Save, cancelled") << "save"
                                         << "cancel" << true << true;
        QTest::newRow("Save, failed") << "save"
                                      << "bad" << true << true;
        QTest::newRow("Open") << "open"
                              << "" << true << false;
        QTest::newRow("Open, failed") << "open"
                                      << "bad" << true << true;
    }
    void flag() {
        QFETCH(QString, command);
        QFETCH(QString, fault);
        QFETCH(bool, before);
        QFETCH(bool, after);
        const bool bad = fault == "bad";
        const QByteArray bytes = randomBytes(command.endsWith('2') ? kSecondGenerationLength : 300);
        Rig rig(bytes, command.endsWith('2') ? 2 : 1);
        rig.image.unsavedBackup = before;
        const bool second = command.endsWith('2');
        QStringList args{second ? "--generation=2" : "--generation=1"};
        if (bad)
            args << (second ? "--verdict=4E" : "--bad-checksum");
        SimLink controller(rig.fake, args, bytes);
        const QString path = dir.filePath(bad ? "no/such/folder/x.CCF" : "x.CCF");
        if (command == "open" && !bad) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
        }
        if (fault != "cancel")
            rig.view.fileAnswers << RecordingView::FileAnswer{path, {}};
        FileCommands files(rig.image, rig.view);

        if (command.startsWith("backup"))
            rig.transfers.mnuBackup_Click();
        else if (command.startsWith("restore"))
            rig.transfers.mnuRestore_Click();
        else
            command == "save" ? void(files.mnuSave_Click()) : files.mnuOpen_Click();

        QCOMPARE(rig.view.warnings.size(), int(bad));
        QCOMPARE(rig.image.ConfigLength, qint32(bytes.size()));
        QCOMPARE(rig.image.unsavedBackup, after);
    }
};

QTEST_GUILESS_MAIN(TestUnsavedBackup)
#include "tst_unsavedbackup.moc"
