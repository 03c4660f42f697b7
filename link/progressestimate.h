#pragma once

#include <QString>
#include <QtGlobal>

// The text the progress bar shows while a transfer runs: how far it has got and, once the
// rate has been measured for a moment, how long is left ("42 % · 1:53 left"). Time comes in
// from the caller, so it can be driven without a window or a clock.
class ProgressEstimate {
public:
    // A new range starts a new measurement: a Restore's probe or a snapshot before it must not
    // count against the download's rate.
    void reset(qint64 nowNs, qint64 min, qint64 max);
    // Empty once the bar is back at its start after moving: the data phase is over.
    QString text(qint64 nowNs, qint64 value);
    int percent(qint64 value) const;

private:
    qint64 startNs_ = 0;
    qint64 min_ = 0;
    qint64 max_ = 100;
    bool moved_ = false;
};

// How far value is from min to max, in whole percent from 0 to 100; an empty range is 100 once
// the value has passed its start.
int percentOf(qint64 value, qint64 min, qint64 max);

// Whole seconds as "m:ss", or "h:mm:ss" from an hour on.
QString durationText(qint64 seconds);
