#pragma once

// The real window with its boxes and file dialogs answered from a script, and the checks the
// window tests share.

#include "fakeport.h"
#include "scripteddialogs.h"
#include "simprocess.h"
#include "window/mainwindow.h"

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

inline QByteArray heldImage(const MainWindow &w) {
    return w.image().bytes;
}

// The window's child of that objectName; an action unless said otherwise.
template <typename T = QAction> T *child(const QObject &w, const char *name) {
    return w.findChild<T *>(QLatin1String(name));
}

// Triggers the action and waits for the transfer it started, if any, to end; false also when a
// 1-ms timer on the window's thread waited `maxGapMs` or more meanwhile.
inline bool runToEnd(MainWindow &w, const char *action, qint64 maxGapMs = 500) {
    QSignalSpy spy(&w, &MainWindow::transferEnded);
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer tick;
    tick.callOnTimeout([&] { longest = qMax(longest, sinceTick.restart()); });
    sinceTick.start(), tick.start(1);
    child(w, action)->trigger();
    const bool ended = !w.transferRunning() || spy.wait(120000);
    if (longest >= maxGapMs)
        qWarning("the window's thread did not answer for %lld ms", longest);
    return ended && longest < maxGapMs;
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

// Idle, port closed with its thread, and Save and Restore offered exactly when an image is held.
inline void checkIdle(const MainWindow &w) {
    QVERIFY(!w.transferRunning());
    QCOMPARE(child<QLabel>(w, "statusLine")->text(), QStringLiteral("Waiting for Command"));
    QCOMPARE(child<QProgressBar>(w, "progressBar")->value(), 0);
    const bool held = !w.image().isEmpty();
    for (const char *name : {"saveButton", "restoreButton", "saveAction", "restoreAction"})
        QVERIFY2(child(w, name)->isEnabled() == held, name);
    for (const char *name :
         {"openButton", "backupButton", "openAction", "backupAction", "aboutAction", "port1Action",
          "port2Action", "port3Action", "port4Action"})
        QVERIFY2(child(w, name)->isEnabled(), name);
}

// The real window with a simulated controller on Com 1, in a folder of its own.
struct Session {
    QTemporaryDir dir;
    ScriptedDialogs dialogs;
    std::unique_ptr<SimProcess> sim;
    std::unique_ptr<MainWindow> window;

    QString path(const char *name) const { return dir.filePath(QLatin1String(name)); }
    bool start(const QStringList &simArgs) {
        if (!startSim(simArgs))
            return false;
        window = std::make_unique<MainWindow>(&dialogs);
        window->load();
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
        child(*window, "openAction")->trigger();
        return heldImage(*window) == bytes;
    }
};
