#pragma once

// The real window with its boxes and file dialogs answered from a script, and the checks the
// window tests share.

#include "../e2e/simprocess.h"
#include "fakecomm.h"
#include "frmmain.h"
#include "scripteddialogs.h"

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QtTest>

inline const QString kNoResponse =
    QStringLiteral("ERROR Message|Error : Controller Failed to respond, Check Communications");

inline QByteArray heldImage(const frmMain &w) {
    return w.image.ConfigData.mid(1, w.image.ConfigLength);
}

inline QStringList enabledImageCommands(const frmMain &w) {
    QStringList on;
    const QList<QPair<const char *, QAction *>> all = {
        {"OpenButton", w.OpenButton},     {"SaveButton", w.SaveButton},
        {"BackupButton", w.BackupButton}, {"RestoreButton", w.RestoreButton},
        {"mnuOpen", w.mnuOpen},           {"mnuSave", w.mnuSave},
        {"mnuBackup", w.mnuBackup},       {"mnuRestore", w.mnuRestore}};
    for (const auto &[name, action] : all)
        if (action->isEnabled())
            on << QLatin1String(name);
    return on;
}

// Idle, port closed, and Save and Restore offered exactly when an image is held. A transfer
// also puts the bar back at rest; a file command that fails leaves it where it stopped.
inline void checkIdle(const frmMain &w, bool barAtRest = true) {
    QVERIFY(!w.MSComm1->portOpen());
    QVERIFY(!w.transferRunning());
    QCOMPARE(w.sbStatusBar->text(), QStringLiteral("Waiting for Command"));
    if (barAtRest)
        QCOMPARE(w.ProgressBar->value(), 0);
    const QStringList expected =
        w.image.ConfigLength >= 1
            ? QStringList{"OpenButton", "SaveButton", "BackupButton", "RestoreButton",
                          "mnuOpen",    "mnuSave",    "mnuBackup",    "mnuRestore"}
            : QStringList{"OpenButton", "BackupButton", "mnuOpen", "mnuBackup"};
    QCOMPARE(enabledImageCommands(w), expected);
    QVERIFY(w.mnuHelpAbout->isEnabled());
    for (QAction *port : w.mniCom)
        QVERIFY(port->isEnabled());
}
