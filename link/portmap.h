#pragma once

#include <QHash>
#include <QString>

class QSettings;

// Which device a port number names: the environment variable STOWLINE_COM<n> wins (read at
// each call, so at each opening), then the device stored under "Ports/Com<n>" in the settings,
// then the system's default (COMn on Windows, /dev/ttyS<n-1> elsewhere). Port 0 names nothing.
class PortMap {
public:
    void load(QSettings &settings);
    // Stores the device for port n, or removes it when empty, in the map and in the settings.
    void store(QSettings &settings, int n, const QString &device);

    QString deviceFor(int n) const; // empty when n names no port
    QString storedFor(int n) const { return stored_.value(n); }
    static QString fromEnvironment(int n); // empty when the environment does not decide
    static QString defaultFor(int n);

    // A device named directly (the command line's --device): it stands for every port
    // number, 0 included, and wins over the environment and the settings.
    void setDirectDevice(const QString &device) { direct_ = absoluteDevice(device); }

    // Qt opens a name without a slash under /dev/: a path that exists relative to the working
    // folder becomes absolute, so it names that file wherever the program runs later. Names
    // such as COM7 stay as they are.
    static QString absoluteDevice(const QString &device);

private:
    QHash<int, QString> stored_;
    QString direct_;
};
