#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

// How two images differ: bytes that differ where both have one, plus every byte one has
// beyond the other's end. first counts from 1 (0 when they are identical).
struct ImageDiff {
    qint64 count = 0;
    qint64 first = 0;
    bool lengthsDiffer = false;
    bool identical() const { return count == 0; }
};

ImageDiff diffImages(const QByteArray &expected, const QByteArray &actual);

// The verdict of a read-back that found differences.
QString verifyFailedText(const ImageDiff &diff, qint64 expectedLength, qint64 actualLength);
