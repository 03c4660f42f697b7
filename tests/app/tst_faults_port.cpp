// Port faults through the window and the real serial layer: each ends in one clear box, a closed
// port and an idle window with the image as it should be, and the same command works once the
// fault is gone.
#include "../e2e/faultmatrix.h"
#include "unprivileged.h"

#include <QSerialPort>
#include <QSettings>
#include <sys/stat.h>

namespace {

const QByteArray kControllerImage = randomBytes(300, 31);
const QByteArray kHeldImage = randomBytes(300, 32);
const QString kMissing = QStringLiteral("/dev/stowline-no-such-device");

QString cannotOpen(const QString &port, const QString &why) {
    return QStringLiteral("ERROR Message|Error : Cannot open Com ") + port + QStringLiteral(": ") +
           why;
}

} // namespace

class PortFaultsTest : public QObject {
    Q_OBJECT
    QTemporaryDir configHome_;

private slots:
    // These rows clear and spoil the store: never the user's own.
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome_.path()));
    }
    void init() {
        qunsetenv("STOWLINE_COM1");
        QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Stowline"),
                  QStringLiteral("Stowline"))
            .clear();
    }

    void portFault_data() {
        QTest::addColumn<bool>("backup"); // else Restore
        QTest::addColumn<QString>("fault");
        for (const bool backup : {true, false})
            for (const char *fault : {"missing device", "device busy", "no permission",
                                      "no port chosen", "device vanishes"})
                QTest::addRow("%s, %s", backup ? "Backup" : "Restore", fault)
                    << backup << QString::fromLatin1(fault);
    }
    void portFault() {
        QFETCH(bool, backup);
        QFETCH(QString, fault);
        if (fault == "no permission")
            RUN_UNPRIVILEGED();

        Session s;
        QVERIFY(writeAll(s.path("controller.img"), kControllerImage));
        const QStringList simArgs{QStringLiteral("--image=") + s.path("controller.img"),
                                  QStringLiteral("--record-image=") + s.path("received.img")};
        if (fault == "no port chosen") {
            QSettings store(QSettings::NativeFormat, QSettings::UserScope,
                            QStringLiteral("Stowline"), QStringLiteral("Stowline"));
            for (const char *key : {"Com1", "Com2", "Com3", "Com4"})
                store.setValue(QStringLiteral("Settings/") + QLatin1String(key),
                               QStringLiteral("False"));
        }
        QVERIFY(s.start(fault == "device vanishes"
                            ? simArgs + QStringList{QStringLiteral("--hangup-after=100")}
                            : simArgs));
        QVERIFY(s.openImage("held.CCF", kHeldImage));
        const QString device = s.sim->device();
        const QByteArray deviceName = QFile::encodeName(device);

        QSerialPort holder(device); // another program with the device open
        QString box = kNoResponse;
        // Each cause the user can act on gets a line of advice.
        if (fault == "missing device") {
            qputenv("STOWLINE_COM1", QFile::encodeName(kMissing));
            s.window->setPortInventory([] {
                SerialPortEntry adapter;
                adapter.device = QStringLiteral("/dev/ttyUSB0");
                adapter.description = QStringLiteral("FT232R USB UART");
                return QList<SerialPortEntry>{adapter};
            });
            box = cannotOpen("1 (" + kMissing + ")", QStringLiteral("No such file or directory")) +
                  QStringLiteral("\nSerial ports present now: /dev/ttyUSB0 (FT232R USB UART). "
                                 "Choose the right one under Settings \u2192 Port \u2192 Choose "
                                 "Device\u2026.");
        } else if (fault == "device busy") {
            QVERIFY(holder.open(QIODevice::ReadWrite));
            box = cannotOpen("1 (" + device + ")", QStringLiteral("Device or resource busy")) +
                  QStringLiteral("\nAnother program holds the port (a terminal program, a modem "
                                 "manager): close it and try again.");
        } else if (fault == "no permission") {
            QCOMPARE(::chmod(deviceName.constData(), 0), 0);
            const QString group = QFileInfo(device).group();
            QVERIFY2(!group.isEmpty() && group != "root", qPrintable(group));
            box = cannotOpen("1 (" + device + ")", QStringLiteral("Permission denied")) +
                  QStringLiteral("\nThe device belongs to the group %1: add your user to it "
                                 "(sudo usermod -aG %1 $USER), then log out and log in again.")
                      .arg(group);
        } else if (fault == "no port chosen") {
            box = cannotOpen(QStringLiteral("0"), QStringLiteral("no port selected"));
        }
        QAction *command = backup ? s.window->BackupButton : s.window->RestoreButton;
        s.dialogs.asked.clear();
        command->trigger();

        QCOMPARE(s.dialogs.warnings(), QStringList{box});
        checkIdle(*s.window);
        if (backup && fault == "device vanishes") {
            QCOMPARE(s.window->image.ConfigLength, 0);
            QCOMPARE(s.window->ConfigStatus->text(), QStringLiteral("Empty"));
        } else { // nothing was read: the image held before is still there
            QCOMPARE(heldImage(*s.window), kHeldImage);
            QCOMPARE(s.window->ConfigStatus->text(), QStringLiteral("300 bytes"));
        }

        // The fault goes away; the same command now works.
        if (fault == "missing device")
            qputenv("STOWLINE_COM1", deviceName);
        else if (fault == "device busy")
            holder.close();
        else if (fault == "no permission")
            QCOMPARE(::chmod(deviceName.constData(), 0600), 0);
        else if (fault == "no port chosen")
            s.window->mniCom[0]->trigger();
        else
            QVERIFY(s.startSim(simArgs));
        s.dialogs.asked.clear();
        command->trigger();

        QCOMPARE(s.dialogs.warnings(), QStringList());
        checkIdle(*s.window);
        QCOMPARE(heldImage(*s.window), backup ? kControllerImage : kHeldImage);
        if (!backup)
            QTRY_COMPARE(readAll(s.path("received.img")), kHeldImage);
    }
};

QTEST_MAIN(PortFaultsTest)
#include "tst_faults_port.moc"
