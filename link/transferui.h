#pragma once

#include "commandview.h"

#include <QString>

// What the transfers need of the main window beyond the shared view.
class TransferUi : public virtual CommandView {
public:
    virtual qint16 GetSelectedPort() = 0;
    // True once the user has chosen to stop the transfer (closing the window).
    virtual bool stopRequested() = 0;
};
