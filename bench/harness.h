#pragma once

// What the benchmark driver measures with: the simulator and the reference loops as child
// processes, clocks that other processes can share, CPU time and memory, the event loop's
// longest gap, the window's serial control with a clock on its first command byte and its last
// read, a view that shows nothing, and the file operations of a plain program.

#include "filecommands.h"
#include "qtcommcontrol.h"
#include "transferui.h"

#include <QByteArray>
#include <QElapsedTimer>
#include <QHash>
#include <QObject>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <vector>

namespace bench {

// CLOCK_MONOTONIC, the same in every process of the machine.
qint64 monoNs();

// User plus system CPU time of this process, all threads.
qint64 cpuNs();

// Page faults this process has taken that needed no disk: memory handed out fresh.
qint64 minorFaults();

struct Memory {
    qint64 rssKiB = -1;
    qint64 hwmKiB = -1; // peak resident set
};
Memory memoryOf(qint64 pid); // 0: this process

double median(std::vector<double> values);
double minimum(const std::vector<double> &values);

// The controller simulator as a child process; the device path is its first line of output.
class Simulator {
public:
    Simulator(const QString &exe, const QStringList &args);
    ~Simulator();
    Simulator(const Simulator &) = delete;
    Simulator &operator=(const Simulator &) = delete;

    QString device() const { return device_; }
    void stop();

private:
    QProcess process_;
    QString device_;
};

// One run of a reference loop: its own report line parsed into keys and values.
struct BareResult {
    bool ok = false;
    qint64 transferNs = 0;
    QString failure;
};
BareResult runBare(const QString &exe, const QStringList &args);

// Records the longest gap between the ticks of a 1-ms timer: how long the event loop was
// kept from running. The timer is precise, so a gap is late work, not timer slack.
class LoopProbe : public QObject {
    Q_OBJECT
public:
    LoopProbe();
    void start();
    void stop();
    qint64 maxGapNs() const { return maxGapNs_; }

private:
    void tick();
    QTimer timer_;
    qint64 lastNs_ = 0;
    qint64 maxGapNs_ = 0;
};

// The real serial control of the window, with two clocks: the first Output of a chosen
// command, and the latest Input from a chosen count of reads on. Costs one comparison per
// call when it has nothing to record.
class StampedComm : public QtCommControl {
public:
    using QtCommControl::QtCommControl;

    void arm(const QByteArray &startCommand, qint64 stampFromInput);

    bool Output(const QByteArray &bytes) override;
    QByteArray Input() override;
    QByteArray InputUpTo(qint32 n) override;

    qint64 startNs() const { return startNs_; }
    qint64 lastInputNs() const { return lastInputNs_; }
    qint64 inputs() const { return inputs_; }           // bytes taken by reads
    qint64 outputBytes() const { return outputBytes_; } // bytes handed to Output

private:
    QByteArray startCommand_;
    qint64 stampFrom_ = 0;
    qint64 startNs_ = -1;
    qint64 lastInputNs_ = -1;
    qint64 inputs_ = 0;
    qint64 outputBytes_ = 0;
};

// A view that shows nothing and answers every file dialog with `path`.
class SilentView : public FileUi, public TransferUi {
public:
    QString path;
    QStringList warnings;

    void setStatus(const QString &) override {}
    void setProgressMin(qint64) override {}
    void setProgressMax(qint64) override {}
    void setProgressValue(qint64) override {}
    void setConfigStatus(const QString &) override {}
    void setFileStatus(const QString &) override {}
    void SetIdleState() override {}
    void SetBusyState() override {}
    QString askSaveFileName(const QString &, const QString &) override { return path; }
    QString askOpenFileName(const QString &, const QString &, QString *fileTitle) override;
    void refresh() override {}
    qint16 GetSelectedPort() override { return 1; }
    void showWarning(const QString &title, const QString &text) override {
        warnings << title + QLatin1Char('|') + text;
    }
    bool stopRequested() override { return false; }
};

// Voluntary context switches of this process so far: how often it went to sleep.
qint64 voluntarySwitches();

// A plain program's Open of `path`: its size, a buffer, read() until all is in. Seconds, or
// NaN when the file cannot be read whole.
double bareReadSeconds(const QString &path);
// A plain program's Save that keeps the old file safe: write() the bytes to a file beside
// `path`, fdatasync() it when `flush` is set, rename() it over `path`. Seconds, or NaN.
double bareWriteSeconds(const QString &path, const QByteArray &bytes, bool flush);

// The host, for the report: CPU model, cores, kernel, load.
QString machineDescription();
QString loadAverage();

} // namespace bench
