#pragma once

#include <QString>

// Every text the transfers show, in one place.
namespace texts {
inline const QString kIdle = QStringLiteral("Waiting for Command");
inline const QString kErrorTitle = QStringLiteral("ERROR Message");
inline const QString kNoResponse =
    QStringLiteral("Error : Controller Failed to respond, Check Communications");
inline const QString kBadChecksum = QStringLiteral("Error : Bad Checksum");
inline const QString kBadFileSystemTitle = QStringLiteral("Error");
inline const QString kBadFileSystem = QStringLiteral("Bad File System");
inline const QString kIncorrectLength = QStringLiteral("Error : Incorrect File Length");
inline const QString kValidating = QStringLiteral("Validating Checksum");
inline const QString kHandshaking = QStringLiteral("Handshaking with Controller");
inline const QString kInitiatingBackup = QStringLiteral("Initiating Backup with Controller");
inline const QString kInitiatingRestore = QStringLiteral("Initiating Restore with Controller");
inline const QString kEmpty = QStringLiteral("Empty");

inline QString uploading(qint64 n) {
    return QStringLiteral("Uploading Controller Configuration (%1 bytes)").arg(n);
}
inline QString downloading(qint64 n) {
    return QStringLiteral("Downloading Controller Configuration (%1 bytes)").arg(n);
}
inline QString invalidLength(quint32 announced) {
    return QStringLiteral("Error : Controller announced an invalid length (%1 bytes)")
        .arg(announced);
}
// `device` may be empty (no port selected); `reason` comes from the port layer. Port 0 with a
// device: the device was named directly, not through a port number.
inline QString cannotOpen(qint16 port, const QString &device, const QString &reason) {
    if (port < 1 && !device.isEmpty())
        return QStringLiteral("Error : Cannot open %1: %2").arg(device, reason);
    QString text = QStringLiteral("Error : Cannot open Com %1").arg(port);
    if (!device.isEmpty())
        text += QStringLiteral(" (%1)").arg(device);
    return text + QStringLiteral(": ") + reason;
}
inline const QString kVerified =
    QStringLiteral("Verified: the controller holds the restored image");
inline const QString kRestoreNotStarted = QStringLiteral("The Restore was not started.");
inline const QString kStopRestoreQuestion = QStringLiteral(
    "Stop the Restore? The controller will be left without a complete configuration.");
inline QString snapshotNote(const QString &fileName) {
    return QStringLiteral("Snapshot of the previous configuration: ") + fileName;
}
} // namespace texts
