#include "portmap.h"

#include <QSettings>
#include <QStringList>

namespace {
const QString kPrefix = QStringLiteral("Com");
}

void PortMap::load(QSettings &settings) {
    stored_.clear();
    settings.beginGroup(QStringLiteral("Ports"));
    const QStringList keys = settings.childKeys();
    for (const QString &key : keys) {
        if (!key.startsWith(kPrefix, Qt::CaseInsensitive))
            continue;
        bool ok = false;
        const int n = key.mid(kPrefix.size()).toInt(&ok);
        const QString device = settings.value(key).toString().trimmed();
        if (ok && n >= 1 && !device.isEmpty())
            stored_.insert(n, device);
    }
    settings.endGroup();
}

QString PortMap::deviceFor(int n) const {
    if (!direct_.isEmpty())
        return direct_;
    if (n < 1)
        return {};
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    const QString fromEnv =
        qEnvironmentVariable(QStringLiteral("STOWLINE_COM%1").arg(n).toLatin1().constData())
            .trimmed();
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString fromSettings = stored_.value(n);
    if (!fromSettings.isEmpty())
        return fromSettings;
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}
