#pragma once

// One Backup or Restore through the real window and serial port against a simulated controller
// with one fault injected, and the checks every such case shares: the box shown, a closed port,
// an idle window offering the right commands, the image, and the bytes the controller received.

#include "session.h"

#include <QAction>
#include <QElapsedTimer>
#include <QLabel>
#include <QMetaType>
#include <QProgressBar>
#include <QtTest>

enum class Transfer { Backup, Restore };

struct FaultCase {
    Transfer transfer = Transfer::Backup;
    int generation = 1;
    // Backup: the image the controller serves. Restore: the image the window holds and sends.
    QByteArray image;
    QStringList faultArgs;
    double rate = 0; // bytes per second the controller moves; 0 = full speed

    QString box; // "title|text" of the one box expected; empty: none
    // Backup only: what the window holds afterwards. A Restore must leave the image alone.
    qint16 type = 0;
    qint32 length = 0;
    QByteArray data; // ConfigData, index 0 included, had every byte sent been taken
    // When the line died, the bytes from this index on may not have been taken: they are the
    // expected ones up to some point and zeros after it.
    int looseFrom = -1;
    QString configStatus;

    // What reached the controller, byte for byte. When the line died, only a prefix of it
    // (at least rxAtLeast bytes) may have arrived.
    QByteArray rx;
    bool lineDied = false;
    int rxAtLeast = 0;
};
Q_DECLARE_METATYPE(FaultCase)

// The image a Backup must replace or leave alone: a second-generation file opened before it.
inline const QByteArray kPreviousImage = patterned(12, 99);
inline const QString kPreviousStatus = QStringLiteral("12 bytes");

inline QByteArray zeros(qsizetype n) {
    return QByteArray(n, '\0');
}
// ConfigData holding `bytes`: index 0 is never used.
inline QByteArray asHeld(const QByteArray &bytes) {
    return zeros(1) + bytes;
}

inline QByteArray lengthBytes(quint32 n) {
    QByteArray bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes += char((n >> shift) & 0xFF);
    return bytes;
}

inline char xorOf(const QByteArray &bytes) {
    char sum = 0;
    for (const char b : bytes)
        sum = char(sum ^ b);
    return sum;
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

inline void checkBackupImage(const frmMain &w, const FaultCase &c) {
    QCOMPARE(w.image.ControllerType, c.type);
    QCOMPARE(w.image.ConfigLength, c.length);
    QCOMPARE(w.ConfigStatus->text(), c.configStatus);
    const QByteArray &data = w.image.ConfigData;
    QCOMPARE(data.size(), c.data.size());
    qsizetype upTo = data.size();
    if (c.looseFrom >= 0) {
        upTo = c.looseFrom;
        for (qsizetype i = c.looseFrom; i < data.size(); ++i)
            if (data.at(i) != '\0')
                upTo = i + 1;
    }
    QVERIFY2(data.left(upTo) == c.data.left(upTo), "the image differs from the one expected");
}

// Waits until the controller has read everything the tool sent, then makes sure nothing
// follows. A paced controller reads slowly, so it gets longer to show a stray byte.
inline void checkReceived(const QString &rxPath, const FaultCase &c) {
    QElapsedTimer waited;
    waited.start();
    QByteArray got = readAll(rxPath);
    const qsizetype enough = c.lineDied ? c.rxAtLeast : c.rx.size();
    while (got.size() < enough && c.rx.startsWith(got) && waited.elapsed() < 20000) {
        QTest::qWait(50);
        got = readAll(rxPath);
    }
    QVERIFY2(c.rx.startsWith(got),
             qPrintable(QStringLiteral("the controller received bytes it should not have (%1 in "
                                       "all)")
                            .arg(got.size())));
    QVERIFY2(
        got.size() >= enough,
        qPrintable(QStringLiteral("received %1 bytes, expected %2").arg(got.size()).arg(enough)));
    if (c.lineDied)
        return;
    QTest::qWait(250 + (c.rate > 0 ? int(1000 / c.rate) : 0));
    QVERIFY2(readAll(rxPath) == c.rx, "bytes went out after the transfer had ended");
}

inline void runFaultCase(const FaultCase &c) {
    Session s;
    const QString rxPath = s.path("rx.bin");
    QStringList args{QStringLiteral("--generation=%1").arg(c.generation),
                     QStringLiteral("--record-rx=") + rxPath};
    if (c.transfer == Transfer::Backup) {
        QVERIFY(writeAll(s.path("controller.img"), c.image));
        args << QStringLiteral("--image=") + s.path("controller.img");
    }
    if (c.rate > 0)
        args << QStringLiteral("--rate=%1").arg(c.rate);
    args << c.faultArgs;
    QVERIFY(s.start(args));

    if (c.transfer == Transfer::Backup)
        QVERIFY(s.openImage("previous.SAV", kPreviousImage));
    else
        QVERIFY(s.openImage(c.generation == 1 ? "image.CCF" : "image.SAV", c.image));
    const frmMain &w = *s.window;
    const ConfigImage before = w.image;
    const QString configBefore = w.ConfigStatus->text();
    const QString fileBefore = w.FileStatus->text();
    s.dialogs.asked.clear();

    (c.transfer == Transfer::Backup ? w.BackupButton : w.RestoreButton)->trigger();

    QCOMPARE(s.dialogs.warnings(), c.box.isEmpty() ? QStringList() : QStringList{c.box});
    checkIdle(w);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(w.FileStatus->text(), fileBefore);
    if (c.transfer == Transfer::Backup) {
        checkBackupImage(w, c);
    } else {
        QCOMPARE(w.image.ConfigData, before.ConfigData);
        QCOMPARE(w.image.ConfigLength, before.ConfigLength);
        QCOMPARE(w.image.ControllerType, before.ControllerType);
        QCOMPARE(w.ConfigStatus->text(), configBefore);
    }
    if (QTest::currentTestFailed())
        return;
    checkReceived(rxPath, c);
}
