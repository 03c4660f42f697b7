#include "config/imagediff.h"

#include "config/image.h"

#include <algorithm>

ImageDiff diffImages(const QByteArray &expected, const QByteArray &actual) {
    ImageDiff diff;
    const qsizetype common = std::min(expected.size(), actual.size());
    const char *a = expected.constData();
    const char *b = actual.constData();
    for (qsizetype i = 0; i < common; ++i) {
        if (a[i] != b[i]) {
            if (diff.count == 0)
                diff.first = i + 1;
            ++diff.count;
        }
    }
    const qsizetype extra = std::max(expected.size(), actual.size()) - common;
    if (extra > 0) {
        diff.lengthsDiffer = true;
        if (diff.count == 0)
            diff.first = common + 1;
        diff.count += extra;
    }
    return diff;
}

QList<DiffRun> diffRuns(const QByteArray &a, const QByteArray &b, qsizetype limit) {
    QList<DiffRun> runs;
    const qsizetype common = std::min(a.size(), b.size());
    for (qsizetype i = 0; i < common && runs.size() < limit; ++i) {
        if (a[i] == b[i])
            continue;
        qsizetype j = i;
        while (j + 1 < common && a[j + 1] != b[j + 1])
            ++j;
        runs.append({i + 1, j + 1});
        i = j;
    }
    const qsizetype longer = std::max(a.size(), b.size());
    if (longer == common)
        return runs;
    if (!runs.isEmpty() && runs.last().last == common)
        runs.last().last = longer; // one stretch across the shorter one's end
    else if (runs.size() < limit)
        runs.append({common + 1, longer});
    return runs;
}

QString runText(const DiffRun &run) {
    const qint64 n = run.last - run.first + 1;
    return QStringLiteral("%1\u2013%2 (%3)")
        .arg(run.first)
        .arg(run.last)
        .arg(n == 1 ? QStringLiteral("1 byte") : byteCountText(n));
}

QString verifyFailedText(const ImageDiff &diff, qint64 expectedLength, qint64 actualLength) {
    QString text = QStringLiteral("Verify failed: %1 bytes differ from the restored image "
                                  "(first at byte %2)")
                       .arg(diff.count)
                       .arg(diff.first);
    if (diff.lengthsDiffer)
        text += QStringLiteral("; the controller holds %1 bytes, the restored image %2")
                    .arg(actualLength)
                    .arg(expectedLength);
    return text;
}
