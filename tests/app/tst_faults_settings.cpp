// Settings-store faults through the window's load and close: values that make no sense and a
// store that cannot be read or written give the defaults, never a crash or a hang, and a store
// that cannot be written is left exactly as it was.
#include "unprivileged.h"
#include "windowtest.h"

#include <QDir>
#include <QSettings>

namespace {

QSettings store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Stowline"),
                     QStringLiteral("Stowline"));
}

// Placement and port marks of a store that differs from the defaults in every key.
const QByteArray kStored = "[Settings]\nMainLeft=1500\nMainTop=3000\nMainWidth=6000\n"
                           "MainHeight=3855\nCom1=False\nCom2=False\nCom3=True\nCom4=False\n";

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
        const QString path = store().fileName();
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
        QTest::addColumn<QByteArray>("contents");
        QTest::addColumn<bool>("stored");
        QTest::addColumn<bool>("kept");
        QTest::newRow("values that are no numbers or truths")
            << "garbage"
            << QByteArray("[Settings]\nMainLeft=left\nMainTop=\nMainWidth=12abc\nMainHeight=--1\n"
                          "Com1=maybe\nCom2=\x01\x02\nCom3=yes please\nCom4=\n")
            << false << false;
        QTest::newRow("binary junk") << "junk" << randomBytes(4096, 51) << false << false;
        QTest::newRow("numbers beyond any screen")
            << "huge"
            << QByteArray("[Settings]\nMainLeft=2e37\nMainTop=-2e37\nMainWidth=3e38\n"
                          "MainHeight=-3e38\n")
            << false << false;
        QTest::newRow("negative size, far off screen")
            << "negative"
            << QByteArray("[Settings]\nMainLeft=30000000\nMainTop=1500\nMainWidth=-30000000\n"
                          "MainHeight=3855\n")
            << false << false;
        QTest::newRow("store is a folder") << "folder" << kStored << false << true;
        QTest::newRow("store's folder is a file") << "parent" << kStored << false << true;
        QTest::newRow("lock file in the way") << "lock" << kStored << true << true;
        QTest::newRow("unreadable store") << "unreadable" << kStored << false << true;
        QTest::newRow("read-only store") << "read-only" << kStored << true << true;
    }
    // A hang (the lock file) ends at the suite's time-out.
    void storeFault() {
        QFETCH(QString, fault);
        QFETCH(QByteArray, contents);
        QFETCH(bool, stored);
        QFETCH(bool, kept);
        if (fault == "unreadable" || fault == "read-only")
            RUN_UNPRIVILEGED();

        const QString path = store().fileName();
        const QString folder = QFileInfo(path).path();
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
        w->Form_Load();
        w->show();
        QList<bool> marks;
        for (const QAction *item : w->mniCom)
            marks << item->isChecked();
        QCOMPARE(marks, stored ? (QList<bool>{false, false, true, false})
                               : (QList<bool>{true, false, false, false}));
        QCOMPARE(w->pos(), stored ? QPoint(100, 200) : QPoint(67, 67));
        checkIdle(*w);
        w->mniCom[1]->trigger();
        w->mnuFileExit->trigger();
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
        } else { // the store is whole again: the next run finds what this one left
            QSettings written = store();
            QCOMPARE(written.value(QStringLiteral("Settings/Com1")).toString(),
                     QStringLiteral("False"));
            QCOMPARE(written.value(QStringLiteral("Settings/Com2")).toString(),
                     QStringLiteral("True"));
            QCOMPARE(written.value(QStringLiteral("Settings/MainLeft")).toString(),
                     QStringLiteral("1005"));
        }
    }
};

QTEST_MAIN(SettingsFaultsTest)
#include "tst_faults_settings.moc"
