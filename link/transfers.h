#pragma once

#include "clock.h"
#include "commcontrol.h"
#include "configimage.h"
#include "transferui.h"

// Backup and Restore of both controller generations, over the port, the clock and the view.
// When the view asks to stop, a transfer closes the port and returns at once: no box, no
// further bytes, no state change.
class Transfers {
public:
    Transfers(CommControl &port, Clock &clock, TransferUi &ui, ConfigImage &image)
        : port_(port), clock_(clock), ui_(ui), image_(image) {}

    void mnuBackup_Click();
    void mnuRestore_Click();

private:
    CommControl &port_;
    Clock &clock_;
    TransferUi &ui_;
    ConfigImage &image_;
};
