// File faults through the window's Open and Save: no box, an idle window, an image that is
// either the one held before or none at all (never half a file), and a previous file on disk
// that a failed Save leaves exactly as it was.
#include "../e2e/faultmatrix.h"
#include "unprivileged.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <csignal>
#include <functional>
#include <memory>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>

namespace {

// Runs a step once, at the moment the dialog has answered.
class HookedDialogs : public ScriptedDialogs {
public:
    std::function<void()> afterAnswer;

    QString openFileName(QWidget *parent, const QString &title, const QString &filter) override {
        const QString path = ScriptedDialogs::openFileName(parent, title, filter);
        runHook();
        return path;
    }
    QString saveFileName(QWidget *parent, const QString &title, const QString &filter) override {
        const QString path = ScriptedDialogs::saveFileName(parent, title, filter);
        runHook();
        return path;
    }

private:
    void runHook() {
        if (auto hook = std::exchange(afterAnswer, nullptr))
            hook();
    }
};

// Runs a step once, at the next repaint: the one the file commands ask for just before they
// touch the file, after Open has taken its size.
class OnRepaint : public QObject {
public:
    std::function<void()> step;

protected:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint)
            if (auto run = std::exchange(step, nullptr))
                run();
        return false;
    }
};

struct Window {
    QTemporaryDir dir;
    HookedDialogs dialogs;
    OnRepaint onRepaint;
    std::unique_ptr<frmMain> w;

    Window() {
        w = std::make_unique<frmMain>(&dialogs);
        w->Form_Load();
        w->show();
        w->installEventFilter(&onRepaint);
    }
    QString path(const QString &name) const { return dir.filePath(name); }
    bool open(const QString &path) {
        dialogs.fileAnswers << path;
        w->mnuOpen->trigger();
        return !dialogs.asked.isEmpty();
    }
};

// A tmpfs of `kib` KiB over `folder`, gone again with the guard.
class SmallDisk {
public:
    SmallDisk(const QString &folder, int kib) : folder_(QFile::encodeName(folder)) {
        const QByteArray options = "size=" + QByteArray::number(kib) + "k";
        mounted_ = ::mount("tmpfs", folder_.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted_)
            ::umount2(folder_.constData(), MNT_DETACH);
    }
    bool mounted() const { return mounted_; }

private:
    QByteArray folder_;
    bool mounted_ = false;
};

const QByteArray kHeld = patterned(12, 41);

} // namespace

class FileFaultsTest : public QObject {
    Q_OBJECT

private slots:
    // What an Open that fails leaves: "untouched" (nothing at all changed), "kept" (the image
    // held before stays) or "dropped" (no image is held).
    void openFault_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("outcome");
        QTest::addColumn<QString>("configStatus");
        QTest::newRow("vanishes after the dialog") << "vanish"
                                                   << "kept"
                                                   << "None";
        QTest::newRow("vanishes after its size was taken") << "vanish late"
                                                           << "dropped"
                                                           << "None";
        QTest::newRow("shrinks after its size was taken") << "shrink late"
                                                          << "dropped"
                                                          << "None";
        QTest::newRow("unreadable") << "unreadable"
                                    << "dropped"
                                    << "None";
        QTest::newRow("a folder") << "folder"
                                  << "kept"
                                  << "None";
        QTest::newRow("empty") << "empty"
                               << "dropped"
                               << "None";
        QTest::newRow("3-character name") << "abc"
                                          << "untouched"
                                          << "12 bytes";
        QTest::newRow("longer than a length can count") << "huge"
                                                        << "kept"
                                                        << "12 bytes";
    }
    void openFault() {
        QFETCH(QString, fault);
        QFETCH(QString, outcome);
        QFETCH(QString, configStatus);
        if (fault == "unreadable")
            RUN_UNPRIVILEGED();

        Window win;
        QVERIFY(QTest::qWaitForWindowExposed(win.w.get()));
        const QString held = win.path(QStringLiteral("held.CCF"));
        QVERIFY(writeAll(held, kHeld));
        QVERIFY(win.open(held));
        QCOMPARE(heldImage(*win.w), kHeld);

        const QString path =
            win.path(fault == "abc" ? QStringLiteral("abc") : fault.section(' ', 0, 0) + ".SAV");
        const QByteArray contents = patterned(5000, 42);
        if (fault == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (fault == "huge") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly) && file.resize((qint64(1) << 31) + 7));
        } else if (fault != "empty") {
            QVERIFY(writeAll(path, contents));
        } else {
            QVERIFY(writeAll(path, {}));
        }
        if (fault == "unreadable")
            QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
        if (fault == "vanish")
            win.dialogs.afterAnswer = [&] { QFile::remove(path); };
        bool stepRan = false;
        if (fault == "vanish late" || fault == "shrink late") {
            win.dialogs.afterAnswer = [&] {
                win.onRepaint.step = [&] {
                    stepRan =
                        fault == "vanish late" ? QFile::remove(path) : QFile::resize(path, 100);
                };
            };
        }
        const ConfigImage before = win.w->image;
        const QString fileBefore = win.w->FileStatus->text();
        QVERIFY(win.open(path));

        if (fault.endsWith(QLatin1String("late")))
            QVERIFY(stepRan);
        QCOMPARE(win.dialogs.warnings(), QStringList());
        checkIdle(*win.w, false);
        QCOMPARE(win.w->ConfigStatus->text(), configStatus);
        const frmMain &w = *win.w;
        if (outcome == "untouched") {
            QCOMPARE(w.image.ControllerType, before.ControllerType);
            QCOMPARE(w.FileStatus->text(), fileBefore);
        } else {
            QCOMPARE(w.image.ControllerType, qint16(2));
            QCOMPARE(w.FileStatus->text(), path.right(60));
        }
        if (outcome == "dropped") {
            QCOMPARE(w.image.ConfigLength, 0);
        } else {
            QCOMPARE(w.image.ConfigLength, before.ConfigLength);
            QCOMPARE(w.image.ConfigData, before.ConfigData);
        }
    }

    // A Save that cannot finish: the file it would replace keeps every byte, nothing else is
    // left in the folder, and the image stays held.
    void saveFault_data() {
        QTest::addColumn<QString>("fault");
        QTest::newRow("disk full") << "disk full";
        QTest::newRow("file-size limit") << "size limit";
        QTest::newRow("read-only folder") << "read-only";
        QTest::newRow("name of a folder") << "folder";
    }
    void saveFault() {
        QFETCH(QString, fault);
        if (fault == "read-only")
            RUN_UNPRIVILEGED();

        Window win;
        const QByteArray image = patterned(100000, 43);
        const QString source = win.path(QStringLiteral("image.CCF"));
        QVERIFY(writeAll(source, image));
        QVERIFY(win.open(source));
        QCOMPARE(heldImage(*win.w), image);

        const QString folder = win.path(QStringLiteral("target"));
        QVERIFY(QDir().mkpath(folder));
        std::unique_ptr<SmallDisk> disk;
        if (fault == "disk full") {
            disk = std::make_unique<SmallDisk>(folder, 64);
            if (!disk->mounted())
                QSKIP("cannot mount a small tmpfs here (needs root)");
        }
        const QString target = folder + (fault == "folder" ? "/old" : "/old.CCF");
        const QByteArray old = patterned(20000, 44);
        if (fault == "folder")
            QVERIFY(QDir().mkpath(target));
        else
            QVERIFY(writeAll(target, old));
        if (fault == "read-only")
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));

        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (fault == "size limit") {
            // Set once the dialog has answered, so only the Save's own writes meet it.
            win.dialogs.afterAnswer = [&] {
                rlimit low = saved;
                low.rlim_cur = 65536;
                ::setrlimit(RLIMIT_FSIZE, &low);
            };
        }
        const ConfigImage before = win.w->image;
        win.dialogs.fileAnswers << target;
        win.w->mnuSave->trigger();
        ::setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QCOMPARE(win.dialogs.warnings(), QStringList());
        checkIdle(*win.w, false);
        QCOMPARE(win.w->FileStatus->text(), target.right(60));
        QCOMPARE(win.w->ConfigStatus->text(), QStringLiteral("100000 bytes"));
        QCOMPARE(win.w->image.ConfigLength, before.ConfigLength);
        QCOMPARE(win.w->image.ConfigData, before.ConfigData);
        const QStringList left =
            QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left, QStringList{QFileInfo(target).fileName()});
        if (fault == "folder")
            QVERIFY(QFileInfo(target).isDir());
        else
            QCOMPARE(readAll(target), old);
    }
};

QTEST_MAIN(FileFaultsTest)
#include "tst_faults_file.moc"
