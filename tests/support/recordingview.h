#pragma once

#include "filecommands.h"
#include "transferui.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// The view double of the transfers and file commands: shows state as the window would, records
// every call as a short line ("status:<text>", "min:<n>", "max:<n>", "value:<n>",
// "config:<text>", "file:<text>", "idle", "busy", "refresh", "warning:<title>|<text>") and
// answers file dialogs from a script. onCall runs after every call, so checks can run while
// a command is still going.
class RecordingView : public FileUi, public TransferUi {
public:
    QStringList log;
    bool keepLog = true; // off for long fuzz runs
    std::function<void()> onCall;
    std::function<void()> onWarning; // while the "box" is open
    std::function<void()> onRefresh; // at each repaint, just before a file is touched

    struct FileAnswer {
        QString path;
        QString title; // bare file name; derived from path when empty
    };
    QList<FileAnswer> fileAnswers; // taken front first; none left or an empty path: Cancel
    QStringList dialogs;           // "<title>|<filter>" of each file dialog

    qint16 selectedPort = 1;
    bool stop = false;
    bool stopSeen = false;  // stopRequested() has answered true
    int callsAfterStop = 0; // view calls once the stop was seen

    QString status, configStatus, fileStatus;
    qint64 progressMin = 0, progressMax = 100, progressValue = 0;
    bool busy = false, lastWasIdle = false;
    QStringList warnings; // "<title>|<text>"

    QStringList linesWith(const QString &part) const { return log.filter(part); }
    QList<qint64> progressValues() const; // every "value:" in order

    void setStatus(const QString &text) override { record("status:" + (status = text)); }
    void setProgressMin(qint64 v) override { record("min:" + QString::number(progressMin = v)); }
    void setProgressMax(qint64 v) override { record("max:" + QString::number(progressMax = v)); }
    void setProgressValue(qint64 v) override {
        record("value:" + QString::number(progressValue = v));
    }
    void setConfigStatus(const QString &text) override {
        record("config:" + (configStatus = text));
    }
    void setFileStatus(const QString &text) override { record("file:" + (fileStatus = text)); }
    void SetIdleState() override;
    void SetBusyState() override;
    QString askSaveFileName(const QString &title, const QString &filter) override;
    QString askOpenFileName(const QString &title, const QString &filter,
                            QString *fileTitle) override;
    void refresh() override;
    qint16 GetSelectedPort() override { return selectedPort; }
    void showWarning(const QString &title, const QString &text) override;
    bool stopRequested() override { return stopSeen = stopSeen || stop; }

private:
    void record(const QString &line, bool idle = false);
    FileAnswer takeAnswer(const QString &title, const QString &filter);
};
