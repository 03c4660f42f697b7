// Choose Device: the ports present now, the device each port opens, stored per user and in
// force at once; and a new user's first run against a controller on a device no mapping names.
#include "windowtest.h"
#include "frmdevice.h"

#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTreeWidget>
#include <functional>

namespace {

const QString kById =
    QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A10KZ3-if00-port0");

QList<SerialPortEntry> twoPorts() {
    return {{QStringLiteral("/dev/ttyS0"), {}, {}, {}, 0, 0, {}},
            {QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART"),
             QStringLiteral("FTDI"), QStringLiteral("A10KZ3"), 0x0403, 0x6001, kById}};
}

QSettings store() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Stowline"),
                     QStringLiteral("Stowline"));
}

QStringList rows(const frmDevice &d) {
    QStringList out;
    for (int i = 0; i < d.lstPorts->topLevelItemCount(); ++i) {
        const QTreeWidgetItem *row = d.lstPorts->topLevelItem(i);
        QStringList cells;
        for (int c = 0; c < d.lstPorts->columnCount(); ++c)
            cells << row->text(c);
        out << (row->isSelected() ? QStringLiteral("> ") : QString()) + cells.join('|');
    }
    return out;
}

// Runs the dialog the window opens through the given hands instead of a modal loop.
class Chooser : public ScriptedDialogs {
public:
    std::function<bool(frmDevice &)> hands;
    bool chooseDevice(frmDevice &dialog) override { return hands(dialog); }
};

} // namespace

class ChooseDeviceTest : public QObject {
    Q_OBJECT
    QTemporaryDir configHome_;

private slots:
    void initTestCase() {
        if (qEnvironmentVariableIsEmpty("XDG_CONFIG_HOME"))
            qputenv("XDG_CONFIG_HOME", QFile::encodeName(configHome_.path()));
    }
    void init() {
        for (const char *v : {"STOWLINE_COM1", "STOWLINE_COM2"})
            qunsetenv(v);
        store().clear();
    }

    void listAndCurrentDevice_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("rows"); // "> " marks the selected one
        QTest::addColumn<QString>("field");
        const QString uart = QStringLiteral("/dev/ttyS0|||||");
        const QString adapter =
            QStringLiteral("/dev/ttyUSB0|FT232R USB UART|FTDI|A10KZ3|0403:6001|") + kById;
        QTest::newRow("nothing stored: the default")
            << "" << QStringList{"> " + uart, adapter} << "";
        QTest::newRow("stored by its stable link")
            << kById << QStringList{uart, "> " + adapter} << kById;
        QTest::newRow("stored, absent now")
            << "/dev/serial/by-id/usb-gone"
            << QStringList{uart, adapter, "> /dev/serial/by-id/usb-gone|(absent)||||"}
            << "/dev/serial/by-id/usb-gone";
        // A pseudo-terminal or a link of the user's own: not listed, but there.
        QTest::newRow("stored, not listed but there")
            << "/dev/null" << QStringList{uart, adapter, "> /dev/null|||||"} << "/dev/null";
    }
    void listAndCurrentDevice() {
        QFETCH(QString, stored);
        QFETCH(QStringList, rows);
        QFETCH(QString, field);
        QSettings s = store();
        PortMap map;
        map.store(s, 1, stored);
        QList<SerialPortEntry> present = twoPorts();
        frmDevice d(1, map, [&] { return present; });
        QCOMPARE(::rows(d), rows);
        QCOMPARE(d.device(), field);
        QVERIFY(d.buttons->button(QDialogButtonBox::Ok));

        // Picking a row stores its stable name; a typed path picks the row it names.
        d.lstPorts->setCurrentItem(d.lstPorts->topLevelItem(1));
        QCOMPARE(d.device(), kById);
        d.txtDevice->clear();
        QTest::keyClicks(d.txtDevice, QStringLiteral("/dev/ttyS0"));
        QCOMPARE(d.lstPorts->selectedItems().value(0)->text(0), QStringLiteral("/dev/ttyS0"));
        // Refresh shows a port plugged in meanwhile; the typed path stays.
        present << SerialPortEntry{QStringLiteral("/dev/ttyACM0"), {}, {}, {}, 0, 0, {}};
        d.cmdRefresh->click();
        QCOMPARE(d.lstPorts->topLevelItemCount(), rows.size() + 1);
        QCOMPARE(d.device(), QStringLiteral("/dev/ttyS0"));
    }

    void okCancelEnvironment_data() {
        QTest::addColumn<QString>("answer"); // "ok", "cancel", "environment"
        QTest::newRow("OK") << "ok";
        QTest::newRow("Cancel") << "cancel";
        QTest::newRow("environment decides") << "environment";
    }
    void okCancelEnvironment() {
        QFETCH(QString, answer);
        if (answer == "environment")
            qputenv("STOWLINE_COM2", "/dev/pts/77");
        Chooser dialogs;
        frmMain w(&dialogs);
        w.setPortInventory(twoPorts);
        w.Form_Load();
        w.mniCom[1]->trigger();
        const QString tipBefore = w.mniCom[1]->toolTip();
        QString note;
        dialogs.hands = [&](frmDevice &d) {
            note = d.lblNote->text();
            d.lstPorts->setCurrentItem(d.lstPorts->topLevelItem(1));
            return answer != "cancel";
        };
        w.mnuChooseDevice->trigger();
        w.MSComm1->setCommPort(2);

        if (answer == "ok") {
            QCOMPARE(store().value("Ports/Com2").toString(), kById);
            QCOMPARE(w.mniCom[1]->toolTip(), kById + QStringLiteral(" \u2014 FT232R USB UART"));
            QCOMPARE(w.MSComm1->deviceName(), kById); // at once, before any restart
        } else {
            QCOMPARE(store().allKeys().filter("Ports"), QStringList());
            QCOMPARE(w.mniCom[1]->toolTip(), tipBefore);
            QCOMPARE(w.MSComm1->deviceName(),
                     answer == "cancel" ? QStringLiteral("/dev/ttyS1") : "/dev/pts/77");
        }
        QCOMPARE(note.contains("STOWLINE_COM2 is set"), answer == "environment");
    }

    // A new user: the controller's device is named by no mapping. Choose Device, type the
    // path, OK, Backup; after a restart the choice is still in force.
    void firstRunWithATypedPath() {
        QTemporaryDir dir;
        const QByteArray image = randomBytes(700, 3);
        QVERIFY(writeAll(dir.filePath("c.img"), image));
        SimProcess sim({QStringLiteral("--image=") + dir.filePath("c.img")});
        QVERIFY(!sim.device().isEmpty());
        Chooser dialogs;
        for (int run = 0; run < 2; ++run) {
            frmMain w(&dialogs);
            w.Form_Load();
            w.show();
            if (run == 0) {
                dialogs.hands = [&](frmDevice &d) {
                    d.txtDevice->clear();
                    QTest::keyClicks(d.txtDevice, sim.device());
                    QTest::mouseClick(d.buttons->button(QDialogButtonBox::Ok), Qt::LeftButton);
                    return d.result() == QDialog::Accepted;
                };
                w.mnuChooseDevice->trigger();
            }
            QVERIFY(w.mniCom[0]->toolTip().startsWith(sim.device()));
            w.BackupButton->trigger();
            QCOMPARE(dialogs.warnings(), QStringList());
            QCOMPARE(heldImage(w), image);
            w.close();
        }
    }
};

QTEST_MAIN(ChooseDeviceTest)
#include "tst_choosedevice.moc"
