// A file named at start (`stowline FILE`) or dropped on the window goes through Open: same
// checks, same texts. Drops are refused while a transfer runs.
#include "configfile.h"
#include "faultmatrix.h"
#include "module1.h"

#include <QDropEvent>
#include <QMimeData>
#include <QTimer>
#include <QUrl>

namespace {

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

class OpenAtStartTest : public QObject {
    Q_OBJECT

private slots:
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
        checkIdle(*w, false);
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
        checkIdle(*s.window, false);

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
};

QTEST_MAIN(OpenAtStartTest)
#include "tst_openatstart.moc"
