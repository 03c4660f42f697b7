#pragma once

#include "filecommands.h"
#include "transferui.h"

#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// A view that records every call in order, as short text lines, and answers dialogs from a
// script. Lines: "status:<text>", "min:<n>", "max:<n>", "value:<n>", "config:<text>",
// "file:<text>", "idle", "busy", "refresh", "warning:<title>|<text>".
class RecordingView : public FileUi, public TransferUi {
public:
    QStringList log;

    // Answers for the next dialogs, taken front first; an empty path means Cancel.
    struct FileAnswer {
        QString path;
        QString title; // bare file name; derived from path when empty
    };
    QList<FileAnswer> fileAnswers;
    QStringList dialogTitles;
    QStringList dialogFilters;

    qint16 selectedPort = 1;
    bool stop = false;
    std::function<void()> onWarning; // runs while the "box" is open
    std::function<void()> onRefresh; // runs at each repaint, just before a file is touched

    // Shown state, as the window would show it.
    QString status;
    QString configStatus;
    QString fileStatus;
    qint64 progressMin = 0, progressMax = 100, progressValue = 0;
    bool busy = false;
    QStringList warnings; // "<title>|<text>"

    QStringList linesStartingWith(const QString &prefix) const;
    QList<qint64> progressValues() const; // every "value:" in order

    // CommandView
    void setStatus(const QString &text) override;
    void setProgressMin(qint64 value) override;
    void setProgressMax(qint64 value) override;
    void setProgressValue(qint64 value) override;
    void setConfigStatus(const QString &text) override;
    void setFileStatus(const QString &text) override;
    void SetIdleState() override;
    void SetBusyState() override;
    // FileUi
    QString askSaveFileName(const QString &title, const QString &filter) override;
    QString askOpenFileName(const QString &title, const QString &filter,
                            QString *fileTitle) override;
    void refresh() override;
    // TransferUi
    qint16 GetSelectedPort() override { return selectedPort; }
    void showWarning(const QString &title, const QString &text) override;
    bool stopRequested() override { return stop; }

private:
    FileAnswer takeAnswer(const QString &title, const QString &filter);
};
