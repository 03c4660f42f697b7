#pragma once

#include <QHash>
#include <QString>

class QSettings;

// Which device a port number names. On Windows port n is "COMn". Elsewhere the environment
// variable STOWLINE_COM<n> wins (read at each call, so at each opening), then the device
// stored under "Ports/Com<n>" in the settings, then /dev/ttyS<n-1>. Port 0 names nothing.
class PortMap {
public:
    // Takes the stored devices; the program never writes them back.
    void load(QSettings &settings);

    QString deviceFor(int n) const; // empty when n names no port

    // A device named directly (the command line's --device): it stands for every port
    // number, 0 included, and wins over the environment and the settings.
    void setDirectDevice(const QString &device) { direct_ = device; }

private:
    QHash<int, QString> stored_;
    QString direct_;
};
