#include "window/placement.h"

bool titleBarReachable(const QRect &frame, int titleBarHeight, const QList<QRect> &screens) {
    // A size of 0 or below would turn the rectangle round.
    if (frame.width() < 1)
        return false;
    const QRect titleBar(frame.topLeft(), QSize(frame.width(), qMax(titleBarHeight, 20)));
    for (const QRect &screen : screens) {
        const QRect visible = titleBar.intersected(screen);
        if (visible.width() >= 100 && visible.height() >= 20)
            return true;
    }
    return false;
}
