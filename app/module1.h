#pragma once

#include <QString>

class Dialogs;
class frmMain;

// The start procedure: creates, loads and shows the one main window, then opens `file` when one
// is named. Tests pass their own dialogs.
namespace Module1 {
frmMain *Main(const QString &file = QString(), Dialogs *dialogs = nullptr);
frmMain *mainWindow();
} // namespace Module1
