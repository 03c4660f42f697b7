#pragma once

#include <QSettings>

// The two Restore checks of the Settings menu, kept under section "Settings" as "True" or
// "False" (absent or unreadable: off).
struct CheckSettings {
    bool VerifyAfterRestore = false;
    bool BackupBeforeRestore = false;
};

CheckSettings readCheckSettings(QSettings &store);
// Written into the store only; the caller syncs it with the rest of the settings.
void writeCheckSettings(QSettings &store, const CheckSettings &values);
