#pragma once

#include "config/filecommands.h"
#include "link/stoptoken.h"
#include "link/transfer.h"

#include <QRegularExpression>
#include <QStringList>
#include <functional>

// What a job reports and what the file commands show, kept as the window would and recorded as
// short lines ("status:<text>", "range:<min>..<max>", "value:<n>", "held:<n>", "writing:on",
// "config:<text>", "file:<path>", "idle", "busy", "refresh", "warning:<title>|<text>"); file
// dialogs are answered from a script. The hooks run after every line (onCall) and at each
// repaint, just before a file is touched (onRefresh).
class Recorder : public TransferObserver, public FileView {
public:
    QStringList log;
    bool keepLog = true; // off for long fuzz runs
    std::function<void()> onCall, onRefresh;
    QStringList fileAnswers; // paths, taken front first; none left or an empty one: Cancel
    const StopToken *stop = nullptr;
    int callsAfterStop = 0; // reports of progress once the stop was asked for
    QString statusLine, configStatus, filePath;
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

    void status(const QString &text) override { record("status:" + (statusLine = text)); }
    void progressRange(qint64 min, qint64 max) override {
        progressMax = max;
        record(QStringLiteral("range:%1..%2").arg(min).arg(max));
    }
    void progress(qint64 v) override { record("value:" + QString::number(progressValue = v)); }
    void imageHeld(qint64 length) override { record("held:" + QString::number(length)); }
    void writing(bool on) override { record(on ? "writing:on" : "writing:off", false, {}, false); }

    void setConfigStatus(const QString &text) override {
        record("config:" + (configStatus = text));
    }
    void setFilePath(const QString &path) override { record("file:" + (filePath = path)); }
    void setIdleState() override {
        busy = false;
        statusLine = QStringLiteral("Waiting for Command");
        record(QStringLiteral("idle"), true);
    }
    void setBusyState() override { busy = true, record(QStringLiteral("busy")); }
    QString askSaveFileName(const QString &, const QString &) override { return takeAnswer(); }
    QString askOpenFileName(const QString &, const QString &) override { return takeAnswer(); }
    void copyStarts() override { record(QStringLiteral("refresh"), false, onRefresh); }
    void showWarning(const QString &title, const QString &text) override {
        warnings << title + QLatin1Char('|') + text;
        record(QStringLiteral("warning:") + warnings.last());
    }

private:
    void record(const QString &line, bool idle = false, const std::function<void()> &hook = {},
                bool progressReport = true) {
        callsAfterStop += progressReport && stop && stop->requested() ? 1 : 0;
        lastWasIdle = idle;
        if (keepLog)
            log << line;
        if (onCall)
            onCall();
        if (hook)
            hook();
    }
    QString takeAnswer() { return fileAnswers.isEmpty() ? QString() : fileAnswers.takeFirst(); }
};
