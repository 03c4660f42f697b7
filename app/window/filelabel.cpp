#include "window/filelabel.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QStyle>

void FileLabel::setPath(const QString &path) {
    path_ = path;
    setToolTip(QDir::toNativeSeparators(path));
    update();
}

QString FileLabel::shownText() const {
    if (path_.isEmpty())
        return text();
    // The 60-character tail, or the whole name when the name alone is longer.
    const QString name = QFileInfo(path_).fileName();
    const QString tail = text().endsWith(name) ? text() : name;
    return fontMetrics().elidedText(tail, Qt::ElideLeft, contentsRect().width());
}

void FileLabel::paintEvent(QPaintEvent *event) {
    if (path_.isEmpty()) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    drawFrame(&painter);
    style()->drawItemText(&painter, contentsRect(),
                          QStyle::visualAlignment(layoutDirection(), alignment()), palette(),
                          isEnabled(), shownText(), foregroundRole());
}
