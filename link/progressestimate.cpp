#include "link/progressestimate.h"

namespace {
// Below this much measuring time the rate says little (a first burst from the receive buffer).
constexpr qint64 kMeasureNs = 1'000'000'000;
} // namespace

void ProgressEstimate::reset(qint64 nowNs, qint64 min, qint64 max) {
    startNs_ = nowNs;
    min_ = min;
    max_ = max;
    moved_ = false;
}

int percentOf(qint64 value, qint64 min, qint64 max) {
    const qint64 span = max - min;
    if (span <= 0)
        return value > min ? 100 : 0;
    return int(qBound(qint64(0), value - min, span) * 100 / span);
}

int ProgressEstimate::percent(qint64 value) const {
    return percentOf(value, min_, max_);
}

QString ProgressEstimate::text(qint64 nowNs, qint64 value) {
    if (value > min_)
        moved_ = true;
    else if (moved_)
        return {};
    QString text = QStringLiteral("%1 %").arg(percent(value));
    const qint64 elapsed = nowNs - startNs_;
    const qint64 done = value - min_;
    const qint64 left = max_ - value;
    if (elapsed < kMeasureNs || done <= 0 || left < 0)
        return text;
    // left / (done / elapsed), in whole seconds rounded up, without overflowing.
    const double seconds = double(left) * double(elapsed) / double(done) / 1e9;
    return text + QStringLiteral(" · ") + durationText(qint64(seconds + 0.999)) +
           QStringLiteral(" left");
}

QString durationText(qint64 seconds) {
    const qint64 h = seconds / 3600, m = seconds / 60 % 60, s = seconds % 60;
    if (h > 0)
        return QStringLiteral("%1:%2:%3")
            .arg(h)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(s, 2, 10, QLatin1Char('0'));
    return QStringLiteral("%1:%2").arg(m).arg(s, 2, 10, QLatin1Char('0'));
}
