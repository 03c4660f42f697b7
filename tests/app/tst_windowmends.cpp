// What a user expects of the window beyond its commands: file dialogs that offer the image's
// own kind of file and open where the last file was, a file label that always shows the file's
// name, a window that cannot be restored out of reach, and pictures that are whole and show
// when a button is off.
#include "artwork.h"
#include "dialogs.h"
#include "filelabel.h"
#include "frmabout.h"
#include "placement.h"
#include "windowtest.h"

#include <QDir>
#include <QFileDialog>
#include <QSettings>
#include <QTemporaryDir>

class WindowMendsTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }

    // Save offers the generation's extension first and adds it to a bare name; both dialogs
    // open where the last file was chosen, also in the next run.
    void fileDialogs_data() {
        QTest::addColumn<qint16>("type");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::addColumn<QString>("firstFilter");
        QTest::newRow("first generation, bare name") << qint16(1) << "plain"
                                                     << "plain.CCF"
                                                     << "CCF";
        QTest::newRow("second generation, bare name") << qint16(2) << "plain"
                                                      << "plain.SAV"
                                                      << "SAV";
        QTest::newRow("second generation, own extension") << qint16(2) << "name.bin"
                                                          << "name.bin"
                                                          << "SAV";
    }
    void fileDialogs() {
        QFETCH(qint16, type);
        QFETCH(QString, typed);
        QFETCH(QString, written);
        QFETCH(QString, firstFilter);
        QSettings(QSettings::NativeFormat, QSettings::UserScope, "Stowline", "Stowline").clear();
        QTemporaryDir dir;
        const QString folder = dir.filePath("sub");
        QVERIFY(QDir().mkpath(folder));
        ScriptedDialogs dialogs;
        {
            frmMain w(&dialogs);
            w.Form_Load();
            w.show();
            w.image.ConfigData = QByteArray(1, '\0') + randomBytes(1000);
            w.image.ConfigLength = 1000;
            w.image.ControllerType = type;
            w.SetIdleState();
            dialogs.fileAnswers << folder + "/" + typed;
            w.mnuSave->trigger();
            QCOMPARE(readAll(folder + "/" + written), w.image.ConfigData.mid(1));
            QCOMPARE(filterExtension(dialogs.asked.first().section('|', 1)), firstFilter);
            w.mnuOpen->trigger(); // cancelled
            QVERIFY(dialogs.asked.last().endsWith(";;All files (*)"));
            w.close();
        }
        frmMain next(&dialogs);
        next.Form_Load();
        next.mnuOpen->trigger();
        QCOMPARE(dialogs.folders, QStringList({QString(), folder, folder}));
        QCOMPARE(dialogs.warnings(), QStringList());
    }

    void saveDialogAddsTheChosenExtension() {
        QFileDialog dialog(nullptr, QString(), QString(),
                           toQtNameFilters("Files (*.SAV) | *.SAV|Files (*.CCF) | *.CCF"));
        prepareFileDialog(dialog, true);
        QCOMPARE(dialog.defaultSuffix(), QStringLiteral("SAV"));
        QCOMPARE(filterExtension("All files (*)"), QString());
    }

    // The label reads the path's last 60 characters, paints the whole file name, and names
    // the full path in its tooltip.
    void fileLabel_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("width");
        QTest::addColumn<bool>("elided");
        const QString longName = QString(70, QLatin1Char('n')) + ".CCF";
        QTest::newRow("short name, wide label") << "a.CCF" << 2000 << false;
        QTest::newRow("short name, design width") << "a.CCF" << 0 << true;
        QTest::newRow("name of 74 characters, wide label") << longName << 2000 << false;
        QTest::newRow("name wider than the label") << longName << 120 << true;
    }
    void fileLabel() {
        QFETCH(QString, name);
        QFETCH(int, width);
        QFETCH(bool, elided);
        ScriptedDialogs dialogs;
        frmMain w(&dialogs);
        w.Form_Load();
        if (width)
            w.FileStatus->setFixedWidth(width);
        const QString path = QDir::tempPath() + "/" + QString(40, QLatin1Char('d')) + "/" +
                             QString(40, QLatin1Char('e')) + "/" + name;
        w.setFilePath(path);
        QCOMPARE(w.FileStatus->text(), path.right(60));
        QCOMPARE(w.FileStatus->accessibleName(), path.right(60));
        QCOMPARE(w.FileStatus->toolTip(), QDir::toNativeSeparators(path));
        const QString shown = w.FileStatus->shownText();
        QCOMPARE(shown.startsWith(QChar(0x2026)), elided);
        if (name.size() < 20 || !elided)
            QVERIFY2(shown.endsWith(name), qPrintable(shown));
        QVERIFY(w.FileStatus->fontMetrics().horizontalAdvance(shown) <=
                w.FileStatus->contentsRect().width());
        w.setFileStatus("None");
        QCOMPARE(w.FileStatus->shownText(), QStringLiteral("None"));
        QCOMPARE(w.FileStatus->toolTip(), QString());
    }

    void titleBarReachable_data() {
        QTest::addColumn<QRect>("frame");
        QTest::addColumn<bool>("reachable");
        // Two screens side by side, 1280 x 800 and 1024 x 768.
        QTest::newRow("default place") << QRect(66, 66, 390, 257) << true;
        QTest::newRow("on the second screen") << QRect(1500, 300, 390, 257) << true;
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

    // The maker's name ends inside the badge: its last columns hold the badge's colour only.
    void logoNotClipped() {
        for (int dpr : {1, 2}) {
            const QImage logo = Artwork::makerLogo(dpr).toImage();
            QCOMPARE(logo.size(), QSize(104, 24) * dpr);
            const QRgb badge = logo.pixel(logo.width() - 2 * dpr, logo.height() / 2);
            for (int x = logo.width() - 4 * dpr; x < logo.width() - dpr; ++x)
                for (int y = 4 * dpr; y < logo.height() - 4 * dpr; ++y)
                    QVERIFY2(logo.pixel(x, y) == badge, qPrintable(QString("%1,%2").arg(x).arg(y)));
        }
    }

    // A disabled toolbar button shows a grey, faded picture, at both scales.
    void disabledButtonsLookDisabled() {
        for (const char *key : {"Open", "Save", "Backup", "Restore"}) {
            const QIcon icon = Artwork::toolbarIcon(QLatin1String(key));
            for (int size : {16, 32}) {
                const QImage on = icon.pixmap(size, QIcon::Normal).toImage();
                const QImage off = icon.pixmap(size, QIcon::Disabled)
                                       .toImage()
                                       .convertToFormat(QImage::Format_ARGB32);
                QCOMPARE(off.size(), on.size());
                for (int y = 0; y < off.height(); ++y)
                    for (int x = 0; x < off.width(); ++x) {
                        const QRgb px = off.pixel(x, y);
                        QVERIFY(qRed(px) == qGreen(px) && qGreen(px) == qBlue(px));
                        QVERIFY(qAlpha(px) <= 128);
                    }
            }
        }
    }
};

QTEST_MAIN(WindowMendsTest)
#include "tst_windowmends.moc"
