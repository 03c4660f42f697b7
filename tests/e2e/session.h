#pragma once

// The real window, answered by scripted dialogs, with the controller simulator on Com 1.

#include "../app/scripteddialogs.h"
#include "frmmain.h"
#include "simprocess.h"

#include <QAction>
#include <QLabel>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <memory>

inline const QString kNoResponse =
    QStringLiteral("ERROR Message|Error : Controller Failed to respond, Check Communications");

inline QByteArray patterned(int n, quint32 seed) {
    QByteArray bytes(n, Qt::Uninitialized);
    QRandomGenerator gen(seed);
    for (char &c : bytes)
        c = char(gen.bounded(256));
    return bytes;
}

inline QByteArray heldImage(const frmMain &w) {
    return w.image.ConfigData.mid(1, w.image.ConfigLength);
}

struct Session {
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<frmMain> window;

    QString path(const char *name) const { return dir.filePath(QLatin1String(name)); }

    bool start(const QStringList &simArgs) {
        if (!startSim(simArgs))
            return false;
        window = std::make_unique<frmMain>(&dialogs);
        window->Form_Load();
        window->show();
        return true;
    }
    // A fresh simulator on Com 1; the window, if any, stays as it is.
    bool startSim(const QStringList &simArgs) {
        sim = std::make_unique<SimProcess>(simArgs);
        if (sim->device().isEmpty())
            return false;
        qputenv("STOWLINE_COM1", sim->device().toLocal8Bit());
        return true;
    }
    bool idleWithPortClosed() const {
        return !window->MSComm1->portOpen() && !window->transferRunning() &&
               window->mnuOpen->isEnabled() && window->BackupButton->isEnabled() &&
               window->sbStatusBar->text() == QStringLiteral("Waiting for Command");
    }
    // Opens `name` in the session folder holding `bytes` through the window's Open.
    bool openImage(const char *name, const QByteArray &bytes) {
        if (!writeAll(path(name), bytes))
            return false;
        dialogs.fileAnswers << path(name);
        window->mnuOpen->trigger();
        return window->image.ConfigLength == bytes.size() && heldImage(*window) == bytes;
    }
};
