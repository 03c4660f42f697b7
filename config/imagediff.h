#pragma once

#include <QByteArray>
#include <QList>
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

// A stretch of differing bytes, counted from 1; the bytes one image has beyond the other's end
// are one stretch.
struct DiffRun {
    qint64 first = 0, last = 0;
};
// The first `limit` stretches, in order.
QList<DiffRun> diffRuns(const QByteArray &a, const QByteArray &b, qsizetype limit);
// "10–12 (3 bytes)"
QString runText(const DiffRun &run);

// The verdict of a read-back that found differences.
QString verifyFailedText(const ImageDiff &diff, qint64 expectedLength, qint64 actualLength);
