#pragma once

#include <QRect>
#include <QSettings>
#include <QString>

// The persisted placement (twips), port marks and Restore checks, under section "Settings", and
// the folder of the file used last.
struct StoredSettings {
    float MainLeft = 1000;
    float MainTop = 1000;
    float MainWidth = 6000;
    float MainHeight = 3855;
    bool Com[4] = {true, false, false, false};
    bool VerifyAfterRestore = false;
    bool BackupBeforeRestore = false;
    // Folder of the file used last, where the file dialogs open ("Files/LastFolder"); empty
    // when none was used yet. Written only when known.
    QString LastFolder;
};

// Values that are absent or do not convert fall back to the defaults.
StoredSettings readStoredSettings(QSettings &store);
// Placement is written only when writePlacement is true (the window was not minimised).
void writeStoredSettings(QSettings &store, const StoredSettings &values, bool writePlacement);

// False when another run holds the store's lock and does not let go: writing would hang.
bool settingsStoreWritable(const QSettings &store);

// The store the program uses: per user, application name "Stowline".
QSettings *openSettingsStore();

// Text of a single-precision number as the store keeps it ("1000", "1234.5").
QString numberText(float value);
