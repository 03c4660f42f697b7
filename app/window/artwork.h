#pragma once

#include <QIcon>
#include <QPixmap>
#include <QString>

// Pictures drawn in code, so they stay crisp at any scale; the window icon is the application
// icon's rendered sizes.
namespace Artwork {
// 16 x 16 toolbar pictures under the keys "Open", "Save", "Backup", "Restore", "Stop".
QIcon toolbarIcon(const QString &key);
QIcon windowIcon();
// The maker's 104 x 24 logo.
QPixmap makerLogo(qreal devicePixelRatio);
} // namespace Artwork
