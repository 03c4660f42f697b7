#include "recordingview.h"

#include <QFileInfo>

QStringList RecordingView::linesStartingWith(const QString &prefix) const {
    QStringList out;
    for (const QString &line : log)
        if (line.startsWith(prefix))
            out << line;
    return out;
}

QList<qint64> RecordingView::progressValues() const {
    QList<qint64> out;
    for (const QString &line : linesStartingWith(QStringLiteral("value:")))
        out << line.mid(6).toLongLong();
    return out;
}

void RecordingView::setStatus(const QString &text) {
    status = text;
    log << QStringLiteral("status:") + text;
}

void RecordingView::setProgressMin(qint64 value) {
    progressMin = value;
    log << QStringLiteral("min:%1").arg(value);
}

void RecordingView::setProgressMax(qint64 value) {
    progressMax = value;
    log << QStringLiteral("max:%1").arg(value);
}

void RecordingView::setProgressValue(qint64 value) {
    progressValue = value;
    log << QStringLiteral("value:%1").arg(value);
}

void RecordingView::setConfigStatus(const QString &text) {
    configStatus = text;
    log << QStringLiteral("config:") + text;
}

void RecordingView::setFileStatus(const QString &text) {
    fileStatus = text;
    log << QStringLiteral("file:") + text;
}

void RecordingView::SetIdleState() {
    busy = false;
    status = QStringLiteral("Waiting for Command");
    log << QStringLiteral("idle");
}

void RecordingView::SetBusyState() {
    busy = true;
    log << QStringLiteral("busy");
}

RecordingView::FileAnswer RecordingView::takeAnswer(const QString &title, const QString &filter) {
    dialogTitles << title;
    dialogFilters << filter;
    if (fileAnswers.isEmpty())
        return {};
    FileAnswer answer = fileAnswers.takeFirst();
    if (answer.title.isEmpty() && !answer.path.isEmpty())
        answer.title = QFileInfo(answer.path).fileName();
    return answer;
}

QString RecordingView::askSaveFileName(const QString &title, const QString &filter) {
    return takeAnswer(title, filter).path;
}

QString RecordingView::askOpenFileName(const QString &title, const QString &filter,
                                       QString *fileTitle) {
    const FileAnswer answer = takeAnswer(title, filter);
    if (fileTitle)
        *fileTitle = answer.title;
    return answer.path;
}

void RecordingView::refresh() {
    log << QStringLiteral("refresh");
    if (onRefresh)
        onRefresh();
}

void RecordingView::showWarning(const QString &title, const QString &text) {
    warnings << title + QLatin1Char('|') + text;
    log << QStringLiteral("warning:") + title + QLatin1Char('|') + text;
    if (onWarning)
        onWarning();
}
