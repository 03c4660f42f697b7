#pragma once

// The results of one benchmark run as the markdown page and the plot show them.

#include <QColor>
#include <QList>
#include <QPointF>
#include <QString>
#include <QStringList>

namespace bench {

// One line of the results table: a figure and the limit it must stay at or under.
struct Figure {
    QString what;
    QString reference; // what it was compared with in the same run, or "-"
    QString measured;  // the raw timings behind the figure
    double value = 0;
    double limit = 0;
    QString unit;           // "x", "%", "ms", "s", "MB"
    QString limitText;      // the target as the table shows it, when "<= limit" does not say it all
    QString note;           // anchor of the section that explains a miss; empty when none is needed
    bool measuredOk = true; // false: the run failed, the figure stands for nothing

    bool met() const { return measuredOk && value <= limit; }
};

// "0.87 ms", "1.25 x", "1.9 %": figures with enough digits to compare, not more.
QString formatValue(double value, const QString &unit);
QString formatDuration(double seconds);
QString verdictText(const Figure &figure);

// The results table in markdown; a miss links to its explanation.
QString markdownTable(const QList<Figure> &figures);

// Escapes the bars a cell may contain.
QString cell(QString text);

// A curve of the plot: time (seconds) against image size (bytes), both on log scales.
struct Series {
    QString name;
    QColor color;
    bool dashed = false; // references are dashed, the tool solid
    QList<QPointF> points;
};

struct Panel {
    QString title;
    QList<Series> series;
};

// Maps a value to [0, 1] on a logarithmic axis from lo to hi (decades).
double logPosition(double value, double lo, double hi);
// Powers of ten that bracket every point of the panel: {lo, hi}.
QPointF decadeRange(const QList<Series> &series, bool horizontal);

// Draws the panels side by side into a PNG. False when the file cannot be written.
bool writePlot(const QString &path, const QList<Panel> &panels, const QString &caption);

} // namespace bench
