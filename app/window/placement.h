#pragma once

#include <QList>
#include <QRect>

// Whether a window whose frame would sit at `frame` can still be grabbed and moved: at least
// 100 x 20 pixels of its title bar (the top `titleBarHeight` pixels of the frame) lie on one
// of the screens' usable areas.
bool titleBarReachable(const QRect &frame, int titleBarHeight, const QList<QRect> &screens);
