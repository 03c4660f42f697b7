#pragma once

class frmMain;

// The start procedure: creates, loads and shows the one main window.
namespace Module1 {
frmMain *Main();
frmMain *mainWindow();
} // namespace Module1
