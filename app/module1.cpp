#include "module1.h"

#include "frmmain.h"

namespace {
frmMain *g_frmMain = nullptr;
}

frmMain *Module1::Main() {
    g_frmMain = new frmMain;
    g_frmMain->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(g_frmMain, &QObject::destroyed, [] { g_frmMain = nullptr; });
    g_frmMain->Form_Load();
    g_frmMain->show();
    return g_frmMain;
}

frmMain *Module1::mainWindow() {
    return g_frmMain;
}
