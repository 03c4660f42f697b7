#pragma once

#include <QString>
#include <QtGlobal>

// What a long operation reports while it runs: a status line, and a progress range and value.
class ProgressObserver {
public:
    virtual ~ProgressObserver() = default;
    virtual void status(const QString &text) = 0;
    virtual void progressRange(qint64 min, qint64 max) = 0;
    virtual void progress(qint64 value) = 0;
    // A file copy that runs to its end without a pause starts now: a window paints itself once.
    virtual void copyStarts() {}
};
