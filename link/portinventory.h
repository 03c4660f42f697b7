#pragma once

#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>

// One serial port the system has now.
struct SerialPortEntry {
    QString device;      // what opens it: "/dev/ttyUSB0", "COM7"
    QString description; // e.g. "FT232R USB UART"
    QString manufacturer;
    QString serialNumber;
    quint16 vendorId = 0; // 0 when not a USB device
    quint16 productId = 0;
    QString byIdPath; // Linux: the stable /dev/serial/by-id/ link to it, when there is one

    // "0403:6001", or empty without a USB identity.
    QString vidPid() const;
    // What to store for the device: the by-id link where there is one, since a replugged
    // adapter may come back under another ttyUSB number.
    QString stableDevice() const { return byIdPath.isEmpty() ? device : byIdPath; }
};

// The list of ports comes through this seam so that tests do not depend on the machine.
using PortInventory = std::function<QList<SerialPortEntry>()>;

// The ports the system has now, sorted by device.
QList<SerialPortEntry> systemSerialPorts();
