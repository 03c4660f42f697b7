#include "harness.h"

#include <QFile>
#include <QRegularExpression>
#include <QSysInfo>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace bench {

qint64 monoNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

qint64 cpuNs() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    auto ns = [](const timeval &tv) {
        return qint64(tv.tv_sec) * 1'000'000'000 + tv.tv_usec * 1000;
    };
    return ns(usage.ru_utime) + ns(usage.ru_stime);
}

qint64 voluntarySwitches() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("voluntary_ctxt_switches:"))
            return line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
    }
    return -1;
}

qint64 minorFaults() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

Memory memoryOf(qint64 pid) {
    QFile status(pid == 0 ? QStringLiteral("/proc/self/status")
                          : QStringLiteral("/proc/%1/status").arg(pid));
    Memory memory;
    if (!status.open(QIODevice::ReadOnly))
        return memory;
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() < 2)
            continue;
        if (parts[0] == "VmRSS:")
            memory.rssKiB = parts[1].toLongLong();
        else if (parts[0] == "VmHWM:")
            memory.hwmKiB = parts[1].toLongLong();
    }
    return memory;
}

double median(std::vector<double> values) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const std::size_t mid = values.size() / 2;
    return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

double minimum(const std::vector<double> &values) {
    return values.empty() ? 0 : *std::min_element(values.begin(), values.end());
}

Simulator::Simulator(const QString &exe, const QStringList &args) {
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start(exe, QStringList(args) << QStringLiteral("--quiet"));
    if (!process_.waitForStarted(5000))
        return;
    while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
    }
    device_ = QString::fromLocal8Bit(process_.readLine()).trimmed();
}

Simulator::~Simulator() {
    stop();
}

void Simulator::stop() {
    if (process_.state() == QProcess::NotRunning)
        return;
    process_.terminate();
    if (!process_.waitForFinished(3000))
        process_.kill();
    process_.waitForFinished(1000);
}

BareResult runBare(const QString &exe, const QStringList &args) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(exe, args);
    BareResult result;
    if (!process.waitForFinished(180'000)) {
        process.kill();
        process.waitForFinished(1000);
        result.failure = QStringLiteral("reference loop did not finish");
        return result;
    }
    const QString out = QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    QHash<QString, QString> fields;
    for (const QString &pair : out.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        fields.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    result.ok = fields.value(QStringLiteral("ok")) == QLatin1String("1") &&
                process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
    result.transferNs = fields.value(QStringLiteral("transfer_ns")).toLongLong();
    if (!result.ok)
        result.failure = out.isEmpty() ? QStringLiteral("no report") : out;
    return result;
}

LoopProbe::LoopProbe() {
    timer_.setTimerType(Qt::PreciseTimer);
    timer_.setInterval(1);
    connect(&timer_, &QTimer::timeout, this, &LoopProbe::tick);
}

void LoopProbe::start() {
    maxGapNs_ = 0;
    lastNs_ = monoNs();
    timer_.start();
}

void LoopProbe::stop() {
    tick();
    timer_.stop();
}

void LoopProbe::tick() {
    const qint64 now = monoNs();
    maxGapNs_ = std::max(maxGapNs_, now - lastNs_);
    lastNs_ = now;
}

void StampedComm::arm(const QByteArray &startCommand, qint64 stampFromInput) {
    startCommand_ = startCommand;
    stampFrom_ = stampFromInput;
    startNs_ = -1;
    lastInputNs_ = -1;
    inputs_ = 0;
    outputBytes_ = 0;
}

bool StampedComm::Output(const QByteArray &bytes) {
    if (startNs_ < 0 && bytes == startCommand_)
        startNs_ = monoNs();
    outputBytes_ += bytes.size();
    return QtCommControl::Output(bytes);
}

QByteArray StampedComm::Input() {
    QByteArray got = QtCommControl::Input();
    if (!got.isEmpty() && ++inputs_ >= stampFrom_)
        lastInputNs_ = monoNs();
    return got;
}

QByteArray StampedComm::InputUpTo(qint32 n) {
    QByteArray got = QtCommControl::InputUpTo(n);
    if (!got.isEmpty() && (inputs_ += got.size()) >= stampFrom_)
        lastInputNs_ = monoNs();
    return got;
}

double bareReadSeconds(const QString &path) {
    const QByteArray name = QFile::encodeName(path);
    const qint64 start = monoNs();
    const int fd = ::open(name.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return NAN;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        ::close(fd);
        return NAN;
    }
    std::vector<char> buffer(std::size_t(st.st_size));
    std::size_t have = 0;
    while (have < buffer.size()) {
        const ssize_t n = ::read(fd, buffer.data() + have, buffer.size() - have);
        if (n <= 0)
            break;
        have += std::size_t(n);
    }
    ::close(fd);
    const qint64 end = monoNs();
    return have == buffer.size() ? double(end - start) / 1e9 : NAN;
}

double bareWriteSeconds(const QString &path, const QByteArray &bytes, bool flush) {
    const QByteArray name = QFile::encodeName(path);
    const QByteArray aside = name + ".new";
    const qint64 start = monoNs();
    const int fd = ::open(aside.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return NAN;
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
        if (n <= 0)
            break;
        done += n;
    }
    const bool ok = done == bytes.size() && (!flush || ::fdatasync(fd) == 0);
    ::close(fd);
    if (!ok || ::rename(aside.constData(), name.constData()) != 0)
        return NAN;
    return double(monoNs() - start) / 1e9;
}

QString SilentView::askOpenFileName(const QString &, const QString &, QString *fileTitle) {
    if (fileTitle)
        *fileTitle = path.section(QLatin1Char('/'), -1);
    return path;
}

QString machineDescription() {
    QString cpu;
    QFile info(QStringLiteral("/proc/cpuinfo"));
    if (info.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : info.readAll().split('\n')) {
            if (line.startsWith("model name")) {
                cpu = QString::fromLatin1(line.mid(line.indexOf(':') + 1)).trimmed();
                break;
            }
        }
    }
    QString memory;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> first = meminfo.readLine().simplified().split(' ');
        if (first.size() >= 2)
            memory = QStringLiteral("%1 GiB RAM").arg(first[1].toDouble() / 1024 / 1024, 0, 'f', 1);
    }
    return QStringLiteral("%1, %2 logical CPUs, %3; %4 %5; Qt %6")
        .arg(cpu.isEmpty() ? QSysInfo::currentCpuArchitecture() : cpu)
        .arg(QThread::idealThreadCount())
        .arg(memory, QSysInfo::prettyProductName(), QSysInfo::kernelVersion(),
             QString::fromLatin1(qVersion()));
}

QString loadAverage() {
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return QStringLiteral("unknown");
    const QList<QByteArray> parts = file.readAll().split(' ');
    return parts.size() >= 3
               ? QStringLiteral("%1 %2 %3")
                     .arg(QString::fromLatin1(parts[0]), QString::fromLatin1(parts[1]),
                          QString::fromLatin1(parts[2]))
               : QStringLiteral("unknown");
}

} // namespace bench
