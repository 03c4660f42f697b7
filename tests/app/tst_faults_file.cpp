// File faults through the window's Open and Save: one box that says why, an idle window with
// the bar at rest, the image and both labels as they were, and a previous file that a failed
// Save leaves as it was.
#include "windowtest.h"

#include <QDir>
#include <QTemporaryDir>
#include <csignal>
#include <functional>
#include <sys/resource.h>
#include <utility>

namespace {

// Runs a step once, at the next repaint: the one Open asks for after it has taken the size.
class OnRepaint : public QObject {
public:
    std::function<void()> step;

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint && step)
            std::exchange(step, nullptr)();
        return false;
    }
};

struct Window {
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    frmMain w{&dialogs};
    const QByteArray held = randomBytes(100000, 43);

    QString path(const QString &name) const { return dir.filePath(name); }
    bool start() {
        w.Form_Load();
        w.show();
        return QTest::qWaitForWindowExposed(&w) && writeAll(path("held.CCF"), held) &&
               open(path("held.CCF")) && heldImage(w) == held;
    }
    bool open(const QString &file) {
        dialogs.fileAnswers << file;
        w.mnuOpen->trigger();
        return !dialogs.asked.isEmpty();
    }
};

} // namespace

class FileFaultsTest : public QObject {
    Q_OBJECT

private slots:
    void openFault_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("reason");
        QTest::newRow("shrinks after its size was taken") << "shrink"
                                                          << "the file changed while it was read";
        QTest::newRow("a folder") << "folder"
                                  << "it is a folder";
    }
    void openFault() {
        QFETCH(QString, fault);
        QFETCH(QString, reason);
        Window win;
        QVERIFY(win.start());
        const QString path = win.path(fault + ".SAV");
        OnRepaint onRepaint;
        win.w.installEventFilter(&onRepaint);
        bool shrunk = false;
        if (fault == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else {
            QVERIFY(writeAll(path, randomBytes(5000, 42)));
            onRepaint.step = [&] { shrunk = QFile::resize(path, 100); };
        }
        QVERIFY(win.open(path));

        QCOMPARE(shrunk, fault == "shrink");
        QCOMPARE(win.dialogs.warnings(),
                 QStringList("ERROR Message|Error : Cannot open " + path + ": " + reason));
        checkIdle(win.w);
        QCOMPARE(win.w.ConfigStatus->text(), QStringLiteral("100000 bytes"));
        QCOMPARE(win.w.FileStatus->text(), win.path("held.CCF").right(60));
        QCOMPARE(win.w.image.ControllerType, qint16(1));
        QCOMPARE(heldImage(win.w), win.held);
    }

    void saveFaultKeepsTheOldFile() {
        Window win;
        QVERIFY(win.start());
        const QString target = win.path("old.CCF");
        const QByteArray old = randomBytes(20000, 44);
        QVERIFY(writeAll(target, old));

        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit low = saved;
        low.rlim_cur = 65536;
        ::setrlimit(RLIMIT_FSIZE, &low);
        win.dialogs.fileAnswers << target;
        win.w.mnuSave->trigger();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(win.dialogs.warnings(),
                 QStringList("ERROR Message|Error : Cannot save " + target + ": File too large"));
        checkIdle(win.w);
        QCOMPARE(win.w.FileStatus->text(), win.path("held.CCF").right(60));
        QCOMPARE(heldImage(win.w), win.held);
        QCOMPARE(QDir(win.dir.path()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"held.CCF", "old.CCF"}));
        QCOMPARE(readAll(target), old);
    }
};

QTEST_MAIN(FileFaultsTest)
#include "tst_faults_file.moc"
