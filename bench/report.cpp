#include "report.h"

#include <QFont>
#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QPen>

#include <algorithm>
#include <cmath>

namespace bench {

namespace {

// Three significant digits at most, no exponent, no trailing zeros beyond what they need.
QString significant(double value) {
    const double magnitude = std::fabs(value);
    int decimals = 0;
    if (magnitude < 1)
        decimals = 3;
    else if (magnitude < 10)
        decimals = 2;
    else if (magnitude < 100)
        decimals = 1;
    if (magnitude > 0 && magnitude < 0.01)
        decimals = 4;
    return QString::number(value, 'f', decimals);
}

} // namespace

QString formatValue(double value, const QString &unit) {
    if (!std::isfinite(value))
        return QStringLiteral("n/a");
    return significant(value) + QLatin1Char(' ') + unit;
}

QString formatDuration(double seconds) {
    if (seconds < 1e-3)
        return formatValue(seconds * 1e6, QStringLiteral("µs"));
    if (seconds < 1)
        return formatValue(seconds * 1e3, QStringLiteral("ms"));
    return formatValue(seconds, QStringLiteral("s"));
}

QString verdictText(const Figure &figure) {
    if (!figure.measuredOk)
        return QStringLiteral("**not measured**");
    if (figure.met())
        return QStringLiteral("met");
    const QString missed = QStringLiteral("**missed**");
    return figure.note.isEmpty() ? missed
                                 : missed + QStringLiteral(" ([why](#%1))").arg(figure.note);
}

QString cell(QString text) {
    return text.replace(QLatin1Char('|'), QLatin1String("\\|"))
        .replace(QLatin1Char('\n'), QLatin1Char(' '));
}

QString markdownTable(const QList<Figure> &figures) {
    QString out =
        QStringLiteral("| What | Reference in the same run | Measured (median) | Figure | "
                       "Target | Verdict |\n|---|---|---|---|---|---|\n");
    for (const Figure &f : figures) {
        out += QStringLiteral("| %1 | %2 | %3 | %4 | %5 | %6 |\n")
                   .arg(cell(f.what), cell(f.reference), cell(f.measured),
                        f.measuredOk ? formatValue(f.value, f.unit) : QStringLiteral("-"),
                        f.limitText.isEmpty() ? QStringLiteral("<= ") + formatValue(f.limit, f.unit)
                                              : f.limitText,
                        verdictText(f));
    }
    return out;
}

double logPosition(double value, double lo, double hi) {
    if (value <= 0 || lo <= 0 || hi <= lo)
        return 0;
    return (std::log10(value) - std::log10(lo)) / (std::log10(hi) - std::log10(lo));
}

QPointF decadeRange(const QList<Series> &series, bool horizontal) {
    double lo = INFINITY;
    double hi = 0;
    for (const Series &s : series) {
        for (const QPointF &p : s.points) {
            const double v = horizontal ? p.x() : p.y();
            if (v > 0) {
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
    }
    if (hi <= 0)
        return QPointF(1, 10);
    const double from = std::pow(10.0, std::floor(std::log10(lo)));
    double to = std::pow(10.0, std::ceil(std::log10(hi)));
    if (to <= from)
        to = from * 10;
    return QPointF(from, to);
}

namespace {

// Axis labels at powers of ten: "1 kB", "100 MB", "10 µs", "1 s".
QString decadeLabel(double value, const QStringList &units, double step) {
    int unit = 0;
    while (unit + 1 < units.size() && value >= step * 0.999) {
        value /= step;
        ++unit;
    }
    return QString::number(qRound(value)) + QLatin1Char(' ') + units[unit];
}

QString sizeLabel(double bytes) {
    return decadeLabel(
        bytes,
        {QStringLiteral("B"), QStringLiteral("kB"), QStringLiteral("MB"), QStringLiteral("GB")},
        1000);
}

QString timeLabel(double seconds) {
    if (seconds >= 1)
        return QString::number(qRound(seconds)) + QStringLiteral(" s");
    return decadeLabel(seconds * 1e9,
                       {QStringLiteral("ns"), QStringLiteral("µs"), QStringLiteral("ms")}, 1000);
}

void drawPanel(QPainter &p, const QRect &area, const Panel &panel) {
    const QFontMetrics fm = p.fontMetrics();
    const int legendHeight = 16 * int(panel.series.size()) + 8;
    const QRect plot = area.adjusted(70, 30, -15, -(48 + legendHeight));
    const QPointF xs = decadeRange(panel.series, true);
    const QPointF ys = decadeRange(panel.series, false);
    auto mapX = [&](double v) {
        return plot.left() + logPosition(v, xs.x(), xs.y()) * plot.width();
    };
    auto mapY = [&](double v) {
        return plot.bottom() - logPosition(v, ys.x(), ys.y()) * plot.height();
    };

    p.setPen(Qt::black);
    p.drawText(QRect(area.left(), area.top() + 4, area.width(), 22), Qt::AlignHCenter, panel.title);
    p.setPen(QPen(QColor(225, 225, 225), 1));
    for (double x = xs.x(); x <= xs.y() * 1.0001; x *= 10)
        p.drawLine(QPointF(mapX(x), plot.top()), QPointF(mapX(x), plot.bottom()));
    for (double y = ys.x(); y <= ys.y() * 1.0001; y *= 10)
        p.drawLine(QPointF(plot.left(), mapY(y)), QPointF(plot.right(), mapY(y)));
    p.setPen(QPen(Qt::black, 1));
    p.drawRect(plot);
    for (double x = xs.x(); x <= xs.y() * 1.0001; x *= 10) {
        const QString label = sizeLabel(x);
        const double width = fm.horizontalAdvance(label);
        const double left = qMin(mapX(x) - width / 2.0, double(area.right()) - width - 2);
        p.drawText(QPointF(left, plot.bottom() + 16), label);
    }
    for (double y = ys.x(); y <= ys.y() * 1.0001; y *= 10) {
        const QString label = timeLabel(y);
        p.drawText(QPointF(plot.left() - 6 - fm.horizontalAdvance(label), mapY(y) + 4), label);
    }
    p.drawText(QRect(plot.left(), plot.bottom() + 22, plot.width(), 20), Qt::AlignHCenter,
               QStringLiteral("image size"));

    int legendY = plot.bottom() + 48;
    for (const Series &s : panel.series) {
        QPen pen(s.color, 2);
        if (s.dashed)
            pen.setStyle(Qt::DashLine);
        p.setPen(pen);
        QList<QPointF> points = s.points;
        std::sort(points.begin(), points.end(),
                  [](const QPointF &a, const QPointF &b) { return a.x() < b.x(); });
        QPainterPath path;
        for (int i = 0; i < points.size(); ++i) {
            const QPointF at(mapX(points[i].x()), mapY(points[i].y()));
            if (i == 0)
                path.moveTo(at);
            else
                path.lineTo(at);
        }
        p.drawPath(path);
        p.setBrush(s.color);
        for (const QPointF &pt : points)
            p.drawEllipse(QPointF(mapX(pt.x()), mapY(pt.y())), 3, 3);
        p.setBrush(Qt::NoBrush);
        p.drawLine(plot.left() + 8, legendY, plot.left() + 32, legendY);
        p.setPen(Qt::black);
        p.drawText(QPointF(plot.left() + 38, legendY + 4), s.name);
        legendY += 16;
    }
}

} // namespace

bool writePlot(const QString &path, const QList<Panel> &panels, const QString &caption) {
    const int panelWidth = 560;
    qsizetype most = 0;
    for (const Panel &panel : panels)
        most = qMax(most, panel.series.size());
    const int height = 420 + 16 * int(most);
    QImage image(panelWidth * int(qMax<qsizetype>(1, panels.size())), height + 28,
                 QImage::Format_RGB32);
    image.fill(Qt::white);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font = p.font();
    font.setPixelSize(12);
    p.setFont(font);
    for (int i = 0; i < panels.size(); ++i)
        drawPanel(p, QRect(i * panelWidth, 0, panelWidth, height), panels[i]);
    p.setPen(QColor(90, 90, 90));
    p.drawText(QRect(8, height, image.width() - 16, 24), Qt::AlignLeft | Qt::AlignVCenter, caption);
    p.end();
    return image.save(path, "PNG");
}

} // namespace bench
