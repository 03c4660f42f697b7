#include "link/openadvice.h"

#include "link/transfertexts.h"

#include <QFile>

#ifdef Q_OS_LINUX
#include <grp.h>
#include <sys/stat.h>
#endif

QString deviceGroup(const QString &device) {
#ifdef Q_OS_LINUX
    struct stat st {};
    if (::stat(QFile::encodeName(device).constData(), &st) != 0)
        return {};
    if (const group *g = ::getgrgid(st.st_gid))
        return QString::fromLocal8Bit(g->gr_name);
    return QString::number(st.st_gid);
#else
    Q_UNUSED(device);
    return {};
#endif
}

QString openAdvice(OpenFailure failure, const QString &device, const PortInventory &present,
                   texts::Face face, const DeviceGroupLookup &groupOf) {
    switch (failure) {
    case OpenFailure::Missing: {
        const QList<SerialPortEntry> ports = present ? present() : QList<SerialPortEntry>();
        if (ports.isEmpty())
            return texts::noPortsPresent(face);
        constexpr qsizetype kShown = 4;
        QStringList shown;
        for (const SerialPortEntry &port : ports.mid(0, kShown))
            shown << (port.description.isEmpty()
                          ? port.device
                          : QStringLiteral("%1 (%2)").arg(port.device, port.description));
        return texts::portsPresent(shown, ports.size() - shown.size(), face);
    }
    case OpenFailure::Permission: {
        const QString group = groupOf ? groupOf(device) : QString();
        // A device owned by the root group is no matter of membership.
        return group.isEmpty() || group == QLatin1String("root") ? texts::kNoAccess
                                                                 : texts::notInGroup(group);
    }
    case OpenFailure::Busy:
        return texts::kHeldElsewhere;
    case OpenFailure::None:
    case OpenFailure::NoPort:
    case OpenFailure::Other:
        break;
    }
    return {};
}
