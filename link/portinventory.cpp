#include "link/portinventory.h"

#include <QDir>
#include <QFileInfo>
#include <QSerialPortInfo>
#include <algorithm>

QString SerialPortEntry::vidPid() const {
    if (vendorId == 0 && productId == 0)
        return {};
    return QStringLiteral("%1:%2")
        .arg(vendorId, 4, 16, QLatin1Char('0'))
        .arg(productId, 4, 16, QLatin1Char('0'));
}

QList<SerialPortEntry> systemSerialPorts() {
    // by-id links resolve to the device node; map node -> link once.
    QHash<QString, QString> byId;
#ifdef Q_OS_LINUX
    const QDir dir(QStringLiteral("/dev/serial/by-id"));
    for (const QFileInfo &link :
         dir.entryInfoList(QDir::System | QDir::Files | QDir::NoDotAndDotDot))
        byId.insert(link.canonicalFilePath(), link.absoluteFilePath());
#endif
    QList<SerialPortEntry> ports;
    for (const QSerialPortInfo &info : QSerialPortInfo::availablePorts()) {
        SerialPortEntry e;
#ifdef Q_OS_WIN
        e.device = info.portName(); // "COM7" rather than "\\.\COM7"
#else
        e.device = info.systemLocation();
#endif
        e.description = info.description();
        e.manufacturer = info.manufacturer();
        e.serialNumber = info.serialNumber();
        if (info.hasVendorIdentifier())
            e.vendorId = info.vendorIdentifier();
        if (info.hasProductIdentifier())
            e.productId = info.productIdentifier();
        e.byIdPath = byId.value(QFileInfo(e.device).canonicalFilePath());
        ports.append(e);
    }
    std::sort(ports.begin(), ports.end(), [](const SerialPortEntry &a, const SerialPortEntry &b) {
        return a.device < b.device;
    });
    return ports;
}
