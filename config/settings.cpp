#include "config/settings.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLockFile>
#include <cmath>
#include <utility>

namespace {

const char *const kPlacementKeys[] = {"MainLeft", "MainTop", "MainWidth", "MainHeight"};
const char *const kPortKeys[] = {"Com1", "Com2", "Com3", "Com4"};
const char *const kLastFolderKey = "Files/LastFolder";

// A window coordinate holds at most 2^24 pixels of 15 twips; a value beyond it cannot place a
// window (and would overflow the conversion to pixels).
constexpr float kMaxTwips = 16777216.0f * 15;

float readNumber(QSettings &store, const char *key, float fallback) {
    const QVariant value = store.value(QLatin1String(key));
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const float number = value.toString().trimmed().toFloat(&ok);
    return ok && std::isfinite(number) && std::abs(number) <= kMaxTwips ? number : fallback;
}

bool readTruth(QSettings &store, const char *key, bool fallback) {
    const QVariant value = store.value(QLatin1String(key));
    if (!value.isValid())
        return fallback;
    const QString text = value.toString().trimmed();
    if (text.compare(QLatin1String("True"), Qt::CaseInsensitive) == 0)
        return true;
    if (text.compare(QLatin1String("False"), Qt::CaseInsensitive) == 0)
        return false;
    bool ok = false;
    const double number = text.toDouble(&ok);
    return ok ? number != 0 : fallback;
}

// QSettings waits without limit for its lock file, so a lock that never goes away (left by
// another user's run, or anything else in that place) would hang the program as it closes. Such
// a store counts as one that cannot be written.
bool storeLockFree(const QSettings &store) {
#if defined(Q_OS_WIN) || defined(Q_OS_DARWIN)
    if (store.format() == QSettings::NativeFormat)
        return true; // the registry and the preferences system take no lock file
#endif
    const QString path = store.fileName() + QStringLiteral(".lock");
    if (!QFileInfo::exists(path))
        return true;
    QLockFile lock(path);
    return lock.tryLock(2000);
}

} // namespace

QString numberText(float value) {
    return QString::number(double(value), 'g', 9);
}

StoredSettings readStoredSettings(QSettings &store) {
    StoredSettings values;
    store.beginGroup(QStringLiteral("Settings"));
    float *placement[] = {&values.MainLeft, &values.MainTop, &values.MainWidth, &values.MainHeight};
    for (int i = 0; i < 4; ++i)
        *placement[i] = readNumber(store, kPlacementKeys[i], *placement[i]);
    for (int i = 0; i < 4; ++i)
        values.Com[i] = readTruth(store, kPortKeys[i], values.Com[i]);
    values.VerifyAfterRestore = readTruth(store, "VerifyAfterRestore", false);
    values.BackupBeforeRestore = readTruth(store, "BackupBeforeRestore", false);
    store.endGroup();
    values.LastFolder = store.value(QLatin1String(kLastFolderKey)).toString();
    return values;
}

void writeStoredSettings(QSettings &store, const StoredSettings &values, bool writePlacement) {
    if (!storeLockFree(store))
        return;
    store.beginGroup(QStringLiteral("Settings"));
    if (writePlacement) {
        const float placement[] = {values.MainLeft, values.MainTop, values.MainWidth,
                                   values.MainHeight};
        for (int i = 0; i < 4; ++i)
            store.setValue(QLatin1String(kPlacementKeys[i]), numberText(placement[i]));
    }
    for (int i = 0; i < 4; ++i)
        store.setValue(QLatin1String(kPortKeys[i]),
                       values.Com[i] ? QStringLiteral("True") : QStringLiteral("False"));
    for (const auto &[key, on] : {std::pair{"VerifyAfterRestore", values.VerifyAfterRestore},
                                  std::pair{"BackupBeforeRestore", values.BackupBeforeRestore}})
        store.setValue(QLatin1String(key), on ? QStringLiteral("True") : QStringLiteral("False"));
    store.endGroup();
    if (!values.LastFolder.isEmpty())
        store.setValue(QLatin1String(kLastFolderKey), values.LastFolder);
    store.sync();
}

QSettings *openSettingsStore() {
    return new QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Stowline"),
                         QStringLiteral("Stowline"));
}

bool settingsStoreWritable(const QSettings &store) {
    return storeLockFree(store);
}
