#include "link/portmap.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

namespace {
const QString kPrefix = QStringLiteral("Com");
const QString kGroup = QStringLiteral("Ports");
} // namespace

void PortMap::load(QSettings &settings) {
    stored_.clear();
    settings.beginGroup(kGroup);
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

void PortMap::store(QSettings &settings, int n, const QString &device) {
    if (n < 1)
        return;
    const QString key = kGroup + QLatin1Char('/') + kPrefix + QString::number(n);
    const QString value = absoluteDevice(device.trimmed());
    if (value.isEmpty()) {
        stored_.remove(n);
        settings.remove(key);
    } else {
        stored_.insert(n, value);
        settings.setValue(key, value);
    }
    settings.sync();
}

QString PortMap::fromEnvironment(int n) {
    return qEnvironmentVariable(QStringLiteral("STOWLINE_COM%1").arg(n).toLatin1().constData())
        .trimmed();
}

QString PortMap::defaultFor(int n) {
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(n);
#else
    return QStringLiteral("/dev/ttyS%1").arg(n - 1);
#endif
}

QString PortMap::deviceFor(int n) const {
    if (!direct_.isEmpty())
        return direct_;
    if (n < 1)
        return {};
    const QString fromEnv = fromEnvironment(n);
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString fromSettings = stored_.value(n);
    if (!fromSettings.isEmpty())
        return fromSettings;
    return defaultFor(n);
}

QString PortMap::absoluteDevice(const QString &device) {
#ifdef Q_OS_UNIX
    const QFileInfo info(device);
    if (!device.isEmpty() && info.isRelative() && info.exists())
        return info.absoluteFilePath();
#endif
    return device;
}
