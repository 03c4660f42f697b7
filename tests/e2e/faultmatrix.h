#pragma once

// The real window and serial port against the controller simulator on Com 1. One Backup or
// Restore with one fault injected, and the checks every such case shares: the box shown, a
// closed port, an idle window offering the right commands, the image, and the bytes the
// controller received.

#include "../app/windowtest.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <memory>

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
    QByteArray held;
    QString configStatus;

    // What reached the controller, byte for byte. When the line died, only a prefix of it
    // (at least rxAtLeast bytes) may have arrived, and the end must be noticed within withinMs.
    QByteArray rx;
    bool lineDied = false;
    int rxAtLeast = 0;
    int withinMs = 0;
};
Q_DECLARE_METATYPE(FaultCase)

// The image a Backup must replace or leave alone: a second-generation file opened before it.
inline const QByteArray kPreviousImage = randomBytes(12, 99);

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
    QVERIFY2(c.rx.startsWith(got), qPrintable(QStringLiteral("the controller received bytes it "
                                                             "should not have (%1 in all)")
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
    QVERIFY(s.start(args + c.faultArgs));

    const bool backup = c.transfer == Transfer::Backup;
    if (backup)
        QVERIFY(s.openImage("previous.SAV", kPreviousImage));
    else
        QVERIFY(s.openImage(c.generation == 1 ? "image.CCF" : "image.SAV", c.image));
    const frmMain &w = *s.window;
    const ConfigImage before = w.image;
    const QString configBefore = w.ConfigStatus->text();
    const QString fileBefore = w.FileStatus->text();
    s.dialogs.asked.clear();

    QElapsedTimer took;
    took.start();
    (backup ? w.BackupButton : w.RestoreButton)->trigger();
    if (c.withinMs > 0)
        QVERIFY2(took.elapsed() < c.withinMs, qPrintable(QString::number(took.elapsed())));

    QCOMPARE(s.dialogs.warnings(), c.box.isEmpty() ? QStringList() : QStringList{c.box});
    checkIdle(w);
    if (QTest::currentTestFailed())
        return;
    QCOMPARE(w.FileStatus->text(), fileBefore);
    QCOMPARE(w.image.ControllerType, backup ? c.type : before.ControllerType);
    QCOMPARE(heldImage(w), backup ? c.held : c.image);
    // A Backup that ends holding nothing shows so.
    QCOMPARE(w.ConfigStatus->text(),
             !backup ? configBefore : c.held.isEmpty() ? QStringLiteral("Empty") : c.configStatus);
    if (!backup)
        QCOMPARE(w.image.ConfigData, before.ConfigData);
    if (QTest::currentTestFailed())
        return;
    checkReceived(rxPath, c);
}
