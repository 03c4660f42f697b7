#include "module1.h"

#include "frmmain.h"

namespace {
frmMain *g_frmMain = nullptr;
}

frmMain *Module1::Main(const QString &file, Dialogs *dialogs) {
    g_frmMain = new frmMain(dialogs);
    g_frmMain->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(g_frmMain, &QObject::destroyed, [] { g_frmMain = nullptr; });
    g_frmMain->Form_Load();
    g_frmMain->show();
    if (!file.isEmpty())
        g_frmMain->openFile(file);
    return g_frmMain;
}

frmMain *Module1::mainWindow() {
    return g_frmMain;
}
