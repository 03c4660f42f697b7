#pragma once

#include "filecommands.h"
#include "transferui.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <QStringList>
#include <functional>

// The view double of the transfers and file commands: shows state as the window would, records
// every call as a short line ("status:<text>", "min:<n>", "max:<n>", "value:<n>",
// "config:<text>", "file:<text>", "idle", "busy", "refresh", "warning:<title>|<text>") and
// answers file dialogs from a script. The hooks run after every call (onCall), while the "box"
// is open (onWarning) and at each repaint, just before a file is touched (onRefresh).
class RecordingView : public FileUi, public TransferUi {
public:
    QStringList log;
    bool keepLog = true; // off for long fuzz runs
    std::function<void()> onCall, onWarning, onRefresh;
    struct FileAnswer {
        QString path, title; // title: bare file name; from path when empty
    };
    QList<FileAnswer> fileAnswers; // taken front first; none left or an empty path: Cancel
    QStringList dialogs;           // "<title>|<filter>" of each file dialog
    qint16 selectedPort = 1;
    bool stop = false, stopSeen = false; // stopRequested() has answered true
    int callsAfterStop = 0;              // view calls once the stop was seen
    QString status, configStatus, fileStatus;
    qint64 progressMax = 100, progressValue = 0;
    bool busy = false, lastWasIdle = false;
    QStringList warnings; // "<title>|<text>"

    QStringList linesWith(const QString &part) const { return log.filter(part); }
    QList<qint64> progressValues() const { // every "value:" in order
        QList<qint64> out;
        for (const QString &line : log.filter(QRegularExpression("^value:")))
            out << line.mid(6).toLongLong();
        return out;
    }
    void setStatus(const QString &text) override { record("status:" + (status = text)); }
    void setProgressMin(qint64 v) override { record("min:" + QString::number(v)); }
    void setProgressMax(qint64 v) override { record("max:" + QString::number(progressMax = v)); }
    void setProgressValue(qint64 v) override {
        record("value:" + QString::number(progressValue = v));
    }
    void setConfigStatus(const QString &text) override {
        record("config:" + (configStatus = text));
    }
    void setFileStatus(const QString &text) override { record("file:" + (fileStatus = text)); }
    void SetIdleState() override {
        busy = false;
        status = QStringLiteral("Waiting for Command");
        record(QStringLiteral("idle"), true);
    }
    void SetBusyState() override { busy = true, record(QStringLiteral("busy")); }
    QString askSaveFileName(const QString &title, const QString &filter) override {
        return takeAnswer(title, filter).path;
    }
    QString askOpenFileName(const QString &title, const QString &filter,
                            QString *fileTitle) override {
        const FileAnswer answer = takeAnswer(title, filter);
        if (fileTitle)
            *fileTitle = answer.title;
        return answer.path;
    }
    void refresh() override { record(QStringLiteral("refresh"), false, onRefresh); }
    qint16 GetSelectedPort() override { return selectedPort; }
    void showWarning(const QString &title, const QString &text) override {
        warnings << title + QLatin1Char('|') + text;
        record(QStringLiteral("warning:") + warnings.last(), false, onWarning);
    }
    bool stopRequested() override { return stopSeen = stopSeen || stop; }

private:
    void record(const QString &line, bool idle = false, const std::function<void()> &hook = {}) {
        callsAfterStop += stopSeen ? 1 : 0;
        lastWasIdle = idle;
        if (keepLog)
            log << line;
        if (onCall)
            onCall();
        if (hook)
            hook();
    }
    FileAnswer takeAnswer(const QString &title, const QString &filter) {
        dialogs << title + QLatin1Char('|') + filter;
        FileAnswer answer = fileAnswers.isEmpty() ? FileAnswer{} : fileAnswers.takeFirst();
        if (answer.title.isEmpty() && !answer.path.isEmpty())
            answer.title = QFileInfo(answer.path).fileName();
        return answer;
    }
};
