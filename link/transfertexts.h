#pragma once

#include <QString>

// Texts the transfers show.
namespace texts {
inline const QString kIdle = QStringLiteral("Waiting for Command");
inline const QString kErrorTitle = QStringLiteral("ERROR Message");
inline const QString kNoResponse =
    QStringLiteral("Error : Controller Failed to respond, Check Communications");
inline const QString kBadChecksum = QStringLiteral("Error : Bad Checksum");
inline const QString kValidating = QStringLiteral("Validating Checksum");
inline const QString kInitiatingBackup = QStringLiteral("Initiating Backup with Controller");
inline const QString kInitiatingRestore = QStringLiteral("Initiating Restore with Controller");

inline QString uploading(qint64 n) {
    return QStringLiteral("Uploading Controller Configuration (%1 bytes)").arg(n);
}
inline QString downloading(qint64 n) {
    return QStringLiteral("Downloading Controller Configuration (%1 bytes)").arg(n);
}
} // namespace texts
