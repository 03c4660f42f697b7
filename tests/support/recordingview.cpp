#include "recordingview.h"

#include <QFileInfo>

QList<qint64> RecordingView::progressValues() const {
    QList<qint64> out;
    for (const QString &line : log)
        if (line.startsWith(QLatin1String("value:")))
            out << line.mid(6).toLongLong();
    return out;
}

void RecordingView::record(const QString &line, bool idle) {
    if (stopSeen)
        ++callsAfterStop;
    lastWasIdle = idle;
    if (keepLog)
        log << line;
    if (onCall)
        onCall();
}

void RecordingView::SetIdleState() {
    busy = false;
    status = QStringLiteral("Waiting for Command");
    record(QStringLiteral("idle"), true);
}

void RecordingView::SetBusyState() {
    busy = true;
    record(QStringLiteral("busy"));
}

RecordingView::FileAnswer RecordingView::takeAnswer(const QString &title, const QString &filter) {
    dialogs << title + QLatin1Char('|') + filter;
    FileAnswer answer = fileAnswers.isEmpty() ? FileAnswer{} : fileAnswers.takeFirst();
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
    record(QStringLiteral("refresh"));
    if (onRefresh)
        onRefresh();
}

void RecordingView::showWarning(const QString &title, const QString &text) {
    warnings << title + QLatin1Char('|') + text;
    record(QStringLiteral("warning:") + warnings.last());
    if (onWarning)
        onWarning();
}
