#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The one configuration image the tool holds. ConfigData keeps index 0 unused so that
// image byte k (counted from 1) sits at index k; it has no elements before the first
// Backup or Open.
struct ConfigImage {
    QByteArray ConfigData;
    qint32 ConfigLength = 0;   // 0: no image held
    qint16 ControllerType = 0; // 0 unknown, 1 first generation, 2 second generation
    // Read from a controller and neither saved nor restored since: the only copy there is.
    bool unsavedBackup = false;

    // Bytes 1..n as a contiguous range (n = bytes ConfigData can hold, at most ConfigLength).
    qint32 heldLength() const {
        const qsizetype capacity = ConfigData.isEmpty() ? 0 : ConfigData.size() - 1;
        return qint32(qMin<qsizetype>(capacity, ConfigLength < 0 ? 0 : ConfigLength));
    }
};

// Every second-generation image has exactly this many bytes (182 KiB).
inline constexpr qint32 kSecondGenerationLength = 186368;

// "<n> bytes", plain decimal digits.
inline QString byteCountText(qint64 n) {
    return QString::number(n) + QStringLiteral(" bytes");
}
