#include "checksettings.h"

namespace {

bool readSwitch(QSettings &store, const QString &key) {
    return store.value(key).toString().trimmed().compare(QLatin1String("True"),
                                                         Qt::CaseInsensitive) == 0;
}

QString switchText(bool on) {
    return on ? QStringLiteral("True") : QStringLiteral("False");
}

} // namespace

CheckSettings readCheckSettings(QSettings &store) {
    CheckSettings values;
    store.beginGroup(QStringLiteral("Settings"));
    values.VerifyAfterRestore = readSwitch(store, QStringLiteral("VerifyAfterRestore"));
    values.BackupBeforeRestore = readSwitch(store, QStringLiteral("BackupBeforeRestore"));
    store.endGroup();
    return values;
}

void writeCheckSettings(QSettings &store, const CheckSettings &values) {
    store.beginGroup(QStringLiteral("Settings"));
    store.setValue(QStringLiteral("VerifyAfterRestore"), switchText(values.VerifyAfterRestore));
    store.setValue(QStringLiteral("BackupBeforeRestore"), switchText(values.BackupBeforeRestore));
    store.endGroup();
}
