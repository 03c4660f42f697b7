// The window as a user meets it: what it shows, what it keeps between runs, its file dialogs,
// file label and pictures, and the question before an unsaved backup is replaced.
#include "link/qtserialport.h"
#include "window/artwork.h"
#include "window/dialogs.h"
#include "window/filelabel.h"
#include "window/placement.h"
#include "windowtest.h"

#include <QFileDialog>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QStatusTipEvent>

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
    std::unique_ptr<MainWindow> window_;
    QTemporaryDir dir_;

    // A fresh window, loaded from the store as it stands.
    MainWindow &load() {
        window_ = std::make_unique<MainWindow>(dialogs_.get());
        // The machine's own ports never show in these tests.
        window_->setPortInventory([] {
            return QList<SerialPortEntry>{{"/dev/ttyS2", "Test port", {}, {}, 0, 0, {}}};
        });
        window_->load();
        window_->show();
        return *window_;
    }
    // Holds `bytes` as a Backup from a simulated controller leaves them, or as a drop of `file`.
    bool hold(MainWindow &w, const QByteArray &bytes, const char *file = nullptr) {
        if (file)
            return writeAll(dir_.filePath(file), bytes) && dropFile(&w, dir_.filePath(file));
        struct Controller : FakePort {
            SimLink link;
            explicit Controller(const QByteArray &bytes) : link(*this, {}, bytes) {}
        };
        auto *thread = w.findChild<TransferThread *>();
        thread->setPortFactory([bytes] { return std::make_unique<Controller>(bytes); });
        const bool ended = runToEnd(w, "backupAction");
        thread->setPortFactory([] { return std::make_unique<QtSerialPort>(); });
        return ended && heldImage(w) == bytes && w.image().unsavedBackup;
    }

private slots:
    // Never the user's own settings, also when run outside the test runner.
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath("config")));
        // A Backup that goes ahead ends at once with the port's box.
        qputenv("STOWLINE_COM1", "/dev/stowline-no-such-device");
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
        row("MainWindow", "Tessaline - Stowline", true, true);
        row("fileMenu", "&File", true, true);
        row("openAction", "&Open", true, true);
        row("saveAction", "&Save", false, true);
        row("exitAction", "E&xit", true, true);
        row("actionsMenu", "&Actions", true, true);
        row("backupAction", "&Backup", true, true);
        row("restoreAction", "&Restore", false, true);
        row("settingsMenu", "&Settings", true, true);
        row("portMenu", "&Port", true, true);
        row("port3Action", "Com &3|/dev/ttyS2 — Test port", true, true);
        row("chooseDeviceAction", "Choose &Device…", true, true);
        row("helpMenu", "&Help", true, true);
        row("aboutAction", "&About ", true, true);
        row("openButton", "Open|Open Controller Configuration from file", true, true);
        row("saveButton", "Save|Save Controller Configuration to file", false, true);
        row("backupButton", "Backup|Backup Configuration from the Controller", true, true);
        row("restoreButton", "Restore|Restore Configuration to the Controller", false, true);
        row("stopButton", "Stop|Stop the transfer with the Controller", false, false);
        row("stopAction", "&Stop", false, false);
        row("openSnapshotAction", "Open &Snapshot…", true, true);
        row("verifyAfterRestoreAction", "&Verify after Restore", true, true);
        row("backupBeforeRestoreAction", "Back up before &Restore", true, true);
        row("fileBox", "File", true, true);
        row("bufferBox", "Controller Configuration Buffer", true, true);
        row("bufferLabel", "Empty|3 bytes", true, true);
        row("statusLine", "Waiting for Command", true, true);
    }
    void whatTheUserSees() {
        QFETCH(QString, name);
        QFETCH(QString, text);
        QFETCH(bool, enabledEmpty);
        QFETCH(bool, enabledHeld);
        MainWindow &w = load();
        QObject *object = name == "MainWindow" ? &w : w.findChild<QObject *>(name);
        QVERIFY(object);
        QCOMPARE(object->property("enabled").toBool(), enabledEmpty);
        QCOMPARE(shownText(object), text.section('|', 0, name == "bufferLabel" ? 0 : 1));
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QCOMPARE(w.height() - w.menuBar()->geometry().bottom() - 1, 213);
        QCOMPARE(w.width(), 390);
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QVERIFY(child(w, "openAction")->shortcut().isEmpty());

        QVERIFY(writeAll(dir_.filePath("held.CCF"), "abc"));
        dialogs_->fileAnswers << dir_.filePath("held.CCF");
        child(w, "openAction")->trigger();
        QCOMPARE(object->property("enabled").toBool(), enabledHeld);
        if (name == "bufferLabel")
            QCOMPARE(shownText(object), text.section('|', 1));
        checkIdle(w);
    }

    void storedSettings_data() {
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<int>("port"); // the one port marked at load; 0: none
        QTest::addColumn<QPoint>("position");
        const QByteArray stored = "[Settings]\nMainLeft=1500\nMainTop=3000\nMainWidth=6000\n"
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
        MainWindow &w = load();
        const QList<QAction *> ports = child<QMenu>(w, "portMenu")->actions(); // Com 1 to 4 first
        for (int i = 0; i < 4; ++i)
            QCOMPARE(ports[i]->isChecked(), i + 1 == port);
        QCOMPARE(w.selectedPort(), qint16(port));
        QCOMPARE(w.pos(), position);
        // Choosing a port marks it alone, also when chosen again.
        for (int round = 0; round < 2; ++round)
            child(w, "port2Action")->trigger();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(ports[i]->isChecked(), i == 1);
        const bool verify = contents.contains("VerifyAfterRestore=True");
        QCOMPARE(child(w, "verifyAfterRestoreAction")->isChecked(), verify);
        QVERIFY(!child(w, "backupBeforeRestoreAction")->isChecked());
        child(w, "backupBeforeRestoreAction")->trigger();
        child(w, "exitAction")->trigger();
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

    // Save offers the generation's own files first and adds its extension to a bare name; Open
    // also offers all files; both open where the last file was chosen, also in the next run.
    void fileDialogsRememberTheFolder() {
        const QString folder = dir_.filePath("sub");
        QVERIFY(QDir().mkpath(folder));
        MainWindow &w = load();
        QVERIFY(hold(w, randomBytes(1000), "held.SAV"));
        dialogs_->fileAnswers << folder + "/plain";
        child(w, "saveButton")->trigger();
        QCOMPARE(readAll(folder + "/plain.SAV"), heldImage(w));
        QCOMPARE(filterExtension(dialogs_->asked.first().section('|', 1)), QStringLiteral("SAV"));
        child(w, "openAction")->trigger(); // cancelled
        QVERIFY(dialogs_->asked.last().endsWith(";;All files (*)"));
        w.close();
        child(load(), "openButton")->trigger();
        QCOMPARE(dialogs_->folders, QStringList({QString(), folder, folder}));
    }

    // Qt's own dialog lists a pattern's files in any letter case and adds the first
    // filter's extension to a bare name.
    void qtFileDialog() {
        for (const char *name : {"a.sav", "b.SAV", "c.Sav", "d.txt"})
            QVERIFY(writeAll(dir_.filePath(QLatin1String(name)), "x"));
        QFileDialog dialog(nullptr, QStringLiteral("Save"), dir_.path(),
                           toQtNameFilters("Files (*.SAV) | *.SAV|Files (*.CCF) | *.CCF"));
        prepareFileDialog(dialog, true);
        QCOMPARE(dialog.defaultSuffix(), QStringLiteral("SAV"));
        QCOMPARE(filterExtension("All files (*)"), QString());
        dialog.show();
        auto *view = dialog.findChild<QListView *>(QStringLiteral("listView"));
        QVERIFY(view);
        const auto listed = [view] {
            QStringList shown;
            for (int r = 0; r < view->model()->rowCount(view->rootIndex()); ++r)
                shown << view->model()->index(r, 0, view->rootIndex()).data().toString();
            shown.sort();
            return shown.filter(QRegularExpression("^[a-d]\\."));
        };
        QTRY_COMPARE_WITH_TIMEOUT(listed(), QStringList({"a.sav", "b.SAV", "c.Sav"}), 5000);
        dialog.reject();
    }

    // The label reads the path's last 60 characters, paints the whole file name, and names
    // the full path in its tooltip.
    void fileLabel_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("width"); // 0: as designed
        QTest::addColumn<bool>("elided");
        const QString longName = QString(70, QLatin1Char('n')) + ".CCF";
        QTest::newRow("short name, design width") << "a.CCF" << 0 << true;
        QTest::newRow("name of 74 characters, wide label") << longName << 2000 << false;
        QTest::newRow("name wider than the label") << longName << 120 << true;
    }
    void fileLabel() {
        QFETCH(QString, name);
        QFETCH(int, width);
        QFETCH(bool, elided);
        MainWindow &w = load();
        auto *label = child<FileLabel>(w, "fileLabel");
        QCOMPARE(label->shownText(), QStringLiteral("None"));
        QCOMPARE(label->toolTip(), QString());
        if (width)
            label->setFixedWidth(width);
        const QString folder = dir_.filePath(QString(40, 'd') + "/" + QString(40, 'e'));
        const QString path = folder + "/" + name;
        QVERIFY(QDir().mkpath(folder) && writeAll(path, "x"));
        w.openFile(path);
        QCOMPARE(label->text(), path.right(60));
        QCOMPARE(label->accessibleName(), path.right(60));
        QCOMPARE(label->toolTip(), QDir::toNativeSeparators(path));
        const QString shown = label->shownText();
        QCOMPARE(shown.startsWith(QChar(0x2026)), elided);
        if (name.size() < 20 || !elided)
            QVERIFY2(shown.endsWith(name), qPrintable(shown));
        QVERIFY(label->fontMetrics().horizontalAdvance(shown) <= label->contentsRect().width());
    }

    void titleBarReachable_data() {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<bool>("reachable");
        // Two screens side by side, 1280 x 800 and 1024 x 768.
        QTest::newRow("title bar above the screens") << QRect(100, -30, 390, 257) << false;
        QTest::newRow("20 pixels of it") << QRect(100, -10, 390, 257) << true;
        QTest::newRow("only 99 pixels at the right edge") << QRect(2205, 100, 390, 257) << false;
        QTest::newRow("100 pixels at the right edge") << QRect(2204, 100, 390, 257) << true;
        QTest::newRow("body on screen, title bar below it") << QRect(100, 790, 390, 257) << false;
        QTest::newRow("under the second screen") << QRect(1400, 770, 390, 257) << false;
        QTest::newRow("no width") << QRect(100, 100, 0, 257) << false;
    }
    void titleBarReachable() {
        QFETCH(QRect, frame);
        QFETCH(bool, reachable);
        const QList<QRect> screens{QRect(0, 0, 1280, 800), QRect(1280, 0, 1024, 768)};
        QCOMPARE(::titleBarReachable(frame, 30, screens), reachable);
    }

    // The maker's name ends inside the badge, and a disabled button's picture is grey and
    // faded, at both scales.
    void pictures() {
        for (int dpr : {1, 2}) {
            const QImage logo = Artwork::makerLogo(dpr).toImage();
            QCOMPARE(logo.size(), QSize(104, 24) * dpr);
            const QRgb badge = logo.pixel(logo.width() - 2 * dpr, logo.height() / 2);
            for (int x = logo.width() - 4 * dpr; x < logo.width() - dpr; ++x)
                for (int y = 4 * dpr; y < logo.height() - 4 * dpr; ++y)
                    QVERIFY2(logo.pixel(x, y) == badge, qPrintable(QString("%1,%2").arg(x).arg(y)));
        }
        for (const char *key : {"Open", "Save", "Backup", "Restore"})
            for (int size : {16, 32}) {
                const QIcon icon = Artwork::toolbarIcon(QLatin1String(key));
                const QImage off = icon.pixmap(size, QIcon::Disabled)
                                       .toImage()
                                       .convertToFormat(QImage::Format_ARGB32);
                QCOMPARE(off.size(), icon.pixmap(size, QIcon::Normal).size());
                for (int y = 0; y < off.height(); ++y)
                    for (int x = 0; x < off.width(); ++x) {
                        const QRgb px = off.pixel(x, y);
                        QVERIFY(qRed(px) == qGreen(px) && qGreen(px) == qBlue(px));
                        QVERIFY(qAlpha(px) <= 128);
                    }
            }
    }

    // Exit, Open, a drop and Backup ask before they drop an image read from a controller that was
    // neither saved nor restored since; an image opened from a file is never asked about.
    void unsavedBackupQuestion_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("fromController"); // else opened from a file
        QTest::addColumn<QString>("answer");
        QTest::addColumn<QString>("saveTo"); // the Save dialog's answer; empty: Cancel
        QTest::addColumn<QString>("asked");  // the boxes and dialogs shown, in order
        const auto row = [](const char *tag, const char *command, bool fromController,
                            const char *answer, const char *saveTo, const char *asked) {
            QTest::newRow(tag) << command << fromController << answer << saveTo << asked;
        };
        row("Exit, Yes, saved", "exitAction", true, "Yes", "kept.CCF", "question save closed");
        row("Exit, Yes, Save cancelled", "exitAction", true, "Yes", "", "question save");
        row("Exit, Cancel", "exitAction", true, "Cancel", "", "question");
        row("Open, Yes, saved", "openButton", true, "Yes", "kept", "question save open");
        row("Open, No", "openButton", true, "No", "", "question open");
        row("Open, Cancel", "openButton", true, "Cancel", "", "question");
        row("Drop, Yes, saved", "drop", true, "Yes", "kept", "question save");
        row("Drop, No", "drop", true, "No", "", "question");
        row("Drop, Cancel", "drop", true, "Cancel", "", "question");
        row("Backup, No", "backupButton", true, "No", "", "question warning");
        row("Backup, Cancel", "backupButton", true, "Cancel", "", "question");
        row("Exit, opened image", "exitAction", false, "Cancel", "", "closed");
    }
    void unsavedBackupQuestion() {
        QFETCH(QString, command);
        QFETCH(bool, fromController);
        QFETCH(QString, answer);
        QFETCH(QString, saveTo);
        QFETCH(QString, asked);
        QTemporaryDir dir;
        MainWindow &w = load();
        const QByteArray bytes = randomBytes(500, 7);
        QVERIFY(hold(w, bytes, fromController ? nullptr : "held.CCF"));
        const qsizetype answerIndex = QStringList({"Yes", "No", "Cancel"}).indexOf(answer);
        dialogs_->yesNoCancelAnswers << Dialogs::Answer(answerIndex);
        dialogs_->fileAnswers << (saveTo.isEmpty() ? QString() : dir.filePath(saveTo));
        const QString dropped = dir.filePath("dropped.CCF"); // holds the first 300 bytes
        if (command == "drop")
            QVERIFY(writeAll(dropped, bytes.left(300)) && dropFile(&w, dropped));
        else
            QVERIFY(runToEnd(w, qPrintable(command)));

        QStringList shown;
        for (const QString &line : dialogs_->asked)
            shown << line.section(':', 0, 0).replace("yesNoCancel", "question");
        if (!w.isVisible())
            shown << "closed";
        QCOMPARE(shown.join(' '), asked);
        if (fromController)
            QCOMPARE(dialogs_->asked.first(),
                     "yesNoCancel:Stowline|The configuration read from the controller has not "
                     "been saved. Save it now?");
        if (!saveTo.isEmpty()) // a name typed without an extension gets one
            QCOMPARE(readAll(dir.filePath("kept.CCF")), bytes);
        if (shown == QStringList{"question"} || command == "drop") // called off, or dropped
            QCOMPARE(heldImage(w), answer == "Cancel" ? bytes : bytes.left(300));
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
