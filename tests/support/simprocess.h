#pragma once

#include <QCoreApplication>
#include <QFile>
#include <QProcess>
#include <QStringList>

#include <csignal>
#include <sys/prctl.h>

// The controller simulator as a child process; the device path is its first line of output.
// It dies with the test: a test that crashes must not leave it holding the pseudo-terminal and
// the test runner's output pipe.
class SimProcess {
public:
    explicit SimProcess(const QStringList &args) {
        const QString exe = qEnvironmentVariable(
            "STOWLINE_SIM", QCoreApplication::applicationDirPath() + "/../tools/stowline-sim");
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
        process_.start(exe, QStringList(args) << QStringLiteral("--quiet"));
        if (!process_.waitForStarted(5000))
            return;
        while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
        }
        device_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
    }
    ~SimProcess() {
        if (process_.state() != QProcess::NotRunning) {
            process_.terminate();
            if (!process_.waitForFinished(3000))
                process_.kill();
            process_.waitForFinished(1000);
        }
    }
    QString device() const { return device_; }
    QProcess &process() { return process_; }

private:
    QProcess process_;
    QString device_;
};

inline QByteArray readAll(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool writeAll(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
