#pragma once

#include "link/portinventory.h"

// The command line's entry: runs one command without a window and returns the exit code.
// Call it before any application object exists; it makes its own QCoreApplication.
namespace Cli {
int run(int &argc, char **argv, const PortInventory &inventory = systemSerialPorts);
}
