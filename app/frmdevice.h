#pragma once

#include "portinventory.h"
#include "portmap.h"

#include <QDialog>

class QDialogButtonBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

// "device — description" for a device the inventory knows, "device (absent)" for a path that
// names nothing present now, or the bare device.
QString describeDevice(const QString &device, const QList<SerialPortEntry> &present);

// Choose Device: which device Com n opens. Lists the serial ports present now; picking one
// fills the path field with its stable name, and any path may be typed. The caller stores
// device() when the dialog is accepted.
class frmDevice : public QDialog {
    Q_OBJECT

public:
    frmDevice(int port, const PortMap &map, PortInventory inventory, QWidget *owner = nullptr);

    // What OK stores for the port; empty: back to the default device.
    QString device() const;
    // STOWLINE_COM<n> is set: the dialog only shows, and stores nothing.
    bool environmentDecides() const { return !fromEnvironment_.isEmpty(); }

    QLabel *lblNote = nullptr;
    QTreeWidget *lstPorts = nullptr;
    QPushButton *cmdRefresh = nullptr;
    QLineEdit *txtDevice = nullptr;
    QDialogButtonBox *buttons = nullptr;

    enum Column { colDevice, colDescription, colManufacturer, colSerial, colVidPid, colLink };

    void cmdRefresh_Click();

private:
    void selectMatching(const QString &path);
    void lstPorts_Changed();

    int port_;
    PortInventory inventory_;
    QString stored_;
    QString fromEnvironment_;
};
