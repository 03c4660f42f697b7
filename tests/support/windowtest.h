#pragma once

// The real window with its boxes and file dialogs answered from a script, and the checks the
// window tests share.

#include "fakecomm.h"
#include "frmmain.h"
#include "scripteddialogs.h"
#include "simprocess.h"

#include <QAction>
#include <QDropEvent>
#include <QLabel>
#include <QMimeData>
#include <QProgressBar>
#include <QSettings>
#include <QTemporaryDir>
#include <QUrl>
#include <QtTest>
#include <memory>

inline QByteArray heldImage(const frmMain &w) {
    return w.image.ConfigData.mid(1, w.image.ConfigLength);
}

// Drag enter then drop of `path` on the window; true when both were accepted.
inline bool dropFile(QWidget *window, const QString &path) {
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(path)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    enter.ignore(), drop.ignore();
    QApplication::sendEvent(window, &enter);
    QApplication::sendEvent(window, &drop);
    return enter.isAccepted() && drop.isAccepted();
}

inline QSettings settingsStore() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Stowline"),
                     QStringLiteral("Stowline"));
}

// Idle, port closed, and Save and Restore offered exactly when an image is held.
inline void checkIdle(const frmMain &w) {
    QVERIFY(!w.MSComm1->portOpen());
    QVERIFY(!w.transferRunning());
    QCOMPARE(w.sbStatusBar->text(), QStringLiteral("Waiting for Command"));
    QCOMPARE(w.ProgressBar->value(), 0);
    const bool held = w.image.ConfigLength >= 1;
    for (QAction *a : {w.SaveButton, w.RestoreButton, w.mnuSave, w.mnuRestore})
        QVERIFY2(a->isEnabled() == held, qPrintable(a->objectName()));
    for (QAction *a : {w.OpenButton, w.BackupButton, w.mnuOpen, w.mnuBackup, w.mnuHelpAbout,
                       w.mniCom[0], w.mniCom[1], w.mniCom[2], w.mniCom[3]})
        QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));
}

// The real window with a simulated controller on Com 1, in a folder of its own.
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
        qputenv("STOWLINE_COM1", sim->device().toLocal8Bit());
        return !sim->device().isEmpty();
    }
    // Opens `name` in the session folder holding `bytes` through the window's Open.
    bool openImage(const char *name, const QByteArray &bytes) {
        if (!writeAll(path(name), bytes))
            return false;
        dialogs.fileAnswers << path(name);
        window->mnuOpen->trigger();
        return heldImage(*window) == bytes;
    }
};
