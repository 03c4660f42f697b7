// What the Restore checks cost in time: one Restore through the real window and port, with
// verify and the snapshot as the environment asks, against a controller on STOWLINE_COM1.
//   STOWLINE_IMAGE=file.SAV [STOWLINE_VERIFY=1] [STOWLINE_SNAPSHOT=1]
//     tools/run-with-sim.sh build/bench/bench_restorechecks --generation=2 --rate=960
//     --keep-restored
#include "dialogs.h"
#include "frmmain.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QTimer>
#include <cstdio>

namespace {
// Answers the one Open dialog with the image and prints every box instead of showing it.
class PrintingDialogs : public Dialogs {
public:
    void warning(QWidget *, const QString &title, const QString &text) override {
        std::printf("box: %s | %s\n", qPrintable(title), qPrintable(text));
    }
    bool question(QWidget *, const QString &, const QString &) override { return false; }
    QString saveFileName(QWidget *, const QString &, const QString &) override { return {}; }
    QString openFileName(QWidget *, const QString &, const QString &) override {
        return qEnvironmentVariable("STOWLINE_IMAGE");
    }
};
} // namespace

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    PrintingDialogs dialogs;
    frmMain w(&dialogs);
    w.Form_Load();
    w.show();
    w.mnuOpen->trigger();
    w.mnuVerifyAfterRestore->setChecked(qEnvironmentVariableIsSet("STOWLINE_VERIFY"));
    w.mnuBackupBeforeRestore->setChecked(qEnvironmentVariableIsSet("STOWLINE_SNAPSHOT"));
    QElapsedTimer took;
    took.start();
    w.mnuRestore->trigger();
    std::printf("restore verify=%d snapshot=%d: %.1f s; status: %s\n",
                int(w.mnuVerifyAfterRestore->isChecked()),
                int(w.mnuBackupBeforeRestore->isChecked()), double(took.elapsed()) / 1000.0,
                qPrintable(w.sbStatusBar->text()));
    return 0;
}
