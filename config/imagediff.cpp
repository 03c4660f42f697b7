#include "config/imagediff.h"

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
