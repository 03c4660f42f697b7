// What the Restore checks cost in time: one Restore through the real window and port, with
// verify and the snapshot as the environment asks, against a controller on STOWLINE_COM1.
//   STOWLINE_IMAGE=file.SAV [STOWLINE_VERIFY=1] [STOWLINE_SNAPSHOT=1]
//     tools/run-with-sim.sh build/bench/bench_restorechecks --generation=2 --rate=960
//     --keep-restored
#include "window/dialogs.h"
#include "window/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <cstdio>

namespace {
// Answers the one Open dialog with the image and prints every box instead of showing it.
class PrintingDialogs : public Dialogs {
public:
    void warning(QWidget *, const QString &title, const QString &text) override {
        std::printf("box: %s | %s\n", qPrintable(title), qPrintable(text));
    }
    bool question(QWidget *, const QString &, const QString &) override { return false; }
    Answer yesNoCancel(QWidget *, const QString &, const QString &) override { return Answer::No; }
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &) override {
        return {};
    }
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override {
        return qEnvironmentVariable("STOWLINE_IMAGE");
    }
};
} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    PrintingDialogs dialogs;
    MainWindow w(&dialogs);
    w.load();
    w.show();
    w.open();
    auto *verify = w.findChild<QAction *>(QStringLiteral("verifyAfterRestoreAction"));
    auto *snapshot = w.findChild<QAction *>(QStringLiteral("backupBeforeRestoreAction"));
    verify->setChecked(qEnvironmentVariableIsSet("STOWLINE_VERIFY"));
    snapshot->setChecked(qEnvironmentVariableIsSet("STOWLINE_SNAPSHOT"));
    QEventLoop idle;
    QObject::connect(&w, &MainWindow::transferEnded, &idle, &QEventLoop::quit);
    QElapsedTimer took;
    took.start();
    w.restore();
    if (w.transferRunning())
        idle.exec();
    std::printf("restore verify=%d snapshot=%d: %.1f s; status: %s\n", int(verify->isChecked()),
                int(snapshot->isChecked()), double(took.elapsed()) / 1000.0,
                qPrintable(w.findChild<QLabel *>(QStringLiteral("statusLine"))->text()));
    return 0;
}
