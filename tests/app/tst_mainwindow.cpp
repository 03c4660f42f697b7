#include "frmabout.h"
#include "windowtest.h"

#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <memory>

namespace {

// What a user reads on an object (a caption, a title, a label's text), and an action's tooltip.
QString shownText(QObject *object) {
    for (const char *name : {"text", "title", "windowTitle"})
        if (const QVariant v = object->property(name); v.isValid()) {
            const QString tip = object->property("toolTip").toString();
            const bool action = qobject_cast<QAction *>(object);
            return v.toString() +
                   (action && tip != v.toString().remove('&').trimmed() ? "|" + tip : "");
        }
    return {};
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedDialogs> dialogs_;
    std::unique_ptr<frmMain> window_;
    QTemporaryDir dir_;

    // A fresh window, loaded from the store as it stands.
    frmMain &load() {
        window_ = std::make_unique<frmMain>(dialogs_.get());
        // The machine's own ports never show in these tests.
        window_->setPortInventory([] {
            SerialPortEntry e;
            e.device = QStringLiteral("/dev/ttyS2");
            e.description = QStringLiteral("Test port");
            return QList<SerialPortEntry>{e};
        });
        window_->Form_Load();
        window_->show();
        return *window_;
    }

private slots:
    // Never the user's own settings, also when run outside the test runner.
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath("config")));
    }
    void init() {
        const QString path = settingsStore().fileName();
        QFile::remove(path);
        QDir(path + QStringLiteral(".lock")).removeRecursively();
        QDir().mkpath(QFileInfo(path).path());
        dialogs_ = std::make_unique<ScriptedDialogs>();
    }
    void cleanup() { window_.reset(); }

    // Captions, tooltips and enabled states, with no image and with one held.
    void whatTheUserSees_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("enabledEmpty");
        QTest::addColumn<bool>("enabledHeld");
        const auto row = [](const char *name, const char *text, bool empty, bool held) {
            QTest::newRow(name) << name << QString::fromUtf8(text) << empty << held;
        };
        row("frmMain", "Tessaline - Stowline", true, true);
        row("mnuFile", "&File", true, true);
        row("mnuOpen", "&Open", true, true);
        row("mnuSave", "&Save", false, true);
        row("mnuFileExit", "E&xit", true, true);
        row("mnuActions", "&Actions", true, true);
        row("mnuBackup", "&Backup", true, true);
        row("mnuRestore", "&Restore", false, true);
        row("mnuSettings", "&Settings", true, true);
        row("mnuComPorts", "&Port", true, true);
        row("mniCom3", "Com &3|/dev/ttyS2 — Test port", true, true);
        row("mnuChooseDevice", "Choose &Device…", true, true);
        row("mnuHelp", "&Help", true, true);
        row("mnuHelpAbout", "&About ", true, true);
        row("OpenButton", "Open|Open Controller Configuration from file", true, true);
        row("SaveButton", "Save|Save Controller Configuration to file", false, true);
        row("BackupButton", "Backup|Backup Configuration from the Controller", true, true);
        row("RestoreButton", "Restore|Restore Configuration to the Controller", false, true);
        row("StopButton", "Stop|Stop the transfer with the Controller", false, false);
        row("mnuStop", "&Stop", false, false);
        row("mnuOpenSnapshot", "Open &Snapshot…", true, true);
        row("mnuVerifyAfterRestore", "&Verify after Restore", true, true);
        row("mnuBackupBeforeRestore", "Back up before &Restore", true, true);
        row("Progress", "Progress", true, true);
        row("File", "File", true, true);
        row("CntrlConfig", "Controller Configuration Buffer", true, true);
        row("ConfigStatus", "Empty|3 bytes", true, true);
        row("sbStatusBar", "Waiting for Command", true, true);
    }
    void whatTheUserSees() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(bool, enabledEmpty);
        QFETCH(bool, enabledHeld);
        frmMain &w = load();
        QObject *object = name == "frmMain" ? &w : w.findChild<QObject *>(name);
        QVERIFY(object);
        QCOMPARE(object->property("enabled").toBool(), enabledEmpty);
        QCOMPARE(shownText(object), text.section('|', 0, name == "ConfigStatus" ? 0 : 1));
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.height() - w.menuBar()->geometry().bottom() - 1, 213);
        QCOMPARE(w.width(), 390);
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(w.mnuOpen->shortcut().isEmpty());

        QVERIFY(writeAll(dir_.filePath("held.CCF"), "abc"));
        dialogs_->fileAnswers << dir_.filePath("held.CCF");
        w.mnuOpen->trigger();
        QCOMPARE(object->property("enabled").toBool(), enabledHeld);
        if (name == "ConfigStatus")
            QCOMPARE(shownText(object), text.section('|', 1));
        checkIdle(w);
    }

    void storedSettings_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("port"); // the one port marked at load; 0: none
        QTest::addColumn<QPoint>("position");
        const QByteArray stored =
            "[Settings]\nMainLeft=1500\nMainTop=3000\nMainWidth=6000\n"
            "MainHeight=3855\nCom1=False\nCom2=False\nCom3=True\nCom4=False\n"
            "VerifyAfterRestore=True\n";
        const QPoint defaults(67, 67), placed(100, 200);
        QTest::newRow("empty store") << QByteArray() << 1 << defaults;
        QTest::newRow("stored") << stored << 3 << placed;
        QTest::newRow("all ports false")
            << QByteArray("[Settings]\nCom1=False\nCom2=False\nCom3=False\nCom4=False\n") << 0
            << defaults;
        QTest::newRow("numeric truth")
            << QByteArray("[Settings]\nCom1=0\nCom3=-1\n") << 3 << defaults;
        QTest::newRow("values that are no numbers or truths")
            << QByteArray("[Settings]\nMainLeft=left\nMainTop=\nMainWidth=12abc\nMainHeight=--1\n"
                          "Com1=maybe\nCom2=\x01\x02\nCom3=yes please\nCom4=\n")
            << 1 << defaults;
        QTest::newRow("binary junk") << randomBytes(4096, 51) << 1 << defaults;
        QTest::newRow("numbers beyond any screen")
            << QByteArray("[Settings]\nMainLeft=2e37\nMainTop=-2e37\nMainWidth=3e38\n"
                          "MainHeight=-3e38\n")
            << 1 << defaults;
        QTest::newRow("negative size, far off screen")
            << QByteArray("[Settings]\nMainLeft=30000000\nMainTop=1500\nMainWidth=-30000000\n"
                          "MainHeight=3855\n")
            << 1 << defaults;
        // The store can then not be written; closing must not hang, and leaves it as it was.
        QTest::newRow("lock file in the way") << stored << 3 << placed;
    }
    // What the store holds decides the port marks and the placement; values that make no
    // sense give the defaults. Closing never asks anything and writes the store whole again.
    void storedSettings() {
        QFETCH(QByteArray, contents);
        QFETCH(int, port);
        QFETCH(QPoint, position);
        const QString path = settingsStore().fileName();
        const bool locked = QString::fromLatin1(QTest::currentDataTag()).startsWith("lock");
        QVERIFY(contents.isEmpty() || writeAll(path, contents));
        QVERIFY(!locked || QDir().mkpath(path + QStringLiteral(".lock")));
        frmMain &w = load();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(w.mniCom[i]->isChecked(), i + 1 == port);
        QCOMPARE(w.GetSelectedPort(), qint16(port));
        QCOMPARE(w.pos(), position);
        // Choosing a port marks it alone, also when chosen again.
        for (int round = 0; round < 2; ++round)
            w.mniCom[1]->trigger();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(w.mniCom[i]->isChecked(), i == 1);
        const bool verify = contents.contains("VerifyAfterRestore=True");
        QCOMPARE(w.mnuVerifyAfterRestore->isChecked(), verify);
        QVERIFY(!w.mnuBackupBeforeRestore->isChecked());
        w.mnuBackupBeforeRestore->trigger();
        w.mnuFileExit->trigger();
        QVERIFY(!w.isVisible());
        QCOMPARE(dialogs_->asked, QStringList());
        window_.reset();
        if (locked) {
            QCOMPARE(readAll(path), contents);
            return;
        }
        QSettings written = settingsStore();
        QCOMPARE(written.value("Settings/Com1").toString(), QStringLiteral("False"));
        QCOMPARE(written.value("Settings/Com2").toString(), QStringLiteral("True"));
        QCOMPARE(written.value("Settings/MainLeft").toString(), QString::number(position.x() * 15));
        QCOMPARE(written.value("Settings/VerifyAfterRestore").toString(),
                 QLatin1String(verify ? "True" : "False"));
        QCOMPARE(written.value("Settings/BackupBeforeRestore").toString(), QStringLiteral("True"));
    }

    void minimisedUnloadKeepsPlacement() {
        settingsStore().setValue(QStringLiteral("Settings/MainLeft"), QStringLiteral("1234"));
        frmMain &w = load();
        w.showMinimized();
        QTRY_VERIFY(w.isMinimized());
        w.close();
        QCOMPARE(settingsStore().value("Settings/MainLeft").toString(), QStringLiteral("1234"));
        QCOMPARE(settingsStore().value("Settings/Com1").toString(), QStringLiteral("True"));
    }

    void statusLineSurvivesMenuHover() {
        frmMain &w = load();
        w.setStatus(QStringLiteral("Validating Checksum"));
        w.mnuFile->popup(QPoint(0, 0));
        w.mnuOpen->hover();
        w.mniCom[2]->hover();
        QStatusTipEvent blank{QString()};
        QCoreApplication::sendEvent(&w, &blank);
        QCOMPARE(w.sbStatusBar->text(), QStringLiteral("Validating Checksum"));
        w.mnuFile->hide();
    }

    // Open and Save on real files, through the toolbar.
    void openThenSaveIsByteIdentical() {
        const QByteArray bytes = randomBytes(kSecondGenerationLength);
        const QString source = dir_.filePath(QStringLiteral("image.SAV"));
        const QString target = dir_.filePath(QStringLiteral("copy.SAV"));
        QVERIFY(writeAll(source, bytes));
        frmMain &w = load();
        dialogs_->fileAnswers << source << target;
        w.tbToolBar_ButtonClick(w.OpenButton);
        QCOMPARE(w.ConfigStatus->text(), QStringLiteral("186368 bytes"));
        QCOMPARE(w.FileStatus->text(), source.right(60));
        w.tbToolBar_ButtonClick(w.SaveButton);
        QCOMPARE(readAll(target), bytes);
        checkIdle(w);
    }

    void fileDialogMatchesAnyLetterCase() {
        for (const char *name : {"a.ccf", "b.CCF", "c.Ccf", "d.txt"})
            QVERIFY(writeAll(dir_.filePath(QLatin1String(name)), "x"));
        QFileDialog dialog(nullptr, QStringLiteral("Open"), dir_.path(),
                           toQtNameFilters(QStringLiteral("Files (*.CCF) | *.CCF")));
        prepareFileDialog(dialog, false);
        dialog.show();
        auto *view = dialog.findChild<QListView *>(QStringLiteral("listView"));
        QVERIFY(view);
        QStringList shown;
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                shown.clear();
                const QModelIndex root = view->rootIndex();
                for (int r = 0; r < view->model()->rowCount(root); ++r)
                    shown << view->model()->index(r, 0, root).data().toString();
                return shown.contains("a.ccf");
            }(),
            5000);
        shown.sort();
        QCOMPARE(shown.filter(QRegularExpression("^[a-d]\\.")),
                 QStringList({"a.ccf", "b.CCF", "c.Ccf"}));
        dialog.reject();
    }

    void aboutShowsVersionAndCloses_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
    }
    void aboutShowsVersionAndCloses() {
        QFETCH(int, key);
        frmMain &w = load();
        QString version;
        QTimer::singleShot(0, [&] {
            if (auto *about = qobject_cast<frmAbout *>(QApplication::activeModalWidget()))
                version = about->windowTitle() + "|" + about->lblVersion->text();
            QTest::keyClick(QApplication::activeModalWidget(), Qt::Key(key));
        });
        w.mnuHelpAbout->trigger(); // returns once About has closed
        QCOMPARE(version, QStringLiteral("About Information|Version 1.0.4"));
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
