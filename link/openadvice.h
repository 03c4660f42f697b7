#pragma once

#include "link/portinventory.h"
#include "link/serialport.h"
#include "link/transfertexts.h"

#include <QString>
#include <functional>

// The group that owns a device node, on Linux; empty when unknown, and elsewhere.
QString deviceGroup(const QString &device);
using DeviceGroupLookup = std::function<QString(const QString &device)>;

// One line of advice for a port that did not open, or empty when there is none to give. The
// inventory is asked only about a missing device, the group only about a refused permission.
// Each face names its own way of choosing a device.
QString openAdvice(OpenFailure failure, const QString &device, const PortInventory &present,
                   texts::Face face = texts::Face::Window,
                   const DeviceGroupLookup &groupOf = deviceGroup);
