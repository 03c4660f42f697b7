#pragma once

#include <QString>
#include <QtGlobal>

// What a running command shows. The main window implements it; tests record it.
class CommandView {
public:
    virtual ~CommandView() = default;

    virtual void setStatus(const QString &text) = 0; // the status line
    virtual void setProgressMin(qint64 value) = 0;
    virtual void setProgressMax(qint64 value) = 0;
    virtual void setProgressValue(qint64 value) = 0;
    virtual void setConfigStatus(const QString &text) = 0;
    virtual void setFileStatus(const QString &text) = 0;

    virtual void SetIdleState() = 0; // also sets the status line to "Waiting for Command"
    virtual void SetBusyState() = 0;

    // A modal warning box with an OK button only; returns when the user has closed it.
    virtual void showWarning(const QString &title, const QString &text) = 0;
};
