#include "window/artwork.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>

namespace {

using DrawFn = void (*)(QPainter &);

QPixmap render(int w, int h, qreal dpr, DrawFn draw) {
    QPixmap pixmap(QSize(qRound(w * dpr), qRound(h * dpr)));
    pixmap.setDevicePixelRatio(dpr);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    draw(p);
    return pixmap;
}

// Grey, pale and half transparent: a disabled button must not look like one that works, on a
// light or a dark toolbar.
QPixmap disabledFrom(const QPixmap &normal) {
    QImage image = normal.toImage().convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int grey = 110 + qGray(line[x]) / 3;
            line[x] = qRgba(grey, grey, grey, qAlpha(line[x]) / 2);
        }
    }
    QPixmap pixmap = QPixmap::fromImage(image);
    pixmap.setDevicePixelRatio(normal.devicePixelRatio());
    return pixmap;
}

QIcon iconFrom(DrawFn draw) {
    QIcon icon;
    for (qreal dpr : {1.0, 2.0}) {
        const QPixmap normal = render(16, 16, dpr, draw);
        icon.addPixmap(normal);
        icon.addPixmap(disabledFrom(normal), QIcon::Disabled);
    }
    return icon;
}

const QColor kOutline(60, 60, 60);

void drawFolder(QPainter &p) {
    p.setPen(QPen(QColor(150, 110, 20), 1));
    p.setBrush(QColor(236, 196, 80));
    p.drawRect(QRectF(1.5, 4.5, 12, 9));
    QPainterPath flap;
    flap.moveTo(1.5, 13.5);
    flap.lineTo(4.5, 7.5);
    flap.lineTo(15.5, 7.5);
    flap.lineTo(13.5, 13.5);
    flap.closeSubpath();
    p.setBrush(QColor(250, 220, 120));
    p.drawPath(flap);
    p.setBrush(QColor(236, 196, 80));
    p.drawRect(QRectF(1.5, 2.5, 5, 2));
}

void drawDisk(QPainter &p) {
    p.setPen(QPen(kOutline, 1));
    p.setBrush(QColor(50, 90, 170));
    p.drawRect(QRectF(1.5, 1.5, 13, 13));
    p.setBrush(Qt::white);
    p.drawRect(QRectF(3.5, 1.5, 9, 6));
    p.setBrush(QColor(200, 200, 200));
    p.drawRect(QRectF(4.5, 10.5, 7, 4));
}

void drawChip(QPainter &p, qreal y) {
    p.setPen(QPen(kOutline, 1));
    p.setBrush(QColor(70, 70, 70));
    p.drawRect(QRectF(2.5, y + 0.5, 11, 5));
    p.setPen(QPen(QColor(190, 190, 190), 1));
    for (int x = 4; x <= 12; x += 2)
        p.drawLine(QPointF(x, y + 6.5), QPointF(x, y + 7.5));
}

void drawArrow(QPainter &p, bool down, QColor colour) {
    QPainterPath arrow;
    const qreal tip = down ? 15.0 : 1.0, base = down ? 10.0 : 6.0;
    arrow.moveTo(8, tip);
    arrow.lineTo(3, base);
    arrow.lineTo(6, base);
    arrow.lineTo(6, 8);
    arrow.lineTo(10, 8);
    arrow.lineTo(10, base);
    arrow.lineTo(13, base);
    arrow.closeSubpath();
    p.setPen(QPen(colour.darker(150), 1));
    p.setBrush(colour);
    p.drawPath(arrow);
}

// Read from the device: an arrow out of the controller chip, down towards the user.
void drawBackup(QPainter &p) {
    drawChip(p, 0);
    drawArrow(p, true, QColor(40, 160, 60));
}

// Write to the device: an arrow up into the controller chip.
void drawRestore(QPainter &p) {
    drawChip(p, 8.5);
    drawArrow(p, false, QColor(235, 130, 40));
}

// Stop the transfer: a red stop sign with a white bar.
void drawStop(QPainter &p) {
    QPainterPath sign;
    const qreal c = 8, r = 6.5, k = 2.7; // centre, half width, corner cut
    sign.moveTo(c - r + k, c - r);
    sign.lineTo(c + r - k, c - r);
    sign.lineTo(c + r, c - r + k);
    sign.lineTo(c + r, c + r - k);
    sign.lineTo(c + r - k, c + r);
    sign.lineTo(c - r + k, c + r);
    sign.lineTo(c - r, c + r - k);
    sign.lineTo(c - r, c - r + k);
    sign.closeSubpath();
    p.setPen(QPen(QColor(130, 20, 20), 1));
    p.setBrush(QColor(205, 40, 40));
    p.drawPath(sign);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    p.drawRect(QRectF(4, 7, 8, 2));
}

void drawLogo(QPainter &p) {
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(22, 60, 110));
    p.drawRoundedRect(QRectF(0, 0, 104, 24), 3, 3);
    p.setBrush(QColor(240, 170, 40));
    QPainterPath mark;
    mark.moveTo(5, 5);
    mark.lineTo(10, 19);
    mark.lineTo(15, 5);
    mark.lineTo(12.5, 5);
    mark.lineTo(10, 13);
    mark.lineTo(7.5, 5);
    mark.closeSubpath();
    p.drawPath(mark);
    // Fonts differ between systems: the name is made smaller until it fits inside the badge.
    const QString name = QStringLiteral("VELLMORE");
    const QRectF box(19, 0, 81, 24);
    QFont font(QStringLiteral("Sans Serif"));
    font.setBold(true);
    for (int size = 13; size >= 7; --size) {
        font.setPixelSize(size);
        font.setLetterSpacing(QFont::AbsoluteSpacing, size >= 12 ? 1.0 : 0.5);
        p.setFont(font);
        if (p.fontMetrics().horizontalAdvance(name) <= box.width())
            break;
    }
    p.setPen(Qt::white);
    p.drawText(box, Qt::AlignVCenter | Qt::AlignLeft, name);
}

} // namespace

QIcon Artwork::toolbarIcon(const QString &key) {
    if (key == QLatin1String("Open"))
        return iconFrom(drawFolder);
    if (key == QLatin1String("Save"))
        return iconFrom(drawDisk);
    if (key == QLatin1String("Backup"))
        return iconFrom(drawBackup);
    if (key == QLatin1String("Restore"))
        return iconFrom(drawRestore);
    if (key == QLatin1String("Stop"))
        return iconFrom(drawStop);
    return {};
}

QIcon Artwork::windowIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    return icon;
}

QPixmap Artwork::makerLogo(qreal devicePixelRatio) {
    return render(104, 24, devicePixelRatio, drawLogo);
}
