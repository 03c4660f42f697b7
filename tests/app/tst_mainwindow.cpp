#include "frmabout.h"
#include "frmmain.h"
#include "settings.h"
#include "windowtest.h"

#include <QAction>
#include <QDir>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QListView>
#include <QMenu>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QStandardPaths>
#include <QStatusTipEvent>
#include <QTemporaryDir>
#include <QTimer>
#include <QToolBar>
#include <QtTest>
#include <memory>

namespace {

QSettings &store() {
    static QSettings s(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Stowline"),
                       QStringLiteral("Stowline"));
    return s;
}

} // namespace

class MainWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<ScriptedDialogs> dialogs_;
    std::unique_ptr<frmMain> window_;

    // A fresh window, loaded from the store as it stands.
    frmMain &load() {
        store().sync();
        window_ = std::make_unique<frmMain>(dialogs_.get());
        window_->Form_Load();
        return *window_;
    }

private slots:
    // Never the user's own settings, also when run outside the test runner.
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init() {
        store().clear();
        store().sync();
        dialogs_ = std::make_unique<ScriptedDialogs>();
    }
    void cleanup() { window_.reset(); }

    void startsEmptyAndIdle() {
        frmMain &w = load();
        QCOMPARE(w.windowTitle(), QStringLiteral("Tessaline - Stowline"));
        QCOMPARE(w.minimumSize(), w.maximumSize());
        QCOMPARE(w.ConfigStatus->text(), QStringLiteral("Empty"));
        QCOMPARE(w.FileStatus->text(), QStringLiteral("None"));
        QCOMPARE(w.image.ConfigLength, 0);
        QCOMPARE(w.image.ControllerType, qint16(0));
        QVERIFY(w.image.ConfigData.isEmpty());
        checkIdle(w);
        QCOMPARE(w.GetSelectedPort(), qint16(1));
        QCOMPARE(w.ProgressBar->maximum(), 100);
    }

    void controlsSitWhereDesigned_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("clientRect"); // pixels, relative to the client area
        QTest::newRow("Progress") << "Progress" << QRect(24, 48, 57, 17);
        QTest::newRow("ProgressBar") << "ProgressBar" << QRect(24, 64, 337, 17);
        QTest::newRow("File") << "File" << QRect(24, 88, 337, 41);
        QTest::newRow("CntrlConfig") << "CntrlConfig" << QRect(24, 136, 337, 41);
        QTest::newRow("FileStatus") << "FileStatus" << QRect(32, 104, 321, 17);
        QTest::newRow("ConfigStatus") << "ConfigStatus" << QRect(32, 152, 321, 17);
    }
    void controlsSitWhereDesigned() {
        QFETCH(QString, name);
        QFETCH(QRect, clientRect);
        frmMain &w = load();
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        auto *control = w.findChild<QWidget *>(name);
        QVERIFY(control);
        const int clientTop = w.menuBar()->geometry().bottom() + 1;
        const QPoint topLeft = control->mapTo(&w, QPoint(0, 0)) - QPoint(0, clientTop);
        QCOMPARE(QRect(topLeft, control->size()), clientRect);
        QCOMPARE(w.height() - clientTop, 213);
        QCOMPARE(w.width(), 390);
        QCOMPARE(w.tbToolBar->height(), 28);
        QCOMPARE(w.tbToolBar->mapTo(&w, QPoint(0, 0)).y(), clientTop);
    }

    void menusAndFramesCarryTheirCaptions() {
        frmMain &w = load();
        QCOMPARE(w.FileStatus->parentWidget(), w.File);
        QCOMPARE(w.ConfigStatus->parentWidget(), w.CntrlConfig);
        QCOMPARE(w.File->title(), QStringLiteral("File"));
        QCOMPARE(w.CntrlConfig->title(), QStringLiteral("Controller Configuration Buffer"));
        QStringList bar;
        for (QAction *a : w.menuBar()->actions())
            bar << a->text();
        QCOMPARE(bar, QStringList({"&File", "&Actions", "&Settings", "&Help"}));
        auto captions = [](QMenu *m) {
            QStringList out;
            for (QAction *a : m->actions())
                out << a->text();
            return out;
        };
        QCOMPARE(captions(w.mnuFile), QStringList({"&Open", "&Save", "E&xit"}));
        QCOMPARE(captions(w.mnuActions), QStringList({"&Backup", "&Restore"}));
        QCOMPARE(captions(w.mnuSettings), QStringList({"&Port"}));
        QCOMPARE(captions(w.mnuComPorts),
                 QStringList({"Com &1", "Com &2", "Com &3", "Com &4", "", "Choose &Device\u2026"}));
        QCOMPARE(captions(w.mnuHelp), QStringList({"&About "}));
        for (QMenu *m : {w.mnuFile, w.mnuActions, w.mnuComPorts, w.mnuHelp})
            for (QAction *a : m->actions())
                QVERIFY2(a->shortcut().isEmpty(), qPrintable(a->text()));
    }

    void toolbarHoldsFiveButtonsInOrder() {
        frmMain &w = load();
        const QList<QAction *> buttons = w.tbToolBar->actions();
        QCOMPARE(buttons.size(), 5);
        const QStringList keys = {"Open", "Save", "Seperator", "Backup", "Restore"};
        const QStringList tips = {"Open Controller Configuration from file",
                                  "Save Controller Configuration to file", QString(),
                                  "Backup Configuration from the Controller",
                                  "Restore Configuration to the Controller"};
        for (int i = 0; i < 5; ++i) {
            QCOMPARE(buttons[i]->data().toString(), keys[i]);
            if (i == 2) {
                QVERIFY(buttons[i]->isSeparator());
                continue;
            }
            QCOMPARE(buttons[i]->text(), keys[i]);
            QCOMPARE(buttons[i]->toolTip(), tips[i]);
            QVERIFY(!buttons[i]->icon().pixmap(16, 16).isNull());
        }
        QCOMPARE(buttons[0], w.OpenButton);
        QCOMPARE(buttons[4], w.RestoreButton);
    }

    void statusLineSurvivesMenuHover() {
        frmMain &w = load();
        w.show();
        w.setStatus(QStringLiteral("Validating Checksum"));
        w.mnuOpen->setStatusTip(QString());
        w.mnuFile->popup(QPoint(0, 0));
        w.mnuOpen->hover();
        w.mniCom[2]->hover();
        QStatusTipEvent blank{QString()};
        QCoreApplication::sendEvent(&w, &blank);
        QCOMPARE(w.sbStatusBar->text(), QStringLiteral("Validating Checksum"));
        QVERIFY(w.sbStatusBar->isVisible());
        w.mnuFile->hide();
    }

    void settingsAtLoad_data() {
        QTest::addColumn<QStringList>("stored"); // key=value pairs
        QTest::addColumn<QList<bool>>("checked");
        QTest::addColumn<int>("port");
        QTest::addColumn<QPoint>("position");
        QTest::newRow("empty store")
            << QStringList() << QList<bool>{true, false, false, false} << 1 << QPoint(67, 67);
        QTest::newRow("all ports false")
            << QStringList{"Com1=False", "Com2=False", "Com3=False", "Com4=False"}
            << QList<bool>{false, false, false, false} << 0 << QPoint(67, 67);
        QTest::newRow("com2 and com4")
            << QStringList{"Com1=False", "Com2=True", "Com4=True"}
            << QList<bool>{false, true, false, true} << 4 << QPoint(67, 67);
        QTest::newRow("placement")
            << QStringList{"MainLeft=1500", "MainTop=3000"}
            << QList<bool>{true, false, false, false} << 1 << QPoint(100, 200);
        QTest::newRow("numeric truth")
            << QStringList{"Com1=0", "Com3=-1"} << QList<bool>{false, false, true, false} << 3
            << QPoint(67, 67);
    }
    void settingsAtLoad() {
        QFETCH(QStringList, stored);
        QFETCH(QList<bool>, checked);
        QFETCH(int, port);
        QFETCH(QPoint, position);
        store().beginGroup(QStringLiteral("Settings"));
        for (const QString &pair : stored)
            store().setValue(pair.section(QLatin1Char('='), 0, 0),
                             pair.section(QLatin1Char('='), 1));
        store().endGroup();
        frmMain &w = load();
        for (int i = 0; i < 4; ++i)
            QCOMPARE(w.mniCom[i]->isChecked(), checked[i]);
        QCOMPARE(w.GetSelectedPort(), qint16(port));
        QCOMPARE(w.pos(), position);
    }

    void portItemKeepsExactlyOneChecked() {
        store().setValue(QStringLiteral("Settings/Com2"), QStringLiteral("True"));
        store().setValue(QStringLiteral("Settings/Com4"), QStringLiteral("True"));
        frmMain &w = load();
        for (int round = 0; round < 2; ++round) {
            w.mniCom[2]->trigger();
            for (int i = 0; i < 4; ++i)
                QCOMPARE(w.mniCom[i]->isChecked(), i == 2);
            QCOMPARE(w.GetSelectedPort(), qint16(3));
        }
        QCOMPARE(w.sbStatusBar->text(), QStringLiteral("Waiting for Command"));
    }

    void portItemsShowTheirDevice() {
        qputenv("STOWLINE_COM2", "/dev/pts/test-device");
        frmMain &w = load();
        qunsetenv("STOWLINE_COM2");
#ifdef Q_OS_WIN
        QCOMPARE(w.mniCom[0]->toolTip(), QStringLiteral("COM1"));
#else
        // With the description of a port the machine lists, or marked when nothing is there.
        QVERIFY(w.mniCom[0]->toolTip().startsWith(QStringLiteral("/dev/ttyS0")));
        QCOMPARE(w.mniCom[1]->toolTip(), QStringLiteral("/dev/pts/test-device (absent)"));
#endif
        QVERIFY(w.mnuComPorts->toolTipsVisible());
        QVERIFY(w.mniCom[1]->statusTip().isEmpty());
    }

    void minimisedUnloadKeepsPlacement() {
        store().setValue(QStringLiteral("Settings/MainLeft"), QStringLiteral("1234"));
        frmMain &w = load();
        w.show();
        w.showMinimized();
        QTRY_VERIFY(w.isMinimized());
        w.close();
        store().sync();
        QCOMPARE(store().value(QStringLiteral("Settings/MainLeft")).toString(),
                 QStringLiteral("1234"));
        QCOMPARE(store().value(QStringLiteral("Settings/Com1")).toString(), QStringLiteral("True"));
    }

    void toolbarRunsTheMenuCommand_data() {
        QTest::addColumn<int>("button");
        QTest::addColumn<QString>("asked");
        QTest::newRow("Open") << 0 << "open:Open Controller Configuration";
        QTest::newRow("Seperator") << 2 << "";
    }
    void toolbarRunsTheMenuCommand() {
        QFETCH(int, button);
        QFETCH(QString, asked);
        frmMain &w = load();
        w.tbToolBar_ButtonClick(w.tbToolBar->actions().at(button));
        QCOMPARE(dialogs_->asked.isEmpty() ? QString() : dialogs_->asked.first().section('|', 0, 0),
                 asked);
        QCOMPARE(w.sbStatusBar->text(), QStringLiteral("Waiting for Command"));
    }

    void openThenSaveIsByteIdentical() {
        QTemporaryDir dir;
        const QByteArray bytes = randomBytes(kSecondGenerationLength);
        const QString source = dir.filePath(QStringLiteral("image.SAV"));
        const QString target = dir.filePath(QStringLiteral("copy.SAV"));
        QVERIFY(writeAll(source, bytes));
        frmMain &w = load();
        dialogs_->fileAnswers << source << target;
        w.mnuOpen->trigger();
        QCOMPARE(w.ConfigStatus->text(), QStringLiteral("186368 bytes"));
        QCOMPARE(w.FileStatus->text(), source.right(60));
        checkIdle(w);
        w.SaveButton->trigger();
        QCOMPARE(dialogs_->asked,
                 QStringList({"open:Open Controller Configuration|Controller Configuration Files "
                              "(*.CCF);;Controller Configuration Files(*.sav)",
                              "save:Save Controller Configuration|Controller Configuration Files "
                              "(*.CCF)"}));
        QCOMPARE(readAll(target), bytes);
        checkIdle(w);
    }

    void oneByteImageNeverShowsABusyBar() {
        QTemporaryDir dir;
        QVERIFY(writeAll(dir.filePath(QStringLiteral("one.CCF")), "x"));
        frmMain &w = load();
        dialogs_->fileAnswers << dir.filePath(QStringLiteral("one.CCF"));
        w.mnuOpen_Click();
        QCOMPARE(w.image.ConfigLength, 1);
        QVERIFY(w.ProgressBar->maximum() > w.ProgressBar->minimum());
    }

    void fileDialogMatchesAnyLetterCase() {
        QCOMPARE(toQtNameFilters(QStringLiteral("Images|*.img")), QStringLiteral("Images (*.img)"));
        QTemporaryDir dir;
        for (const char *name : {"a.ccf", "b.CCF", "c.Ccf", "d.txt"}) {
            QFile f(dir.filePath(QLatin1String(name)));
            QVERIFY(f.open(QIODevice::WriteOnly));
        }
        QFileDialog dialog(nullptr, QStringLiteral("Open"), dir.path(),
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
                return shown.size() >= 3;
            }(),
            5000);
        shown.sort();
        QCOMPARE(shown, QStringList({"a.ccf", "b.CCF", "c.Ccf"}));
        dialog.reject();
    }

    void aboutShowsVersionAndMaker() {
        frmMain &w = load();
        frmAbout about(&w);
        QCOMPARE(about.windowTitle(), QStringLiteral("About Information"));
        QCOMPARE(about.lblVersion->text(), QStringLiteral("Version 1.0.4"));
        QCOMPARE(about.Label6->text(), QStringLiteral("Stowline"));
        QCOMPARE(about.Label1->text(), QStringLiteral("Vellmore"));
        QCOMPARE(about.size(), QSize(318, 207));
        QCOMPARE(about.picIcon->size(), QSize(104, 24));
        QCOMPARE(about.picIcon->pixmap().deviceIndependentSize().toSize(), QSize(104, 24));
        // The five maker lines share one centre line.
        for (QLabel *l : {about.Label1, about.Label2, about.Label3, about.Label4, about.Label5})
            QVERIFY(qAbs(l->geometry().center().x() - 232) <= 1);
        QVERIFY(about.cmdOK->isDefault());
        QCOMPARE(versionText(12, 345, 10000), QStringLiteral("Version 12.345.10000"));
    }

    void aboutClosesOnEnterAndEsc_data() {
        QTest::addColumn<int>("key");
        QTest::newRow("Enter") << int(Qt::Key_Return);
        QTest::newRow("Esc") << int(Qt::Key_Escape);
    }
    void aboutClosesOnEnterAndEsc() {
        QFETCH(int, key);
        frmMain &w = load();
        w.show();
        bool shown = false;
        QTimer::singleShot(0, [&] {
            auto *about = qobject_cast<frmAbout *>(QApplication::activeModalWidget());
            shown = about != nullptr;
            QTest::keyClick(QApplication::activeModalWidget(), Qt::Key(key));
        });
        w.mnuHelpAbout->trigger(); // returns once About has closed
        QVERIFY(shown);
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
    }
};

QTEST_MAIN(MainWindowTest)
#include "tst_mainwindow.moc"
