#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// The controller generation an image is for; Unknown when nothing tells (a file named neither
// ".CCF" nor ".SAV").
enum class Generation { Unknown, First, Second };

// Every second-generation image has exactly this many bytes (182 KiB).
inline constexpr qint32 kSecondGenerationLength = 186368;

// A configuration image: exactly its bytes, and the generation it is known to be for.
struct Image {
    QByteArray bytes;
    Generation generation = Generation::Unknown;

    bool isEmpty() const { return bytes.isEmpty(); }
    qint32 length() const { return qint32(bytes.size()); }
};

// The one image the window holds.
struct HeldImage : Image {
    // Read from a controller and neither saved nor restored since: the only copy there is.
    bool unsavedBackup = false;
};

// "<n> bytes", plain decimal digits.
inline QString byteCountText(qint64 n) {
    return QString::number(n) + QStringLiteral(" bytes");
}
