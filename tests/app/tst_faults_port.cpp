// Port faults through the window and the real serial layer: each ends in one clear box, a closed
// port and an idle window with the image as it should be, and the same command works once the
// fault is gone.
#include "../e2e/faultmatrix.h"
#include "unprivileged.h"

#include <QApplication>
#include <QSerialPort>
#include <QSettings>
#include <cstdio>
#include <memory>
#include <sys/stat.h>

namespace {

constexpr int kN = 300;
const QByteArray kControllerImage = patterned(kN, 31);
const QByteArray kHeldImage = patterned(kN, 32);
const QString kMissing = QStringLiteral("/dev/stowline-no-such-device");

// The other program: holds the device open with the same serial layer until its input closes.
int holdDevice(const QString &device) {
    QSerialPort port(device);
    if (!port.open(QIODevice::ReadWrite)) {
        std::fprintf(stderr, "cannot hold %s: %s\n", qPrintable(device),
                     qPrintable(port.errorString()));
        return 1;
    }
    std::puts("held");
    std::fflush(stdout);
    while (std::getchar() != EOF) {
    }
    return 0;
}

class DeviceHolder {
public:
    explicit DeviceHolder(const QString &device) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--hold"), device});
        held_ = process_.waitForStarted(5000) && process_.waitForReadyRead(5000) &&
                process_.readLine().trimmed() == "held";
    }
    ~DeviceHolder() { release(); }
    bool held() const { return held_; }
    void release() {
        if (process_.state() == QProcess::NotRunning)
            return;
        process_.closeWriteChannel();
        if (!process_.waitForFinished(5000)) {
            process_.kill();
            process_.waitForFinished(1000);
        }
    }

private:
    QProcess process_;
    bool held_ = false;
};

QString cannotOpen(int port, const QString &device, const QString &why) {
    QString text = QStringLiteral("ERROR Message|Error : Cannot open Com %1").arg(port);
    if (!device.isEmpty())
        text += QStringLiteral(" (%1)").arg(device);
    return text + QStringLiteral(": ") + why;
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
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Stowline"),
                        QStringLiteral("Stowline"));
        store.clear();
    }

    void portFault_data() {
        QTest::addColumn<bool>("backup"); // else Restore
        QTest::addColumn<QString>("fault");
        for (const bool backup : {true, false}) {
            for (const char *fault : {"missing device", "device busy", "no permission",
                                      "no port chosen", "device vanishes"}) {
                const QString tag =
                    QLatin1String(backup ? "Backup, " : "Restore, ") + QLatin1String(fault);
                QTest::newRow(qPrintable(tag)) << backup << QString::fromLatin1(fault);
            }
        }
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

        std::unique_ptr<DeviceHolder> holder;
        QString box;
        if (fault == "missing device") {
            qputenv("STOWLINE_COM1", QFile::encodeName(kMissing));
            box = cannotOpen(1, kMissing, QStringLiteral("No such file or directory"));
        } else if (fault == "device busy") {
            holder = std::make_unique<DeviceHolder>(device);
            QVERIFY(holder->held());
            box = cannotOpen(1, device, QStringLiteral("Device or resource busy"));
        } else if (fault == "no permission") {
            QCOMPARE(::chmod(deviceName.constData(), 0), 0);
            box = cannotOpen(1, device, QStringLiteral("Permission denied"));
        } else if (fault == "no port chosen") {
            QCOMPARE(s.window->GetSelectedPort(), qint16(0));
            box = cannotOpen(0, QString(), QStringLiteral("no port selected"));
        } else {
            box = kNoResponse;
        }
        QAction *command = backup ? s.window->BackupButton : s.window->RestoreButton;
        s.dialogs.asked.clear();
        command->trigger();

        QCOMPARE(s.dialogs.warnings(), QStringList{box});
        checkIdle(*s.window);
        if (backup && fault == "device vanishes") {
            QCOMPARE(s.window->image.ConfigLength, 0);
            QCOMPARE(s.window->ConfigStatus->text(), QStringLiteral("Empty"));
        } else {
            // Nothing was read: the image held before is still there.
            QCOMPARE(heldImage(*s.window), kHeldImage);
            QCOMPARE(s.window->ConfigStatus->text(), QStringLiteral("300 bytes"));
        }

        // The fault goes away; the same command now works.
        if (fault == "missing device")
            qputenv("STOWLINE_COM1", deviceName);
        else if (holder)
            holder->release();
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
        if (backup) {
            QCOMPARE(heldImage(*s.window), kControllerImage);
        } else {
            QTRY_COMPARE(readAll(s.path("received.img")), kHeldImage);
            QCOMPARE(heldImage(*s.window), kHeldImage);
        }
    }
};

int main(int argc, char **argv) {
    if (argc == 3 && qstrcmp(argv[1], "--hold") == 0) {
        QCoreApplication app(argc, argv);
        return holdDevice(QString::fromLocal8Bit(argv[2]));
    }
    QApplication app(argc, argv);
    PortFaultsTest test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_faults_port.moc"
