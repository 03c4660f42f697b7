// Settings-store faults through the window's load and close: values that make no sense and a
// store that cannot be read or written give the defaults, never a crash or a hang, and a store
// that cannot be written is left exactly as it was.
#include "../e2e/faultmatrix.h"
#include "unprivileged.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

namespace {

QString storePath() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Stowline"),
                     QStringLiteral("Stowline"))
        .fileName();
}

// Ends the run when a step hangs: a hang then fails at once, not at the suite's time-out.
class Watchdog {
public:
    Watchdog(int seconds, const char *step) {
        thread_ = std::thread([this, seconds, step] {
            std::unique_lock<std::mutex> lock(mutex_);
            if (!done_.wait_for(lock, std::chrono::seconds(seconds),
                                [this] { return disarmed_; })) {
                std::fprintf(stderr, "FAIL!  : %s hung for %d s\n", step, seconds);
                std::_Exit(3);
            }
        });
    }
    ~Watchdog() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            disarmed_ = true;
        }
        done_.notify_one();
        thread_.join();
    }

private:
    std::mutex mutex_;
    std::condition_variable done_;
    bool disarmed_ = false;
    std::thread thread_;
};

// Placement and port marks of a store that differs from the defaults in every key.
const QByteArray kStored = "[Settings]\nMainLeft=1500\nMainTop=3000\nMainWidth=6000\n"
                           "MainHeight=3855\nCom1=False\nCom2=False\nCom3=True\nCom4=False\n";

QList<bool> portMarks(const frmMain &w) {
    QList<bool> marks;
    for (const QAction *item : w.mniCom)
        marks << item->isChecked();
    return marks;
}

} // namespace

class SettingsFaultsTest : public QObject {
    Q_OBJECT

    QTemporaryDir configHome_;

private slots:
    // These rows clear and spoil the store: never the user's own.
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome_.path()));
    }

    void init() {
        const QString path = storePath();
        QFile::setPermissions(QFileInfo(path).path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFileInfo(path).isDir() ? void(QDir(path).removeRecursively()) : void(QFile::remove(path));
        QDir(path + QStringLiteral(".lock")).removeRecursively();
        QFile::remove(QFileInfo(path).path());
        QDir().mkpath(QFileInfo(path).path());
    }

    // stored: what the window reads (true: the values of kStored, false: the defaults).
    // kept: whether the store must be left as it was, or be rewritten on close.
    void storeFault_data() {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("kept");
        QTest::newRow("values that are no numbers or truths") << "garbage" << false << false;
        QTest::newRow("binary junk") << "junk" << false << false;
        QTest::newRow("numbers beyond any screen") << "huge" << false << false;
        QTest::newRow("negative size, far off screen") << "negative" << false << false;
        QTest::newRow("store is a folder") << "folder" << false << true;
        QTest::newRow("store's folder is a file") << "parent" << false << true;
        QTest::newRow("lock file in the way") << "lock" << true << true;
        QTest::newRow("unreadable store") << "unreadable" << false << true;
        QTest::newRow("read-only store") << "read-only" << true << true;
    }
    void storeFault() {
        QFETCH(QString, fault);
        QFETCH(bool, stored);
        QFETCH(bool, kept);
        if (fault == "unreadable" || fault == "read-only")
            RUN_UNPRIVILEGED();

        const QString path = storePath();
        const QString folder = QFileInfo(path).path();
        QByteArray contents = kStored;
        if (fault == "garbage")
            contents = "[Settings]\nMainLeft=left\nMainTop=\nMainWidth=12abc\nMainHeight=--1\n"
                       "Com1=maybe\nCom2=\x01\x02\nCom3=yes please\nCom4=\n";
        else if (fault == "junk")
            contents = patterned(4096, 51);
        else if (fault == "huge")
            contents = "[Settings]\nMainLeft=2e37\nMainTop=-2e37\nMainWidth=3e38\n"
                       "MainHeight=-3e38\n";
        else if (fault == "negative")
            contents = "[Settings]\nMainLeft=30000000\nMainTop=1500\nMainWidth=-30000000\n"
                       "MainHeight=3855\n";
        if (fault == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (fault == "parent") {
            QVERIFY(QDir(folder).removeRecursively());
            QVERIFY(writeAll(folder, contents));
        } else {
            QVERIFY(writeAll(path, contents));
        }
        if (fault == "lock")
            QVERIFY(QDir().mkpath(path + QStringLiteral(".lock")));
        if (fault == "unreadable")
            QVERIFY(QFile::setPermissions(path, {}));
        if (fault == "read-only") {
            QVERIFY(QFile::setPermissions(path, QFile::ReadOwner));
            QVERIFY(QFile::setPermissions(folder, QFile::ReadOwner | QFile::ExeOwner));
        }

        ScriptedDialogs dialogs;
        auto w = std::make_unique<frmMain>(&dialogs);
        {
            Watchdog watchdog(20, "loading the window");
            w->Form_Load();
        }
        w->show();
        if (stored) {
            QCOMPARE(portMarks(*w), (QList<bool>{false, false, true, false}));
            QCOMPARE(w->pos(), QPoint(100, 200));
        } else {
            QCOMPARE(portMarks(*w), (QList<bool>{true, false, false, false}));
            QCOMPARE(w->pos(), QPoint(67, 67));
        }
        checkIdle(*w);
        w->mniCom[1]->trigger();
        {
            Watchdog watchdog(20, "closing the window");
            w->mnuFileExit->trigger();
        }
        QVERIFY(!w->isVisible());
        QCOMPARE(dialogs.asked, QStringList());
        w.reset();

        QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QFile::setPermissions(path, QFile::ReadOwner | QFile::WriteOwner);
        if (fault == "folder") {
            QVERIFY(QFileInfo(path).isDir());
        } else if (fault == "parent") {
            QCOMPARE(readAll(folder), contents);
        } else if (kept) {
            QCOMPARE(readAll(path), contents);
        } else {
            // The store is whole again: the next run finds what this one left.
            QSettings store(QSettings::NativeFormat, QSettings::UserScope,
                            QStringLiteral("Stowline"), QStringLiteral("Stowline"));
            QCOMPARE(store.value(QStringLiteral("Settings/Com1")).toString(),
                     QStringLiteral("False"));
            QCOMPARE(store.value(QStringLiteral("Settings/Com2")).toString(),
                     QStringLiteral("True"));
            QCOMPARE(store.value(QStringLiteral("Settings/MainLeft")).toString(),
                     QStringLiteral("1005"));
        }
    }
};

QTEST_MAIN(SettingsFaultsTest)
#include "tst_faults_settings.moc"
