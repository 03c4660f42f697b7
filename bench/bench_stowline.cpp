// The benchmark driver: the real window, engines and port layer against the controller
// simulator over pseudo-terminals, the bare reference loops in the same run, Open and Save,
// the CPU share at the line's pace. Prints one `key=value` line per figure; bench/run.sh puts
// them into bench/report.md to make docs/performance.md.
//
// Usage: bench_stowline --sim=EXE --bare=EXE --startup=EXE [--runs=N] [--trickle-seconds=S]
//                       [--quick] [--only=transfers,explain,files,trickle,startup]
#include "link/qtserialport.h"
#include "link/transferthread.h"
#include "window/dialogs.h"
#include "window/mainwindow.h"

#include <QAction>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr qint32 kFull = kSecondGenerationLength;

qint64 monoNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

qint64 cpuNs() { // user plus system, all threads of this process
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    auto ns = [](const timeval &tv) {
        return qint64(tv.tv_sec) * 1'000'000'000 + tv.tv_usec * 1000;
    };
    return ns(u.ru_utime) + ns(u.ru_stime);
}

qint64 sleeps() { // voluntary context switches: how often this process went to sleep
    rusage u{};
    ::getrusage(RUSAGE_SELF, &u);
    return u.ru_nvcsw;
}

double median(std::vector<double> v) {
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const std::size_t mid = v.size() / 2;
    return v.size() % 2 ? v[mid] : (v[mid - 1] + v[mid]) / 2;
}

// Enough digits to compare, no more.
QString num(double v) {
    if (!std::isfinite(v))
        return QStringLiteral("n/a");
    return QString::number(v, 'f', std::fabs(v) < 10 ? 2 : std::fabs(v) < 100 ? 1 : 0);
}

QString list(const std::vector<double> &v) {
    QStringList parts;
    for (const double x : v)
        parts << num(x);
    return parts.join(QLatin1String(", "));
}

void put(const QString &key, const QString &value) {
    std::printf("%s=%s\n", qPrintable(key), qPrintable(value));
    std::fflush(stdout);
}

void say(const QString &text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
}

QByteArray readFile(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Runs the event loop until `done` holds or `ms` pass.
bool waitFor(const std::function<bool()> &done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return done();
}

// The controller simulator as a child process; the device path is its first line of output.
class Simulator {
public:
    Simulator(const QString &exe, const QStringList &args) {
        p_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p_.start(exe, QStringList(args) << QStringLiteral("--quiet"));
        while (p_.waitForStarted(5000) && !p_.canReadLine() && p_.waitForReadyRead(5000)) {
        }
        device = QString::fromLocal8Bit(p_.readLine()).trimmed();
    }
    ~Simulator() { stop(); }
    void stop() {
        if (p_.state() == QProcess::NotRunning)
            return;
        p_.terminate();
        if (!p_.waitForFinished(3000))
            p_.kill();
        p_.waitForFinished(1000);
    }
    QString device;

private:
    QProcess p_;
};

// The longest gap between the ticks of a precise 1-ms timer: how long the event loop was kept
// from running.
struct LoopProbe {
    QTimer timer;
    qint64 last = 0, maxGap = 0;
    LoopProbe() {
        timer.setTimerType(Qt::PreciseTimer);
        timer.setInterval(1);
        QObject::connect(&timer, &QTimer::timeout, [this] { tick(); });
    }
    void start() {
        maxGap = 0;
        last = monoNs();
        timer.start();
    }
    void stop() {
        tick();
        timer.stop();
    }
    void tick() {
        const qint64 now = monoNs();
        maxGap = std::max(maxGap, now - last);
        last = now;
    }
};

// What the window's port saw, written by the transfer's thread and read by the window's: the
// clock at the write of the exchange's first command and at the latest read, and the bytes
// moved.
struct Stamps {
    QByteArray start; // set while no job runs
    std::atomic<qint64> startNs{-1}, lastInputNs{-1}, inputs{0}, outputBytes{0};
    void arm(const QByteArray &command) {
        start = command;
        startNs = lastInputNs = -1;
        inputs = outputBytes = 0;
    }
};

// The window's real serial port with the stamps.
class StampedPort : public QtSerialPort {
public:
    explicit StampedPort(Stamps &stamps) : stamps_(stamps) {}
    bool write(const QByteArray &bytes) override {
        if (stamps_.startNs < 0 && bytes == stamps_.start)
            stamps_.startNs = monoNs();
        stamps_.outputBytes += bytes.size();
        return QtSerialPort::write(bytes);
    }
    QByteArray read(qint64 max) override {
        QByteArray got = QtSerialPort::read(max);
        if (!got.isEmpty()) {
            stamps_.inputs += got.size();
            stamps_.lastInputNs = monoNs();
        }
        return got;
    }

private:
    Stamps &stamps_;
};

// The window's boxes and file dialogs, answered without showing anything.
class ScriptedDialogs : public Dialogs {
public:
    QStringList answers, warnings;
    std::function<void()> onWarning;
    void warning(QWidget *, const QString &, const QString &text) override {
        warnings << text;
        if (onWarning)
            onWarning();
    }
    bool question(QWidget *, const QString &, const QString &) override { return false; }
    Answer yesNoCancel(QWidget *, const QString &, const QString &) override { return Answer::No; }
    QString saveFileName(QWidget *, const QString &, const QString &, const QString &) override {
        return next();
    }
    QString openFileName(QWidget *, const QString &, const QString &, const QString &) override {
        return next();
    }

private:
    QString next() { return answers.isEmpty() ? QString() : answers.takeFirst(); }
};

// What a plain program does for Open: read() the file into one buffer. Seconds or NaN.
double bareOpen(const QString &path) {
    const qint64 start = monoNs();
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0)
        return NAN;
    std::vector<char> buffer(std::size_t(st.st_size));
    std::size_t have = 0;
    for (ssize_t n = 1; have < buffer.size() && n > 0; have += std::size_t(std::max<ssize_t>(n, 0)))
        n = ::read(fd, buffer.data() + have, buffer.size() - have);
    ::close(fd);
    return have == buffer.size() ? double(monoNs() - start) / 1e9 : NAN;
}

// ... and for a Save that keeps the old file safe: write() beside it, fdatasync(), rename().
double bareSave(const QString &path, const QByteArray &bytes) {
    const QByteArray name = QFile::encodeName(path), aside = name + ".new";
    const qint64 start = monoNs();
    const int fd = ::open(aside.constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return NAN;
    qsizetype done = 0;
    for (ssize_t n = 1; done < bytes.size() && n > 0; done += std::max<ssize_t>(n, 0))
        n = ::write(fd, bytes.constData() + done, std::size_t(bytes.size() - done));
    const bool ok = done == bytes.size() && ::fdatasync(fd) == 0;
    ::close(fd);
    if (!ok || ::rename(aside.constData(), name.constData()) != 0)
        return NAN;
    return double(monoNs() - start) / 1e9;
}

enum class Kind { Backup2, Backup1, Restore1, Restore2, Open, Save };
bool second(Kind kind) {
    return kind == Kind::Backup2 || kind == Kind::Restore2;
}

// One row of the sweep: what is moved, how many bytes, how often, and what the reference does.
struct Item {
    QString key;
    Kind kind;
    qint32 size;
    int runs;
    QString bareMode;           // bench_bare's exchange; empty for the files
    QStringList bareExtra = {}; // options that leave out part of the reference's work
    bool toolSide = true;       // false: a reference alone, to explain a miss
};

struct Sample {
    bool ok = false;
    double seconds = 0;
    qint64 maxGapNs = 0;
    QString failure;
};

struct Options {
    QString sim, bare, startup;
    int runs = 5, trickleSeconds = 25;
    bool quick = false;
    QStringList only;
    bool wants(const char *g) const { return only.isEmpty() || only.contains(QLatin1String(g)); }
};

class Bench {
public:
    explicit Bench(const Options &o) : opt_(o) {
        window_ = std::make_unique<MainWindow>(&dialogs_);
        window_->load();
        window_->show();
        window_->findChild<TransferThread *>()->setPortFactory(
            [this] { return std::make_unique<StampedPort>(stamps_); });
        waitFor([] { return false; }, 300); // mapped and painted before anything is timed
    }

    void sweep(const QList<Item> &items);
    QHash<QString, double> medians; // "<key>-tool" and "<key>-bare", milliseconds
    void trickle();
    void startup();

private:
    QString path(const QString &name) const { return scratch_.filePath(name); }
    // An image file of the size for the kind's generation: the window refuses to restore an
    // image named for the other one.
    QString imageFor(qint32 size, Kind kind = Kind::Open);
    // Opens the image unless the window holds it already.
    bool hold(qint32 size, Kind kind) {
        const Generation generation = second(kind) ? Generation::Second : Generation::First;
        return (window_->image().length() == size && window_->image().generation == generation) ||
               open(imageFor(size, kind));
    }
    QStringList simArgs(const Item &item, const QString &record);
    Sample tool(const Item &item);
    Sample bare(const Item &item);
    bool open(const QString &file) {
        dialogs_.answers << file;
        window_->open();
        return !window_->image().isEmpty();
    }
    // Clicks the command and runs the window's event loop until it is idle again.
    void click(Kind kind) {
        QEventLoop idle;
        const bool transfer = kind != Kind::Open && kind != Kind::Save;
        QObject::connect(window_.get(), &MainWindow::transferEnded, &idle, &QEventLoop::quit);
        switch (kind) {
        case Kind::Backup1:
        case Kind::Backup2:
            window_->backup();
            break;
        case Kind::Restore1:
        case Kind::Restore2:
            window_->restore();
            break;
        case Kind::Open:
            window_->open();
            break;
        case Kind::Save:
            window_->save();
            break;
        }
        if (transfer && window_->transferRunning())
            idle.exec();
    }

    Options opt_;
    QTemporaryDir scratch_;
    ScriptedDialogs dialogs_;
    std::unique_ptr<MainWindow> window_;
    Stamps stamps_;
    LoopProbe probe_;
};

QString Bench::imageFor(qint32 size, Kind kind) {
    const QString file =
        path(QStringLiteral("image-%1.%2").arg(size).arg(second(kind) ? "SAV" : "CCF"));
    if (!QFileInfo::exists(file)) {
        QByteArray bytes(size, Qt::Uninitialized);
        QRandomGenerator generator(7);
        generator.fillRange(reinterpret_cast<quint32 *>(bytes.data()), size / 4);
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != size)
            say(QStringLiteral("cannot write ") + file);
    }
    return file;
}

QStringList Bench::simArgs(const Item &item, const QString &record) {
    const bool restore = item.kind == Kind::Restore1 || item.kind == Kind::Restore2;
    QStringList args{QStringLiteral("--generation=%1").arg(second(item.kind) ? 2 : 1)};
    args << (restore ? QStringLiteral("--record-image=") + record
                     : QStringLiteral("--image=") + imageFor(item.size));
    if (second(item.kind) && item.size != kFull)
        args << QStringLiteral("--allow-any-size");
    return args;
}

// The tool: the window's command, click to idle. A transfer is timed from its first
// command byte to its last byte in, so both sides leave out the 4-s probe waits alike.
Sample Bench::tool(const Item &item) {
    Sample s;
    const QString image = imageFor(item.size, item.kind);
    const bool file = item.kind == Kind::Open || item.kind == Kind::Save;
    const bool restore = item.kind == Kind::Restore1 || item.kind == Kind::Restore2;
    if ((restore || item.kind == Kind::Save) && !hold(item.size, item.kind)) {
        s.failure = QStringLiteral("Open of the image failed");
        return s;
    }
    const QString record = path(QStringLiteral("received"));
    QFile::remove(record);
    std::unique_ptr<Simulator> sim;
    if (!file) {
        sim = std::make_unique<Simulator>(opt_.sim, simArgs(item, record));
        qputenv("STOWLINE_COM1", sim->device.toLocal8Bit());
        static const char *const command[] = {"@?", "B", "R", "@M"};
        stamps_.arm(command[int(item.kind)]);
    }
    const QString saved = path(QStringLiteral("saved.CCF"));
    if (file)
        dialogs_.answers << (item.kind == Kind::Open ? image : saved);
    dialogs_.warnings.clear();
    probe_.start();
    const qint64 start = monoNs();
    click(item.kind);
    const qint64 end = monoNs();
    probe_.stop();
    s.maxGapNs = probe_.maxGap;

    const QByteArray expected = readFile(image);
    if (!dialogs_.warnings.isEmpty())
        s.failure = dialogs_.warnings.join(QLatin1String("; "));
    else if (item.kind == Kind::Save ? readFile(saved) != expected
             : restore               ? !waitFor([&] { return readFile(record) == expected; }, 3000)
                                     : window_->image().bytes != expected)
        s.failure = QStringLiteral("the bytes that arrived differ");
    else if (!file && (stamps_.startNs < 0 || stamps_.lastInputNs < stamps_.startNs))
        s.failure = QStringLiteral("transfer clock not started");
    s.ok = s.failure.isEmpty();
    s.seconds = double(file ? end - start : stamps_.lastInputNs - stamps_.startNs) / 1e9;
    return s;
}

// The reference: bench_bare against the same simulator, or a plain program's file calls.
Sample Bench::bare(const Item &item) {
    Sample s;
    const QString image = imageFor(item.size);
    if (item.kind == Kind::Open || item.kind == Kind::Save) {
        s.seconds = item.kind == Kind::Open
                        ? bareOpen(image)
                        : bareSave(path(QStringLiteral("bare.CCF")), readFile(image));
        s.ok = std::isfinite(s.seconds);
        s.failure = QStringLiteral("file call failed");
        return s;
    }
    Simulator sim(opt_.sim, simArgs(item, path(QStringLiteral("received-bare"))));
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(opt_.bare, QStringList{item.bareMode, sim.device, QStringLiteral("--image=") + image} +
                           item.bareExtra);
    if (!p.waitForFinished(180'000))
        p.kill();
    const QString out = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    s.ok = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 && out.contains("ok=1");
    s.seconds =
        out.section(QLatin1String("transfer_ns="), 1).section(QLatin1Char(' '), 0, 0).toDouble() /
        1e9;
    s.failure = out.isEmpty() ? QStringLiteral("no report") : out;
    return s;
}

// The one sweep: each row runs tool and reference in turn (who goes first alternates, so a
// drift of the machine's load hits both sides), and reports medians, the median of the
// run-by-run ratios and the longest event-loop stall of the tool's runs.
void Bench::sweep(const QList<Item> &items) {
    for (const Item &item : items) {
        std::vector<double> toolMs, bareMs, ratios;
        double stallMs = 0;
        QStringList failures;
        for (int run = 0; run < item.runs; ++run) {
            Sample pair[2];
            for (int side = 0; side < 2; ++side) {
                const bool toolSide = (side == 0) == (run % 2 == 0);
                if (toolSide && !item.toolSide)
                    continue;
                Sample &s = pair[toolSide ? 0 : 1];
                s = toolSide ? tool(item) : bare(item);
                if (!s.ok)
                    failures << QStringLiteral("%1: %2").arg(toolSide ? "tool" : "bare", s.failure);
                else
                    (toolSide ? toolMs : bareMs).push_back(s.seconds * 1e3);
                if (toolSide)
                    stallMs = std::max(stallMs, double(s.maxGapNs) / 1e6);
            }
            if (pair[0].ok && pair[1].ok && pair[1].seconds > 0)
                ratios.push_back(pair[0].seconds / pair[1].seconds);
        }
        const QString &k = item.key;
        medians.insert(k + QStringLiteral("-tool"), median(toolMs));
        medians.insert(k + QStringLiteral("-bare"), median(bareMs));
        if (item.toolSide) {
            put(k + QStringLiteral("-tool"), num(median(toolMs)));
            put(k + QStringLiteral("-tool-runs"), list(toolMs));
            put(k + QStringLiteral("-ratio"), num(median(ratios)));
            put(k + QStringLiteral("-ratio-runs"), list(ratios));
            put(k + QStringLiteral("-stall"), num(stallMs));
        }
        put(k + QStringLiteral("-bare"), num(median(bareMs)));
        put(k + QStringLiteral("-bare-runs"), list(bareMs));
        put(k + QStringLiteral("-failed"),
            failures.isEmpty() ? QStringLiteral("none") : failures.join(QLatin1String("; ")));
    }
}

// A full second-generation Backup and Restore, and the lock-step Backup of as many bytes, while
// the simulator paces the line at 960 B/s: CPU time of this process (both its threads) over
// wall time in a window of the data phase, and how often it went to sleep. Stopping the
// simulator then ends the transfer.
void Bench::trickle() {
    const int seconds = opt_.quick ? 6 : opt_.trickleSeconds;
    for (const Kind kind : {Kind::Backup2, Kind::Restore2, Kind::Backup1}) {
        const bool restore = kind == Kind::Restore2;
        const QString k = restore                 ? QStringLiteral("trickle-restore")
                          : kind == Kind::Backup2 ? QStringLiteral("trickle-backup")
                                                  : QStringLiteral("trickle-backup1");
        const Item item{k, kind, kFull, 1, {}};
        Simulator sim(opt_.sim, simArgs(item, path(QStringLiteral("received-trickle")))
                                    << QStringLiteral("--rate=960"));
        qputenv("STOWLINE_COM1", sim.device.toLocal8Bit());
        if (restore)
            hold(kFull, kind);
        stamps_.arm(QByteArray());
        dialogs_.warnings.clear();
        struct Point {
            qint64 wall = 0, cpu = 0, bytes = 0, sleeps = 0;
        } from, to;
        auto sample = [&](Point &p) {
            p = {monoNs(), cpuNs(), restore ? stamps_.outputBytes : stamps_.inputs, sleeps()};
        };
        const qint64 clicked = monoNs();
        qint64 ended = 0;
        dialogs_.onWarning = [&] { // a failure ends the window where it is reported
            ended = monoNs();
            if (from.wall && !to.wall)
                sample(to);
        };
        QObject scope; // the timers go with it, should the transfer end before they are due
        QTimer::singleShot(6000, &scope, [&] { sample(from); }); // after the 4-s probe
        QTimer::singleShot(6000 + seconds * 1000, &scope, [&] {
            sample(to);
            sim.stop();
        });
        click(kind);
        dialogs_.onWarning = nullptr;
        const double wall = double(to.wall - from.wall) / 1e9;
        const bool measured = from.wall && to.wall && wall >= 3; // less is no measurement
        auto perSecond = [&](double v) { return measured ? v / wall : NAN; };
        put(k + QStringLiteral("-cpu"), num(perSecond(100.0 * double(to.cpu - from.cpu) / 1e9)));
        put(k + QStringLiteral("-wakes"), num(perSecond(double(to.sleeps - from.sleeps))));
        put(k + QStringLiteral("-rate"), num(perSecond(double(to.bytes - from.bytes))));
        put(k + QStringLiteral("-seconds"), num(measured ? wall : NAN));
        put(k + QStringLiteral("-ended"),
            ended && ended < to.wall
                ? QStringLiteral("ended %1 s after the click with \"%2\"")
                      .arg(num(double(ended - clicked) / 1e9), dialogs_.warnings.join("; "))
                : QStringLiteral("none"));
    }
}

// bench_startup starts as app/main.cpp does and stamps its first paint; timed from the spawn.
void Bench::startup() {
    std::vector<double> paint, shown, hwm, rss;
    for (int run = 0; run < (opt_.quick ? 3 : 7); ++run) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const qint64 spawn = monoNs();
        p.start(opt_.startup, {});
        if (!p.waitForFinished(30000))
            p.kill();
        QHash<QString, double> f;
        for (const QString &pair : QString::fromLocal8Bit(p.readAllStandardOutput()).split(' '))
            f.insert(pair.section('=', 0, 0), pair.section('=', 1).toDouble());
        if (!f.contains(QStringLiteral("paint_ns")))
            continue;
        paint.push_back((f.value(QStringLiteral("paint_ns")) - double(spawn)) / 1e6);
        shown.push_back((f.value(QStringLiteral("shown_ns")) - double(spawn)) / 1e6);
        hwm.push_back(f.value(QStringLiteral("hwm_kib")) * 1024 / 1e6);
        rss.push_back(f.value(QStringLiteral("rss_kib")) * 1024 / 1e6);
    }
    put(QStringLiteral("startup-paint"), num(median(paint)));
    put(QStringLiteral("startup-shown"), num(median(shown)));
    put(QStringLiteral("startup-shown-runs"), list(shown));
    put(QStringLiteral("startup-hwm"), num(median(hwm)));
    put(QStringLiteral("startup-rss"), num(median(rss)));
}

} // namespace

int main(int argc, char **argv) {
    QTemporaryDir config; // the window reads and writes settings: never the user's own
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stowline"));
    QApplication::setOrganizationName(QStringLiteral("Stowline"));

    Options o;
    for (const QString &arg : app.arguments().mid(1)) {
        const QString key = arg.section('=', 0, 0), value = arg.section('=', 1);
        if (key == QLatin1String("--sim"))
            o.sim = value;
        else if (key == QLatin1String("--bare"))
            o.bare = value;
        else if (key == QLatin1String("--startup"))
            o.startup = value;
        else if (key == QLatin1String("--runs"))
            o.runs = std::max(1, value.toInt());
        else if (key == QLatin1String("--trickle-seconds"))
            o.trickleSeconds = std::max(4, value.toInt());
        else if (key == QLatin1String("--quick"))
            o.quick = true;
        else if (key == QLatin1String("--only"))
            o.only = value.split(',', Qt::SkipEmptyParts);
        else {
            say(QStringLiteral("unknown option ") + arg);
            return 2;
        }
    }
    if (o.quick)
        o.runs = 1;
    put(QStringLiteral("platform"), QGuiApplication::platformName());
    put(QStringLiteral("runs"), QString::number(o.runs));
    put(QStringLiteral("trickle-seconds"), QString::number(o.quick ? 6 : o.trickleSeconds));
    Bench bench(o);
    const int r = o.runs, big = o.quick ? (4 << 20) : (64 << 20);
    if (o.wants("transfers"))
        bench.sweep({{QStringLiteral("backup2"), Kind::Backup2, kFull, r, "stream-backup"},
                     {QStringLiteral("backup1"), Kind::Backup1, kFull, r, "lockstep-backup"},
                     {QStringLiteral("restore1"), Kind::Restore1, kFull, r, "restore1"},
                     {QStringLiteral("restore2"), Kind::Restore2, kFull, r, "restore2"}});
    if (o.wants("explain")) {
        // References that leave out part of the bare loop's advantage: one byte per write()
        // as the Restores send, poll() before each read() as an event loop waits.
        bench.sweep({{QStringLiteral("restore1-bytewise"),
                      Kind::Restore1,
                      kFull,
                      r,
                      "restore1",
                      {QStringLiteral("--write-chunk=1")},
                      false},
                     {QStringLiteral("backup1-poll"),
                      Kind::Backup1,
                      kFull,
                      r,
                      "lockstep-backup",
                      {QStringLiteral("--poll")},
                      false}});
    }
    if (o.wants("files")) {
        QList<Item> files;
        for (const Kind kind : {Kind::Open, Kind::Save})
            for (const qint32 size : {kFull, 1 << 20, big})
                files << Item{QStringLiteral("%1-%2").arg(kind == Kind::Open ? "open" : "save",
                                                          size == kFull ? QStringLiteral("small")
                                                          : size == big ? QStringLiteral("large")
                                                                        : QStringLiteral("1m")),
                              kind,
                              size,
                              size == big ? std::max(1, r / 2 + 1) : 3 * r,
                              {}};
        bench.sweep(files);
        put(QStringLiteral("files-large-mib"), QString::number(big >> 20));
        // Linear growth keeps the cost per byte: a log-log slope of 1 from 1 MiB up.
        for (const QString &k : {QStringLiteral("open"), QStringLiteral("save")})
            for (const QString &side : {QStringLiteral("tool"), QStringLiteral("bare")})
                put(QStringLiteral("%1-growth-%2").arg(k, side),
                    num(std::log(bench.medians.value(k + QStringLiteral("-large-") + side) /
                                 bench.medians.value(k + QStringLiteral("-1m-") + side)) /
                        std::log(double(big >> 20))));
    }
    if (o.wants("trickle"))
        bench.trickle();
    if (o.wants("startup"))
        bench.startup();
    return 0;
}
