#include "settings.h"

#include <QCoreApplication>
#include <cmath>

namespace {

const char *const kPlacementKeys[] = {"MainLeft", "MainTop", "MainWidth", "MainHeight"};
const char *const kPortKeys[] = {"Com1", "Com2", "Com3", "Com4"};

float readNumber(QSettings &store, const char *key, float fallback) {
    const QVariant value = store.value(QLatin1String(key));
    if (!value.isValid())
        return fallback;
    bool ok = false;
    const float number = value.toString().trimmed().toFloat(&ok);
    return ok && std::isfinite(number) ? number : fallback;
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
    store.endGroup();
    return values;
}

void writeStoredSettings(QSettings &store, const StoredSettings &values, bool writePlacement) {
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
    store.endGroup();
    store.sync();
}

QSettings *openSettingsStore() {
    return new QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Stowline"),
                         QStringLiteral("Stowline"));
}
