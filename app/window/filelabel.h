#pragma once

#include <QLabel>

// The File box's label. Its text (and accessible name) stays what the file commands set, the path's
// last 60 characters; what it paints always ends with the whole file name, with the folders
// before it cut at the left when the label is too narrow. The full path is its tooltip.
class FileLabel : public QLabel {
    Q_OBJECT

public:
    using QLabel::QLabel;

    // The full path behind the text; empty when the text names no file ("None").
    void setPath(const QString &path);
    // What the label paints at its current width.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString path_;
};
