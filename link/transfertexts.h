#pragma once

#include "config/texts.h"

#include <QString>
#include <QStringList>

// Every text the transfers show, in one place.
namespace texts {
inline const QString kNoResponse =
    QStringLiteral("Error : Controller Failed to respond, Check Communications");
inline const QString kBadChecksum = QStringLiteral("Error : Bad Checksum");
inline const QString kBadFileSystemTitle = QStringLiteral("Error");
inline const QString kBadFileSystem = QStringLiteral("Bad File System");
inline const QString kIncorrectLength = QStringLiteral("Error : Incorrect File Length");
inline const QString kImageForFirst =
    QStringLiteral("Error : Image is for a first-generation Controller");
inline const QString kImageForSecond =
    QStringLiteral("Error : Image is for a second-generation Controller");
inline const QString kValidating = QStringLiteral("Validating Checksum");
inline const QString kHandshaking = QStringLiteral("Handshaking with Controller");
inline const QString kInitiatingBackup = QStringLiteral("Initiating Backup with Controller");
inline const QString kInitiatingRestore = QStringLiteral("Initiating Restore with Controller");

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
// The status line once a Restore has ended: what it verified and where the snapshot went.
inline QString restoreEndStatus(bool verified, const QString &snapshotFileName) {
    if (snapshotFileName.isEmpty())
        return verified ? kVerified : kIdle;
    return verified ? kVerified + QStringLiteral(" · ") + snapshotNote(snapshotFileName)
                    : snapshotNote(snapshotFileName);
}

// The line of advice under it, by cause, worded for the face that shows it.
enum class Face { Window, CommandLine };
inline QString chooseDevice(Face face) {
    return face == Face::Window
               ? QStringLiteral("under Settings \u2192 Port \u2192 Choose Device\u2026")
               : QStringLiteral("with --device PATH (stowline ports lists the ports)");
}
inline QString portsPresent(const QStringList &ports, qsizetype more, Face face) {
    QString list = ports.join(QStringLiteral(", "));
    if (more > 0)
        list += QStringLiteral(" and %1 more").arg(more);
    return QStringLiteral("Serial ports present now: %1. Choose the right one %2.")
        .arg(list, chooseDevice(face));
}
inline QString noPortsPresent(Face face) {
    return QStringLiteral("No serial port is present now: plug the adapter in, then choose it ") +
           chooseDevice(face) + QLatin1Char('.');
}
inline QString notInGroup(const QString &group) {
    return QStringLiteral("The device belongs to the group %1: add your user to it (sudo usermod "
                          "-aG %1 $USER), then log out and log in again.")
        .arg(group);
}
inline const QString kNoAccess =
    QStringLiteral("This user may not open the device: ask for access to it, then log in again.");
inline const QString kHeldElsewhere =
    QStringLiteral("Another program holds the port (a terminal program, a modem manager): close "
                   "it and try again.");
} // namespace texts
