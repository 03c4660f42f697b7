#pragma once

#include "link/portinventory.h"
#include "link/portmap.h"

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
class DeviceDialog : public QDialog {
    Q_OBJECT

public:
    DeviceDialog(int port, const PortMap &map, PortInventory inventory, QWidget *owner = nullptr);

    // What OK stores for the port; empty: back to the default device.
    QString device() const;
    // STOWLINE_COM<n> is set: the dialog only shows, and stores nothing.
    bool environmentDecides() const { return !fromEnvironment_.isEmpty(); }

    // Lists the serial ports present now again.
    void refresh();

private:
    enum Column {
        DeviceColumn,
        DescriptionColumn,
        ManufacturerColumn,
        SerialColumn,
        VidPidColumn,
        LinkColumn
    };
    QLabel *note_ = nullptr;
    QTreeWidget *portList_ = nullptr;
    QPushButton *refreshButton_ = nullptr;
    QLineEdit *deviceEdit_ = nullptr;
    QDialogButtonBox *buttons_ = nullptr;
    void selectMatching(const QString &path);
    void portChosen();

    int port_;
    PortInventory inventory_;
    QString stored_;
    QString fromEnvironment_;
};
