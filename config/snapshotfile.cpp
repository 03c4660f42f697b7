#include "config/snapshotfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

QString Snapshot::folder() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation) +
           QStringLiteral("/Stowline/snapshots");
}

QString Snapshot::fileName(const QDateTime &when, qint16 port, Generation generation) {
    return when.toString(QStringLiteral("yyyy-MM-dd_HHmmss")) + QStringLiteral("_Com%1").arg(port) +
           (generation == Generation::First ? QStringLiteral(".CCF") : QStringLiteral(".SAV"));
}

QString Snapshot::writeNew(const QString &dir, const QString &name, const QByteArray &bytes,
                           QString *error) {
    if (!QDir().mkpath(dir)) {
        *error =
            QStringLiteral("the folder %1 cannot be created").arg(QDir::toNativeSeparators(dir));
        return {};
    }
    const QFileInfo info(name);
    const QString stem = info.completeBaseName();
    const QString ext = info.suffix().isEmpty() ? QString() : QLatin1Char('.') + info.suffix();
    for (int n = 1; n <= 1000; ++n) {
        const QString path =
            QDir(dir).filePath(n == 1 ? name : stem + QStringLiteral("_%1").arg(n) + ext);
        QFile reserved(path);
        // NewOnly refuses a name that exists, even one that appears between test and open.
        if (!reserved.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
            if (QFileInfo::exists(path))
                continue;
            *error = reserved.errorString();
            return {};
        }
        reserved.close();
        // Written as Save writes, synced to disk before it takes the place of the empty file:
        // the Restore that follows takes minutes, and a power loss then must not empty it.
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) ||
            file.write(bytes) != bytes.size() || file.error() != QFileDevice::NoError ||
            !file.commit()) {
            *error = file.errorString();
            reserved.remove();
            return {};
        }
        return QDir::toNativeSeparators(path);
    }
    *error = QStringLiteral("too many snapshots of that name");
    return {};
}
