#pragma once

// The real window with its boxes and file dialogs answered from a script, and the checks the
// window tests share.

#include "fakecomm.h"
#include "frmmain.h"
#include "scripteddialogs.h"
#include "simprocess.h"

#include <QAction>
#include <QLabel>
#include <QProgressBar>
#include <QSettings>
#include <QtTest>

inline QByteArray heldImage(const frmMain &w) {
    return w.image.ConfigData.mid(1, w.image.ConfigLength);
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
