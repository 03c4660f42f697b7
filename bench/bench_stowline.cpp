// The benchmark suite: drives the real window, engines and port layer against the controller
// simulator over pseudo-terminals, measures the bare reference loops in the same run, and
// writes the results page and its plot. bench/run.sh builds everything and runs this.
//
// Usage: bench_stowline --sim=EXE --bare=EXE --startup=EXE [--xwatch=EXE --exe=EXE]
//                       --markdown=FILE --plot=FILE [--runs=N] [--lockstep-runs=N]
//                       [--trickle-seconds=S] [--quick] [--command=TEXT]
//                       [--only=GROUP,...]  (transfers, sweep, stalls, trickle, files, startup,
//                                            costs; a partial run is for trials, not the record)
#include "eventloopclock.h"
#include "filecommands.h"
#include "frmmain.h"
#include "harness.h"
#include "memorycontroller.h"
#include "report.h"
#include "transfers.h"

#include <QAction>
#include <QApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSerialPort>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>

#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>

namespace {

using namespace bench;

constexpr qint32 kFull = kSecondGenerationLength;
constexpr double kLine9600 = 960; // bytes per second: 10 bits a byte on the line
constexpr double kLine57600 = 5760;

struct Options {
    QString sim, bare, startup, xwatch, exe, markdown, plot, command;
    int runs = 5;
    int lockstepRuns = 5;
    int trickleSeconds = 25;
    int startupRuns = 7;
    bool quick = false;
    QStringList only; // groups to run; all when empty
    bool wants(const char *group) const {
        return only.isEmpty() || only.contains(QLatin1String(group));
    }
};

void say(const QString &text) {
    std::fprintf(stderr, "%s\n", qPrintable(text));
    std::fflush(stderr);
}

QByteArray patterned(qsizetype n, quint32 seed) {
    QByteArray bytes(n, Qt::Uninitialized);
    QRandomGenerator generator(seed);
    for (char &c : bytes)
        c = char(generator.bounded(256));
    return bytes;
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
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

// The four transfers as both sides run them.
struct Transfer {
    QString key;
    QString name;
    int generation;
    bool restore;
    QByteArray startCommand; // the tool's clock starts at this Output
    QString bareMode;
};

Transfer transfer(const char *key, const char *name, int generation, bool restore,
                  const char *startCommand, const char *bareMode) {
    return {QLatin1String(key),       QLatin1String(name),    generation, restore,
            QByteArray(startCommand), QLatin1String(bareMode)};
}

const Transfer kBackup2 =
    transfer("backup2", "Backup, second generation", 2, false, "@?", "stream-backup");
const Transfer kBackup1 =
    transfer("backup1", "Backup, first generation", 1, false, "B", "lockstep-backup");
const Transfer kRestore1 =
    transfer("restore1", "Restore, first generation", 1, true, "R", "restore1");
const Transfer kRestore2 =
    transfer("restore2", "Restore, second generation", 2, true, "@M", "restore2");

struct Sample {
    bool ok = false;
    QString failure;
    double seconds = 0; // the transfer phase
    qint64 maxGapNs = 0;
};

struct Timings {
    std::vector<double> tool, bare;
    std::vector<double> ratios; // tool over bare, run by run: the drift of the load cancels
    QStringList failures;
    double toolMedian() const { return median(tool); }
    double bareMedian() const { return median(bare); }
    bool ok() const { return !tool.empty() && !bare.empty() && failures.isEmpty(); }
};

QString listMs(const std::vector<double> &seconds) {
    QStringList parts;
    for (const double s : seconds)
        parts << QString::number(s * 1e3, 'f', s < 0.01 ? 2 : 1);
    return parts.join(QLatin1String(", "));
}

// The real main window with its real serial control, answered by scripted dialogs.
class Window {
public:
    BenchDialogs dialogs;
    std::unique_ptr<frmMain> w;
    StampedComm *comm = nullptr;

    Window() {
        w = std::make_unique<frmMain>(&dialogs);
        w->Form_Load();
        w->show();
        comm = new StampedComm(w->portMap());
        w->MSComm1.reset(comm);
        waitFor([] { return false; }, 300); // mapped and painted before anything is timed
    }

    bool open(const QString &path) {
        dialogs.fileAnswers << path;
        w->OpenButton->trigger();
        return w->image.ConfigLength > 0;
    }
    void save(const QString &path) {
        dialogs.fileAnswers << path;
        w->SaveButton->trigger();
    }
};

class Bench {
public:
    explicit Bench(const Options &options) : opt_(options) {}

    bool prepare();
    void transfers();
    void sweep();
    void stalls();
    void trickle();
    void files();
    void startup();
    void costs();
    bool write();

private:
    QString path(const QString &name) const { return scratch_.filePath(name); }
    QStringList simArgs(const Transfer &t, qint32 length, const QString &record) const;
    Sample toolRun(const Transfer &t, qint32 length, LoopProbe *probe = nullptr);
    Sample bareRun(const Transfer &t, qint32 length, const QStringList &extra = {});
    Sample qtLoopRun(const Transfer &t);
    QString imageFor(qint32 length);
    void recordTransfer(const Transfer &t, const Timings &timings, double limit);
    double fileCommand(bool save, qint32 length, bool viaWindow, LoopProbe *probe = nullptr,
                       qint64 *faults = nullptr);
    QString explanations() const;
    QString notes(const QString &section) const;

    Options opt_;
    QTemporaryDir scratch_;
    std::unique_ptr<Window> window_;
    QByteArray full_;

    QList<Figure> figures_;
    QHash<QString, Timings> transfers_;
    QHash<QString, double> costs_; // nanoseconds per byte (or per call)
    QHash<QString, QString> facts_;
    QList<Series> transferSeries_, fileSeries_;
    QString loadBefore_;
};

QString Bench::imageFor(qint32 length) {
    const QString file = path(QStringLiteral("image-%1.CCF").arg(length));
    if (!QFileInfo::exists(file))
        writeFile(file, length == kFull ? full_ : patterned(length, 7));
    return file;
}

bool Bench::prepare() {
    if (!scratch_.isValid()) {
        say(QStringLiteral("no scratch folder"));
        return false;
    }
    loadBefore_ = loadAverage();
    full_ = patterned(kFull, 7);
    imageFor(kFull);
    window_ = std::make_unique<Window>();
    return true;
}

QStringList Bench::simArgs(const Transfer &t, qint32 length, const QString &record) const {
    QStringList args{QStringLiteral("--generation=%1").arg(t.generation)};
    if (t.restore)
        args << QStringLiteral("--record-image=") + record;
    else
        args << QStringLiteral("--image=") +
                    scratch_.filePath(QStringLiteral("image-%1.CCF").arg(length));
    if (t.generation == 2 && length != kFull)
        args << QStringLiteral("--allow-any-size");
    return args;
}

Sample Bench::toolRun(const Transfer &t, qint32 length, LoopProbe *probe) {
    Sample s;
    const QString image = imageFor(length);
    const QString record = path(QStringLiteral("received-%1").arg(t.key));
    QFile::remove(record);
    Simulator sim(opt_.sim, simArgs(t, length, record));
    if (sim.device().isEmpty()) {
        s.failure = QStringLiteral("simulator did not start");
        return s;
    }
    qputenv("STOWLINE_COM1", sim.device().toLocal8Bit());
    Window &win = *window_;
    if (t.restore && win.w->image.ConfigLength != length && !win.open(image)) {
        s.failure = QStringLiteral("Open of the image failed");
        return s;
    }
    win.dialogs.asked.clear();
    const qint64 reads = t.restore ? 0 : t.generation == 2 ? length : 4 + qint64(length) + 1;
    win.comm->arm(t.startCommand, reads);

    if (probe)
        probe->start();
    (t.restore ? win.w->RestoreButton : win.w->BackupButton)->trigger();
    if (probe) {
        probe->stop();
        s.maxGapNs = probe->maxGapNs();
    }

    if (!win.dialogs.warnings().isEmpty()) {
        s.failure = win.dialogs.warnings().join(QLatin1String("; "));
        return s;
    }
    if (t.restore) {
        const QByteArray expected = readFile(image);
        if (!waitFor([&] { return readFile(record) == expected; }, 3000)) {
            s.failure = QStringLiteral("the controller did not receive the image");
            return s;
        }
    } else if (win.w->image.ConfigLength != length ||
               win.w->image.ConfigData.mid(1, length) != readFile(image)) {
        s.failure = QStringLiteral("the image read back differs");
        return s;
    }
    if (win.comm->startNs() < 0 || win.comm->lastInputNs() < win.comm->startNs()) {
        s.failure = QStringLiteral("transfer clock not started");
        return s;
    }
    s.ok = true;
    s.seconds = double(win.comm->lastInputNs() - win.comm->startNs()) / 1e9;
    return s;
}

Sample Bench::bareRun(const Transfer &t, qint32 length, const QStringList &extra) {
    Sample s;
    const QString image = imageFor(length);
    const QString record = path(QStringLiteral("received-bare-%1").arg(t.key));
    Simulator sim(opt_.sim, simArgs(t, length, record));
    if (sim.device().isEmpty()) {
        s.failure = QStringLiteral("simulator did not start");
        return s;
    }
    const QStringList args =
        QStringList{t.bareMode, sim.device(), QStringLiteral("--image=") + image} + extra;
    const BareResult r = runBare(opt_.bare, args);
    s.ok = r.ok;
    s.failure = r.failure;
    s.seconds = double(r.transferNs) / 1e9;
    return s;
}

// The least a Qt program does that moves the bytes as this design does: QSerialPort, one byte
// per read or write, one turn of the event loop per byte, waiting in the event loop. No engine,
// no window, no clock checks. It shows what the Qt serial port and the event loop cost by
// themselves.
Sample Bench::qtLoopRun(const Transfer &t) {
    Sample s;
    const QString record = path(QStringLiteral("received-qt-%1").arg(t.key));
    Simulator sim(opt_.sim, simArgs(t, kFull, record));
    QSerialPort port(sim.device());
    port.setReadBufferSize(32000);
    if (sim.device().isEmpty() || !port.open(QIODevice::ReadWrite)) {
        s.failure = QStringLiteral("cannot open the simulator's device");
        return s;
    }
    port.clear(QSerialPort::Input);
    QElapsedTimer guard;
    guard.start();
    QTimer tick; // wakes the waits below so that a silent line cannot hang them
    tick.start(100);
    auto await = [&](qint64 count) {
        while (port.bytesAvailable() < count) {
            if (!port.isOpen() || guard.elapsed() > 60'000)
                return false;
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        }
        return true;
    };
    auto take = [&]() {
        char c = 0;
        port.read(&c, 1);
        return quint8(c);
    };
    auto send = [&](const QByteArray &bytes) {
        port.write(bytes);
        port.flush();
    };
    QByteArray one(1, '\0');
    bool ok = true;
    const qint64 start = monoNs();
    if (t.key == QLatin1String("backup2")) {
        send("@?");
        for (qint32 k = 0; k < kFull && ok; ++k) {
            QCoreApplication::processEvents();
            ok = await(2);
            take();
        }
    } else if (t.key == QLatin1String("backup1")) {
        send("B");
        ok = await(4);
        quint32 n = 0;
        for (int i = 0; i < 4; ++i)
            n |= quint32(take()) << (8 * i);
        send("U");
        for (quint32 k = 0; k < n && ok; ++k) {
            ok = await(1);
            take();
            send("A");
        }
        ok = ok && await(1);
        take();
    } else {
        const quint32 n = quint32(kFull);
        send(QByteArray("R") + char(n) + char(n >> 8) + char(n >> 16) + char(n >> 24));
        do {
            ok = await(1);
        } while (ok && take() != 'U');
        for (qint32 i = 0; i < kFull && ok; ++i) {
            one[0] = full_.at(i);
            send(one);
            QCoreApplication::processEvents();
        }
        ok = ok && await(1);
        take();
    }
    const qint64 end = monoNs();
    s.ok = ok;
    s.failure = ok ? QString() : QStringLiteral("the exchange stalled");
    s.seconds = double(end - start) / 1e9;
    return s;
}

void Bench::recordTransfer(const Transfer &t, const Timings &timings, double limit) {
    Figure f;
    f.what = QStringLiteral("Full %1 (%2 bytes) over a pty, simulator at full speed")
                 .arg(t.name.section(QLatin1String(", "), 0, 0) + QLatin1String(" of the ") +
                          t.name.section(QLatin1String(", "), 1),
                      QString::number(kFull));
    if (t.key == QLatin1String("backup1"))
        f.what += QStringLiteral(", lock-step");
    f.reference = QStringLiteral("bare termios loop (`bench_bare %1`): %2")
                      .arg(t.bareMode, formatDuration(timings.bareMedian()));
    QStringList ratios;
    for (const double r : timings.ratios)
        ratios << QString::number(r, 'f', r < 10 ? 2 : 0);
    f.measured = QStringLiteral("tool %1 (runs: %2 ms); bare runs: %3 ms; ratio run by run: %4")
                     .arg(formatDuration(timings.toolMedian()), listMs(timings.tool),
                          listMs(timings.bare), ratios.join(QLatin1String(", ")));
    f.measuredOk = timings.ok();
    if (!f.measuredOk)
        f.measured += QStringLiteral("; failed: ") + timings.failures.join(QLatin1String("; "));
    f.value = timings.ratios.empty() ? NAN : median(timings.ratios);
    f.limit = limit;
    f.unit = QStringLiteral("x");
    f.note = t.key;
    figures_ << f;
}

void Bench::transfers() {
    const struct {
        const Transfer *t;
        int runs;
        double limit;
    } plan[] = {{&kBackup2, opt_.runs, 1.0},
                {&kBackup1, opt_.lockstepRuns, 1.2},
                {&kRestore1, opt_.runs, 1.2},
                {&kRestore2, opt_.runs, 1.2}};
    // The lock-step exchange is at the mercy of the scheduler from one run to the next, so its
    // explaining loops (the bare loop that polls first, the minimal Qt loop) share its runs.
    std::vector<double> polled, qtLockstep;
    for (const auto &item : plan) {
        Timings timings;
        for (int run = 0; run < item.runs; ++run) {
            // Alternate who goes first, so a drift of the machine hits both sides alike.
            Sample pair[2];
            for (int side = 0; side < 2; ++side) {
                const bool toolSide = (side == 0) == (run % 2 == 0);
                const Sample s = toolSide ? toolRun(*item.t, kFull) : bareRun(*item.t, kFull);
                pair[toolSide ? 0 : 1] = s;
                if (!s.ok)
                    timings.failures
                        << QStringLiteral("%1: %2").arg(toolSide ? "tool" : "bare", s.failure);
                else
                    (toolSide ? timings.tool : timings.bare).push_back(s.seconds);
                say(QStringLiteral("%1 run %2 %3: %4")
                        .arg(item.t->key)
                        .arg(run + 1)
                        .arg(toolSide ? "tool" : "bare",
                             s.ok ? formatDuration(s.seconds) : s.failure));
            }
            if (pair[0].ok && pair[1].ok && pair[1].seconds > 0)
                timings.ratios.push_back(pair[0].seconds / pair[1].seconds);
            if (item.t == &kBackup1) {
                const Sample p = bareRun(kBackup1, kFull, {QStringLiteral("--poll")});
                const Sample q = qtLoopRun(kBackup1);
                if (p.ok)
                    polled.push_back(p.seconds);
                if (q.ok)
                    qtLockstep.push_back(q.seconds);
                say(QStringLiteral("backup1 run %1 bare with poll(): %2, minimal Qt loop: %3")
                        .arg(run + 1)
                        .arg(p.ok ? formatDuration(p.seconds) : p.failure,
                             q.ok ? formatDuration(q.seconds) : q.failure));
            }
        }
        transfers_.insert(item.t->key, timings);
        recordTransfer(*item.t, timings, item.limit);
    }
    costs_.insert(QStringLiteral("bare-poll-backup1"), median(polled) * 1e9 / kFull);
    costs_.insert(QStringLiteral("qt-backup1"), median(qtLockstep) * 1e9 / kFull);

    // The protocol's own shape for Restore: one byte per write(), nothing else.
    std::vector<double> perByte;
    for (int run = 0; run < qMax(1, opt_.runs / 2); ++run) {
        const Sample s = bareRun(kRestore1, kFull, {QStringLiteral("--write-chunk=1")});
        if (s.ok)
            perByte.push_back(s.seconds);
    }
    costs_.insert(QStringLiteral("bare-write-per-byte"), median(perByte) * 1e9 / kFull);
    facts_.insert(QStringLiteral("bare-write-per-byte-runs"), listMs(perByte));

    for (const Transfer *t : {&kBackup2, &kRestore1}) {
        std::vector<double> runs;
        for (int run = 0; run < qMax(1, opt_.runs / 2); ++run) {
            const Sample s = qtLoopRun(*t);
            if (s.ok)
                runs.push_back(s.seconds);
            say(QStringLiteral("%1 minimal Qt loop: %2")
                    .arg(t->key, s.ok ? formatDuration(s.seconds) : s.failure));
        }
        costs_.insert(QStringLiteral("qt-") + t->key, median(runs) * 1e9 / kFull);
    }
}

void Bench::sweep() {
    // Time against size for the first generation, whose images may have any length; the
    // second generation's images all have 186368 bytes and are single points.
    QList<qint32> lockstepSizes{1024, 4096, 16384};
    QList<qint32> restoreSizes{1024, 4096, 16384, 65536};
    if (opt_.quick)
        lockstepSizes = {1024, 4096};
    Series backupTool{QStringLiteral("Backup 1st gen., tool"), QColor(0, 90, 200), false, {}};
    Series backupBare{
        QStringLiteral("Backup 1st gen., bare lock-step loop"), QColor(0, 90, 200), true, {}};
    Series restoreTool{QStringLiteral("Restore 1st gen., tool"), QColor(200, 60, 0), false, {}};
    Series restoreBare{QStringLiteral("Restore 1st gen., bare write() of the image"),
                       QColor(200, 60, 0),
                       true,
                       {}};
    for (const qint32 n : lockstepSizes) {
        const Sample tool = toolRun(kBackup1, n);
        const Sample bare = bareRun(kBackup1, n);
        if (tool.ok)
            backupTool.points << QPointF(n, tool.seconds);
        if (bare.ok)
            backupBare.points << QPointF(n, bare.seconds);
        say(QStringLiteral("sweep backup1 %1: tool %2 bare %3")
                .arg(n)
                .arg(formatDuration(tool.seconds), formatDuration(bare.seconds)));
    }
    for (const qint32 n : restoreSizes) {
        const Sample tool = toolRun(kRestore1, n);
        const Sample bare = bareRun(kRestore1, n);
        if (tool.ok)
            restoreTool.points << QPointF(n, tool.seconds);
        if (bare.ok)
            restoreBare.points << QPointF(n, bare.seconds);
        say(QStringLiteral("sweep restore1 %1: tool %2 bare %3")
                .arg(n)
                .arg(formatDuration(tool.seconds), formatDuration(bare.seconds)));
    }
    auto full = [&](const QString &key, Series &tool, Series &bare) {
        const Timings &t = transfers_.value(key);
        if (!t.tool.empty())
            tool.points << QPointF(kFull, t.toolMedian());
        if (!t.bare.empty())
            bare.points << QPointF(kFull, t.bareMedian());
    };
    full(QStringLiteral("backup1"), backupTool, backupBare);
    full(QStringLiteral("restore1"), restoreTool, restoreBare);

    Series backup2Tool{QStringLiteral("Backup 2nd gen., tool"), QColor(0, 150, 60), false, {}};
    Series backup2Bare{
        QStringLiteral("Backup 2nd gen., bare read() of the stream"), QColor(0, 150, 60), true, {}};
    Series restore2Tool{QStringLiteral("Restore 2nd gen., tool"), QColor(150, 0, 160), false, {}};
    Series restore2Bare{QStringLiteral("Restore 2nd gen., bare write() of the image"),
                        QColor(150, 0, 160),
                        true,
                        {}};
    full(QStringLiteral("backup2"), backup2Tool, backup2Bare);
    full(QStringLiteral("restore2"), restore2Tool, restore2Bare);

    Series line9600{
        QStringLiteral("the line itself at 9600 baud"), QColor(120, 120, 120), true, {}};
    Series line57600{
        QStringLiteral("the line itself at 57600 baud"), QColor(170, 170, 170), true, {}};
    for (const double n : {1024.0, double(kFull)}) {
        line9600.points << QPointF(n, n / kLine9600);
        line57600.points << QPointF(n, n / kLine57600);
    }
    transferSeries_ = {line9600,    line57600,   backupTool,  backupBare,   restoreTool,
                       restoreBare, backup2Tool, backup2Bare, restore2Tool, restore2Bare};
}

void Bench::stalls() {
    LoopProbe probe;
    QStringList parts;
    qint64 worst = 0;
    const struct {
        const Transfer *t;
        qint32 length;
    } plan[] = {{&kBackup2, kFull},
                {&kBackup1, opt_.quick ? 4096 : 32768},
                {&kRestore1, kFull},
                {&kRestore2, kFull}};
    bool ok = true;
    for (const auto &item : plan) {
        const Sample s = toolRun(*item.t, item.length, &probe);
        ok = ok && s.ok;
        worst = qMax(worst, s.maxGapNs);
        parts << QStringLiteral("%1 (%2 bytes%3): %4")
                     .arg(item.t->name)
                     .arg(item.length)
                     .arg(item.t->generation == 2 ? QStringLiteral(", 4 s probe included")
                                                  : QString(),
                          s.ok ? formatDuration(double(s.maxGapNs) / 1e9) : s.failure);
    }
    for (const bool save : {false, true}) {
        std::vector<double> gaps;
        for (int run = 0; run < opt_.runs; ++run) {
            LoopProbe fileProbe;
            fileCommand(save, kFull, true, &fileProbe);
            gaps.push_back(double(fileProbe.maxGapNs()) / 1e9);
        }
        const double longest = *std::max_element(gaps.begin(), gaps.end());
        worst = qMax(worst, qint64(longest * 1e9));
        parts << QStringLiteral("%1 of 186368 bytes: longest of %2 runs %3")
                     .arg(save ? "Save" : "Open")
                     .arg(gaps.size())
                     .arg(formatDuration(longest));
    }
    Figure f;
    f.what = QStringLiteral("Longest stall of the window's event loop during any transfer (the "
                            "Restore probe included) and during Open / Save of 186368 bytes");
    f.reference = QStringLiteral("-");
    f.measured = parts.join(QLatin1String("; "));
    f.value = double(worst) / 1e6;
    f.limit = 50;
    f.unit = QStringLiteral("ms");
    f.note = QStringLiteral("stall");
    f.measuredOk = ok;
    figures_ << f;
}

void Bench::trickle() {
    const int seconds = opt_.quick ? 6 : opt_.trickleSeconds;
    for (const Transfer *t : {&kBackup2, &kRestore2}) {
        const QString record = path(QStringLiteral("received-trickle"));
        QStringList args = simArgs(*t, kFull, record) << QStringLiteral("--rate=960");
        Simulator sim(opt_.sim, args);
        qputenv("STOWLINE_COM1", sim.device().toLocal8Bit());
        Window &win = *window_;
        if (t->restore && win.w->image.ConfigLength != kFull)
            win.open(imageFor(kFull));
        win.dialogs.asked.clear();
        win.comm->arm(t->startCommand, 0);

        struct Point {
            qint64 wall = 0, cpu = 0, bytes = 0, switches = 0;
        } probeFrom, probeTo, from, to;
        auto sample = [&win, t](Point &p) {
            p.wall = monoNs();
            p.cpu = cpuNs();
            p.bytes = t->restore ? win.comm->outputBytes() : win.comm->inputs();
            p.switches = voluntarySwitches();
        };
        const qint64 clickNs = monoNs();
        qint64 endedNs = 0;
        // The longest time in the data phase during which no byte moved.
        qint64 lastBytes = -1, lastMoveNs = 0, longestStillNs = 0;
        QTimer watch;
        QObject::connect(&watch, &QTimer::timeout, [&] {
            const qint64 bytes = t->restore ? win.comm->outputBytes() : win.comm->inputs();
            const qint64 now = monoNs();
            if (bytes != lastBytes) {
                lastBytes = bytes;
                lastMoveNs = now;
            }
            longestStillNs = qMax(longestStillNs, now - lastMoveNs);
        });
        // A failure ends the measurement where it is reported.
        win.dialogs.duringWarning = [&] {
            if (to.wall == 0 && from.wall != 0)
                sample(to);
            if (endedNs == 0)
                endedNs = monoNs();
        };
        // The probe's four seconds of waiting, then the data phase at the line's pace. The
        // timers go with `scope`, should the transfer end before they are due.
        QObject scope;
        QTimer::singleShot(500, &scope, [&] { sample(probeFrom); });
        QTimer::singleShot(3500, &scope, [&] { sample(probeTo); });
        QTimer::singleShot(6000, &scope, [&] {
            sample(from);
            lastMoveNs = from.wall;
            watch.start(50);
        });
        QTimer::singleShot(6000 + seconds * 1000, &scope, [&] {
            sample(to);
            watch.stop();
            sim.stop(); // ends the transfer: the tool finds the line gone
        });
        (t->restore ? win.w->RestoreButton : win.w->BackupButton)->trigger();
        watch.stop();
        win.dialogs.duringWarning = nullptr;
        const QStringList warnings = win.dialogs.warnings();
        win.dialogs.asked.clear();
        const bool endedEarly = endedNs != 0 && endedNs < to.wall;

        const double wall = double(to.wall - from.wall) / 1e9;
        const double share = 100.0 * double(to.cpu - from.cpu) / double(to.wall - from.wall);
        const double rate = double(to.bytes - from.bytes) / wall;
        const double wakes = double(to.switches - from.switches) / wall;
        const double probeShare =
            100.0 * double(probeTo.cpu - probeFrom.cpu) / double(probeTo.wall - probeFrom.wall);
        Figure f;
        f.what = QStringLiteral("CPU time of the tool's process over wall time while the "
                                "simulator trickles 960 bytes/s: %1")
                     .arg(t->restore ? QStringLiteral("Restore") : QStringLiteral("Backup"));
        f.reference = QStringLiteral("-");
        f.measured =
            QStringLiteral("%1 s of the data phase of a full second-generation %2: %3 ms CPU, "
                           "%4 bytes/s %5, %6 sleeps/s; during the probe's wait: %7")
                .arg(wall, 0, 'f', 1)
                .arg(t->restore ? "Restore" : "Backup")
                .arg(double(to.cpu - from.cpu) / 1e6, 0, 'f', 0)
                .arg(rate, 0, 'f', 0)
                .arg(t->restore ? "handed to Output" : "taken by Input")
                .arg(wakes, 0, 'f', 0)
                .arg(formatValue(probeShare, QStringLiteral("%")));
        if (endedEarly)
            f.measured += QStringLiteral("; the transfer ended %1 s after the click with \"%2\" "
                                         "(see [the Restore at 960 bytes/s](#slow-restore))")
                              .arg(double(endedNs - clickNs) / 1e9, 0, 'f', 1)
                              .arg(warnings.join(QLatin1String("; ")).section(QLatin1Char('|'), 1));
        f.value = share;
        f.limit = 2;
        f.unit = QStringLiteral("%");
        f.note = QStringLiteral("cpu");
        // A few seconds of the line's pace are enough for a share; less is no measurement.
        f.measuredOk = from.wall > 0 && wall >= 5 && rate > kLine9600 * 0.5;
        if (from.wall == 0 || to.wall == 0)
            f.measured = QStringLiteral("the transfer ended before the measurement began: ") +
                         warnings.join(QLatin1String("; "));
        figures_ << f;
        facts_.insert(QStringLiteral("trickle-wakes-") + t->key, QString::number(wakes, 'f', 0));
        facts_.insert(QStringLiteral("trickle-wake-us-") + t->key,
                      QString::number(double(to.cpu - from.cpu) / 1e3 /
                                          qMax(1.0, double(to.switches - from.switches)),
                                      'f', 0));
        facts_.insert(QStringLiteral("trickle-still-") + t->key,
                      QString::number(double(longestStillNs) / 1e9, 'f', 1));
        if (endedEarly) {
            facts_.insert(QStringLiteral("trickle-ended-") + t->key,
                          QString::number(double(endedNs - clickNs) / 1e9, 'f', 1));
            facts_.insert(QStringLiteral("trickle-moved-") + t->key, QString::number(to.bytes));
        }
        say(QStringLiteral("trickle %1: %2 % CPU at %3 bytes/s over %4 s%5")
                .arg(t->key)
                .arg(share)
                .arg(rate)
                .arg(wall)
                .arg(endedEarly ? QStringLiteral(", ended early") : QString()));
    }
}

// One Save or Open, through the window (click to idle, the scripted dialog answering at once)
// or through the file commands with a silent view. Returns seconds.
double Bench::fileCommand(bool save, qint32 length, bool viaWindow, LoopProbe *probe,
                          qint64 *faults) {
    const QString source = imageFor(length);
    const QString target = path(QStringLiteral("saved-%1.CCF").arg(length));
    if (viaWindow) {
        Window &win = *window_;
        if (save && win.w->image.ConfigLength != length)
            win.open(source);
        if (probe)
            probe->start();
        const qint64 start = monoNs();
        if (save)
            win.save(target);
        else
            win.open(source);
        const qint64 end = monoNs();
        if (probe)
            probe->stop();
        const bool ok =
            save ? QFileInfo(target).size() == length : win.w->image.ConfigLength == length;
        return ok ? double(end - start) / 1e9 : NAN;
    }
    ConfigImage image;
    SilentView view;
    FileCommands commands(image, view);
    view.path = source;
    commands.mnuOpen_Click();
    if (image.ConfigLength != length)
        return NAN;
    view.path = save ? target : source;
    const qint64 faultsBefore = minorFaults();
    const qint64 start = monoNs();
    if (save)
        commands.mnuSave_Click();
    else
        commands.mnuOpen_Click();
    const qint64 end = monoNs();
    if (faults)
        *faults = minorFaults() - faultsBefore;
    return double(end - start) / 1e9;
}

void Bench::files() {
    const int small = opt_.quick ? 5 : 15;
    const int large = opt_.quick ? 3 : 7;
    // Page faults per call, summed over the timed calls of each size: fresh memory costs one
    // per page on first touch.
    QHash<QString, double> faultsPerCall;
    auto timeIt = [&](bool save, qint32 length, bool viaWindow, int runs) {
        std::vector<double> out;
        fileCommand(save, length, viaWindow); // warm the page cache and the allocator
        qint64 faults = 0;
        for (int i = 0; i < runs; ++i) {
            qint64 f = 0;
            out.push_back(fileCommand(save, length, viaWindow, nullptr, &f));
            faults += f;
        }
        faultsPerCall.insert(QStringLiteral("tool-%1-%2").arg(save).arg(length),
                             double(faults) / runs);
        return out;
    };
    auto timeBare = [&](bool save, qint32 length, int runs, bool flush = true) {
        const QString source = imageFor(length);
        const QByteArray bytes = save ? readFile(source) : QByteArray();
        const QString target = path(QStringLiteral("bare-%1.CCF").arg(length));
        std::vector<double> out;
        qint64 faults = 0;
        for (int i = 0; i <= runs; ++i) {
            const qint64 before = minorFaults();
            const double t =
                save ? bareWriteSeconds(target, bytes, flush) : bareReadSeconds(source);
            if (i > 0) { // the first one warms up, as for the tool
                out.push_back(t);
                faults += minorFaults() - before;
            }
        }
        faultsPerCall.insert(QStringLiteral("bare-%1-%2").arg(save).arg(length),
                             double(faults) / runs);
        return out;
    };
    const qint32 big = 64 << 20;
    for (const bool save : {false, true}) {
        const QString verb = save ? QStringLiteral("Save") : QStringLiteral("Open");
        const QString bareName = save ? QStringLiteral("bare write(), fdatasync(), rename()")
                                      : QStringLiteral("bare read()");
        const std::vector<double> smallRuns = timeIt(save, kFull, true, small);
        const std::vector<double> smallLayer = timeIt(save, kFull, false, small);
        const std::vector<double> smallBare = timeBare(save, kFull, small);
        const std::vector<double> bigRuns = timeIt(save, big, true, large);
        const std::vector<double> bigBare = timeBare(save, big, large);
        Figure f;
        f.what = QStringLiteral("%1 of 186368 bytes, click to idle").arg(verb);
        f.reference = QStringLiteral("%1: %2").arg(bareName, formatDuration(median(smallBare)));
        f.measured = QStringLiteral("window %1 (min %2); the file commands alone %3")
                         .arg(formatDuration(median(smallRuns)), formatDuration(minimum(smallRuns)),
                              formatDuration(median(smallLayer)));
        f.value = median(smallRuns) * 1e3;
        f.limit = 5;
        f.unit = QStringLiteral("ms");
        f.note = save ? QStringLiteral("save") : QStringLiteral("open");
        f.measuredOk = std::isfinite(f.value);
        figures_ << f;
        Figure g = f;
        g.what = QStringLiteral("%1 of 64 MiB, click to idle").arg(verb);
        g.reference = QStringLiteral("%1: %2").arg(bareName, formatDuration(median(bigBare)));
        g.measured = QStringLiteral("window %1 (min %2)")
                         .arg(formatDuration(median(bigRuns)), formatDuration(minimum(bigRuns)));
        g.value = median(bigRuns);
        g.limit = 0.5;
        g.unit = QStringLiteral("s");
        g.measuredOk = std::isfinite(g.value);
        figures_ << g;
        costs_.insert(QStringLiteral("file-window-") + verb, median(smallRuns));
        costs_.insert(QStringLiteral("file-layer-") + verb, median(smallLayer));
        costs_.insert(QStringLiteral("file-bare-") + verb, median(smallBare));
        if (save)
            costs_.insert(QStringLiteral("file-bare-noflush-Save"),
                          median(timeBare(true, kFull, small, false)));
        say(QStringLiteral("%1: %2 / %3")
                .arg(verb, formatDuration(f.value / 1e3), formatDuration(g.value)));

        // Cost against size through the file commands and the bare loop, for the plot and
        // the growth figure.
        const QColor colour = save ? QColor(200, 60, 0) : QColor(0, 90, 200);
        Series tool{QStringLiteral("%1, file commands").arg(verb), colour, false, {}};
        Series bare{QStringLiteral("%1, ").arg(verb) + bareName, colour, true, {}};
        const QList<qint32> sizes{65536, kFull, 1 << 20, 4 << 20, 16 << 20, big};
        QHash<qint32, double> toolAt, bareAt;
        for (const qint32 n : sizes) {
            const int runs = n >= (16 << 20) ? large : small;
            toolAt.insert(n, median(timeIt(save, n, false, runs)));
            bareAt.insert(n, median(timeBare(save, n, runs)));
            tool.points << QPointF(n, toolAt.value(n));
            bare.points << QPointF(n, bareAt.value(n));
        }
        fileSeries_ << tool << bare;
        // Linear growth keeps the cost per byte, so the log-log slope is 1. Caches and fresh
        // memory can make any program's cost per byte rise with size; then the tool may grow as
        // fast as the bare loop moving the same files, no faster.
        auto slope = [&](const QHash<qint32, double> &at) {
            return std::log(at.value(big) / at.value(1 << 20)) / std::log(64.0);
        };
        Figure h;
        h.what = QStringLiteral("%1: growth of the cost from 1 MiB to 64 MiB (log-log slope; 1 is "
                                "linear), file commands")
                     .arg(verb);
        h.reference = QStringLiteral("%1 of the same files: slope %2")
                          .arg(bareName)
                          .arg(slope(bareAt), 0, 'f', 2);
        QStringList points;
        for (const qint32 n : sizes)
            points << QStringLiteral("%1 B: %2 (bare %3)")
                          .arg(n)
                          .arg(formatDuration(toolAt.value(n)), formatDuration(bareAt.value(n)));
        h.measured =
            points.join(QLatin1String(", ")) +
            QStringLiteral("; page faults per %1 of 4 MiB: %2 (bare %3)")
                .arg(verb)
                .arg(faultsPerCall.value(QStringLiteral("tool-%1-%2").arg(save).arg(4 << 20)), 0,
                     'f', 0)
                .arg(faultsPerCall.value(QStringLiteral("bare-%1-%2").arg(save).arg(4 << 20)), 0,
                     'f', 0);
        h.value = slope(toolAt);
        h.limit = qMax(1.0, slope(bareAt)) + 0.1;
        h.limitText = QStringLiteral("<= 1 or the bare slope, if higher, + 0.10 (%1)")
                          .arg(h.limit, 0, 'f', 2);
        h.unit = QString();
        h.note = QStringLiteral("growth");
        h.measuredOk = std::isfinite(h.value) && std::isfinite(h.limit);
        figures_ << h;
    }
}

QHash<QString, QString> fields(const QString &line) {
    QHash<QString, QString> out;
    for (const QString &pair : line.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        out.insert(pair.section(QLatin1Char('='), 0, 0), pair.section(QLatin1Char('='), 1));
    return out;
}

void Bench::startup() {
    // In-process: the program as app/main.cpp starts it, plus a watch on the first paint.
    std::vector<double> paint, shown, mainAt, hwm, rss;
    for (int run = 0; run < (opt_.quick ? 3 : opt_.startupRuns); ++run) {
        QProcess p;
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("startup-config")));
        p.setProcessEnvironment(env);
        const qint64 spawn = monoNs();
        p.start(opt_.startup, {});
        if (!p.waitForFinished(30000)) {
            p.kill();
            p.waitForFinished();
            continue;
        }
        const QHash<QString, QString> f = fields(QString::fromLocal8Bit(p.readAllStandardOutput()));
        if (!f.contains(QStringLiteral("paint_ns")))
            continue;
        paint.push_back(double(f.value(QStringLiteral("paint_ns")).toLongLong() - spawn) / 1e9);
        shown.push_back(double(f.value(QStringLiteral("shown_ns")).toLongLong() - spawn) / 1e9);
        mainAt.push_back(double(f.value(QStringLiteral("main_ns")).toLongLong() - spawn) / 1e9);
        hwm.push_back(f.value(QStringLiteral("hwm_kib")).toDouble() * 1024 / 1e6);
        rss.push_back(f.value(QStringLiteral("rss_kib")).toDouble() * 1024 / 1e6);
    }
    const QString platform = QGuiApplication::platformName();
    Figure f;
    f.what = QStringLiteral("Start to the first painted window: in-process start as app/main.cpp, "
                            "first Paint event of the main window (%1)")
                 .arg(platform);
    f.reference = QStringLiteral("-");
    f.measured = QStringLiteral("first Paint %1, frame out %2, main() entered %3 after the "
                                "start; %4 runs")
                     .arg(formatDuration(median(paint)), formatDuration(median(shown)),
                          formatDuration(median(mainAt)))
                     .arg(paint.size());
    f.value = median(shown) * 1e3;
    f.limit = 300;
    f.unit = QStringLiteral("ms");
    f.note = QStringLiteral("startup");
    f.measuredOk = !paint.empty();
    figures_ << f;
    Figure m;
    m.what = QStringLiteral("Peak memory when idle (VmHWM one second after the first paint), "
                            "in-process start (%1)")
                 .arg(platform);
    m.reference = QStringLiteral("-");
    m.measured = QStringLiteral("VmHWM %1 MB, VmRSS %2 MB")
                     .arg(median(hwm), 0, 'f', 1)
                     .arg(median(rss), 0, 'f', 1);
    m.value = median(hwm);
    m.limit = 80;
    m.unit = QStringLiteral("MB");
    m.note = QStringLiteral("startup");
    m.measuredOk = !hwm.empty();
    figures_ << m;

    // The real program on the X display, watched from outside: no hook in the program.
    if (opt_.xwatch.isEmpty() || opt_.exe.isEmpty() || platform != QLatin1String("xcb")) {
        facts_.insert(QStringLiteral("real-binary"),
                      QStringLiteral("not measured: needs an X display (Xvfb) and bench_xwatch"));
        return;
    }
    std::vector<double> mapped, painted, realHwm, realRss;
    for (int run = 0; run < (opt_.quick ? 3 : opt_.startupRuns); ++run) {
        QProcess watch;
        watch.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        watch.start(opt_.xwatch, {QStringLiteral("Stowline"), QStringLiteral("20")});
        if (!watch.waitForReadyRead(5000))
            continue;
        watch.readLine();
        QProcess program;
        program.setProcessChannelMode(QProcess::ForwardedChannels);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), path(QStringLiteral("startup-config")));
        env.remove(QStringLiteral("STOWLINE_COM1"));
        program.setProcessEnvironment(env);
        const qint64 spawn = monoNs();
        program.start(opt_.exe, {});
        watch.waitForFinished(25000);
        const QHash<QString, QString> f2 =
            fields(QString::fromLocal8Bit(watch.readAllStandardOutput()));
        waitFor([] { return false; }, 1000); // idle a second, as the in-process start does
        const Memory memory = memoryOf(program.processId());
        program.terminate();
        if (!program.waitForFinished(3000)) {
            program.kill();
            program.waitForFinished();
        }
        if (!f2.contains(QStringLiteral("paint_ns")) ||
            f2.value(QStringLiteral("paint_ns")).toLongLong() < 0)
            continue;
        mapped.push_back(double(f2.value(QStringLiteral("map_ns")).toLongLong() - spawn) / 1e9);
        painted.push_back(double(f2.value(QStringLiteral("paint_ns")).toLongLong() - spawn) / 1e9);
        realHwm.push_back(double(memory.hwmKiB) * 1024 / 1e6);
        realRss.push_back(double(memory.rssKiB) * 1024 / 1e6);
    }
    Figure r;
    r.what = QStringLiteral("Start to the first painted window: the real program on Xvfb, "
                            "watched from outside (first non-uniform frame of its window)");
    r.reference = QStringLiteral("-");
    r.measured = QStringLiteral("window mapped %1, painted %2 after the start; %3 runs")
                     .arg(formatDuration(median(mapped)), formatDuration(median(painted)))
                     .arg(painted.size());
    r.value = median(painted) * 1e3;
    r.limit = 300;
    r.unit = QStringLiteral("ms");
    r.note = QStringLiteral("startup");
    r.measuredOk = !painted.empty();
    figures_ << r;
    Figure rm = m;
    rm.what = QStringLiteral("Peak memory when idle (VmHWM after the first paint and a second of "
                             "idling): the real program on Xvfb");
    rm.measured = QStringLiteral("VmHWM %1 MB, VmRSS %2 MB")
                      .arg(median(realHwm), 0, 'f', 1)
                      .arg(median(realRss), 0, 'f', 1);
    rm.value = median(realHwm);
    rm.measuredOk = !realHwm.empty();
    figures_ << rm;
}

void Bench::costs() {
    // The engines alone: the real Transfers code against a controller in memory, with a clock
    // whose waits cost nothing. No port, no system call, no event loop.
    auto engineRun = [&](const Transfer &t, TransferUi &view, ConfigImage &image) {
        MemoryController controller(t.generation, full_);
        image.ConfigData = QByteArray(1, '\0') + full_;
        image.ConfigLength = kFull;
        Transfers transfers(controller, controller, view, image);
        if (t.restore)
            transfers.mnuRestore_Click();
        else
            transfers.mnuBackup_Click();
        const bool ok =
            t.restore ? controller.received() == full_ : image.ConfigData.mid(1, kFull) == full_;
        return ok ? double(controller.lastInputNs() - controller.startNs()) / kFull : NAN;
    };
    const int runs = opt_.quick ? 3 : 7;
    for (const Transfer *t : {&kBackup2, &kBackup1, &kRestore1}) {
        std::vector<double> silent, windowed;
        for (int i = 0; i < runs; ++i) {
            SilentView view;
            ConfigImage image;
            silent.push_back(engineRun(*t, view, image));
            windowed.push_back(engineRun(*t, *window_->w, window_->w->image));
        }
        costs_.insert(QStringLiteral("floor-") + t->key, median(silent));
        costs_.insert(QStringLiteral("window-") + t->key, median(windowed));
    }
    window_->w->SetIdleState();

    // One turn of the event loop, as every wait and every sent byte takes it.
    EventLoopClock clock;
    const int turns = opt_.quick ? 20000 : 100000;
    std::vector<double> perTurn;
    for (int i = 0; i < 5; ++i) {
        const qint64 start = monoNs();
        for (int k = 0; k < turns; ++k)
            clock.yieldOnce();
        perTurn.push_back(double(monoNs() - start) / turns);
    }
    costs_.insert(QStringLiteral("yield"), median(perTurn));

    for (const QString &key : {QStringLiteral("backup2"), QStringLiteral("backup1"),
                               QStringLiteral("restore1"), QStringLiteral("restore2")}) {
        const Timings &t = transfers_.value(key);
        costs_.insert(QStringLiteral("tool-") + key, t.toolMedian() * 1e9 / kFull);
        costs_.insert(QStringLiteral("bare-") + key, t.bareMedian() * 1e9 / kFull);
    }
}

QString ns(double value) {
    if (!std::isfinite(value))
        return QStringLiteral("n/a");
    return value >= 100 ? QString::number(value, 'f', 0) : QString::number(value, 'f', 1);
}

QString Bench::explanations() const {
    auto c = [this](const char *key) { return costs_.value(QLatin1String(key), NAN); };
    QString out = QStringLiteral("## Where the time goes, per image byte\n\n"
                                 "| Path | ns per byte |\n|---|---|\n");
    auto row = [&](const QString &what, double value) {
        out += QStringLiteral("| %1 | %2 |\n").arg(what, ns(value));
    };
    row(QStringLiteral("The line itself at 9600 baud (10 bits a byte)"), 1e9 / kLine9600);
    row(QStringLiteral("The line itself at 57600 baud"), 1e9 / kLine57600);
    row(QStringLiteral("Backup, 2nd gen.: bare `read()` of the stream"), c("bare-backup2"));
    row(QStringLiteral("Backup, 2nd gen.: minimal Qt loop (one `read()` of one byte and one "
                       "event-loop turn per byte)"),
        c("qt-backup2"));
    row(QStringLiteral("Backup, 2nd gen.: engines alone (in-memory controller, silent view)"),
        c("floor-backup2"));
    row(QStringLiteral("Backup, 2nd gen.: engines with the window as the view (in memory)"),
        c("window-backup2"));
    row(QStringLiteral("Backup, 2nd gen.: the tool over the pty"), c("tool-backup2"));
    row(QStringLiteral("Backup, 1st gen.: bare lock-step loop, one round trip per byte"),
        c("bare-backup1"));
    row(QStringLiteral("Backup, 1st gen.: bare lock-step loop waiting with `poll()` before each "
                       "`read()`"),
        c("bare-poll-backup1"));
    row(QStringLiteral("Backup, 1st gen.: minimal Qt lock-step loop (waits in the event loop)"),
        c("qt-backup1"));
    row(QStringLiteral("Backup, 1st gen.: engines alone"), c("floor-backup1"));
    row(QStringLiteral("Backup, 1st gen.: the tool over the pty"), c("tool-backup1"));
    row(QStringLiteral("Restore, 1st gen.: bare `write()` of the whole image"), c("bare-restore1"));
    row(QStringLiteral("Restore, 1st gen.: bare `write()` of one byte per call (runs: ") +
            facts_.value(QStringLiteral("bare-write-per-byte-runs")) + QStringLiteral(" ms)"),
        c("bare-write-per-byte"));
    row(QStringLiteral("Restore, 1st gen.: minimal Qt loop (one-byte `write()` and `flush()`, "
                       "one event-loop turn per byte)"),
        c("qt-restore1"));
    row(QStringLiteral("Restore: engines alone"), c("floor-restore1"));
    row(QStringLiteral("Restore, 1st gen.: the tool over the pty"), c("tool-restore1"));
    row(QStringLiteral("Restore, 2nd gen.: bare `write()` of the whole image"), c("bare-restore2"));
    row(QStringLiteral("Restore, 2nd gen.: the tool over the pty"), c("tool-restore2"));
    row(QStringLiteral("One turn of the event loop (`EventLoopClock::yieldOnce`, window shown, "
                       "nothing pending), per call"),
        c("yield"));
    out += QLatin1Char('\n');

    if (facts_.contains(QStringLiteral("trickle-ended-restore2")))
        out += notes(QStringLiteral("slow-restore"));
    QSet<QString> missed;
    for (const Figure &f : figures_)
        if (!f.met() && !f.note.isEmpty())
            missed.insert(f.note == QLatin1String("restore2") ? QStringLiteral("restore1")
                                                              : f.note);
    if (!missed.isEmpty())
        out += QStringLiteral("## Misses explained\n\n");
    QStringList sections = missed.values();
    sections.sort();
    for (const QString &note : sections) {
        const QString text = notes(note);
        out += !text.isEmpty() ? text
                               : QStringLiteral("<a id=\"%1\"></a>\n### %1\n\nMissed in this run, "
                                                "with nothing measured here to explain it; see "
                                                "the measured column.\n\n")
                                     .arg(note);
    }
    return out;
}

// A section of bench/report.md with this run's figures in place of its placeholders.
QString Bench::notes(const QString &section) const {
    QFile file(QStringLiteral(STOWLINE_BENCH_NOTES));
    const QString all =
        file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    const QString marker = QStringLiteral("<!-- section:") + section + QStringLiteral(" -->\n");
    const qsizetype begin = all.indexOf(marker);
    if (begin < 0)
        return {};
    QString text =
        all.mid(begin + marker.size(),
                all.indexOf(QLatin1String("<!-- section:"), begin + 1) - begin - marker.size());
    auto c = [this](const QString &key) {
        return key == QLatin1String("line9600")    ? 1e9 / kLine9600
               : key == QLatin1String("line57600") ? 1e9 / kLine57600
                                                   : costs_.value(key, NAN);
    };
    static const QRegularExpression placeholder(QStringLiteral("\\{(ns|x|d|fact):([^}]*)\\}"));
    for (QRegularExpressionMatch m = placeholder.match(text); m.hasMatch();
         m = placeholder.match(text)) {
        const QString kind = m.captured(1), key = m.captured(2);
        QString value;
        if (kind == QLatin1String("fact")) {
            value = facts_.value(key);
        } else if (kind == QLatin1String("d")) {
            value = formatDuration(c(key));
        } else if (kind == QLatin1String("x")) {
            const double ratio =
                c(key.section(QLatin1Char('/'), 0, 0)) / c(key.section(QLatin1Char('/'), 1, 1));
            value = QString::number(ratio, 'f', ratio < 10 ? 2 : 0);
        } else {
            const QStringList terms = key.split(QStringLiteral(" - "));
            value = ns(terms.size() == 2 ? c(terms[0]) - c(terms[1]) : c(key));
        }
        text.replace(m.capturedStart(), m.capturedLength(), value);
    }
    return text;
}

bool Bench::write() {
    const QString plotName = QFileInfo(opt_.plot).fileName();
    QString md;
    md += QStringLiteral("# Performance\n\n");
    md += QStringLiteral("Written by the benchmark suite in `bench/`; reproduce with\n\n"
                         "```sh\n%1\n```\n\n")
              .arg(opt_.command.isEmpty() ? QStringLiteral("bash bench/run.sh") : opt_.command);
    md += QStringLiteral("- Date: %1\n").arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate));
    md += QStringLiteral("- Machine: %1\n").arg(machineDescription());
    md += QStringLiteral("- Load average (1, 5, 15 min) before / after: %1 / %2\n")
              .arg(loadBefore_, loadAverage());
    md += QStringLiteral("- Window platform: %1; build: %2\n")
              .arg(QGuiApplication::platformName(), QStringLiteral(STOWLINE_BENCH_BUILD_TYPE));
    md += QStringLiteral("- Runs: %1 per transfer (%2 for the lock-step Backup), medians; %3 s "
                         "of trickle per CPU figure%4\n\n")
              .arg(opt_.runs)
              .arg(opt_.lockstepRuns)
              .arg(opt_.quick ? 6 : opt_.trickleSeconds)
              .arg(opt_.quick ? QStringLiteral("; QUICK RUN, not for the record") : QString());
    md += QStringLiteral("## Results\n\n") + markdownTable(figures_) + QLatin1Char('\n');
    if (facts_.contains(QStringLiteral("real-binary")))
        md += QStringLiteral("The real program's start: %1.\n\n")
                  .arg(facts_.value(QStringLiteral("real-binary")));
    md += QStringLiteral("![Time against image size](%1)\n\n").arg(plotName);
    md += explanations();
    md += notes(QStringLiteral("method"));

    QFile out(opt_.markdown);
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        say(QStringLiteral("cannot write ") + opt_.markdown);
        return false;
    }
    out.write(md.toUtf8());
    out.close();

    const QList<Panel> panels{
        {QStringLiteral("Transfers over a pty at full speed (solid: tool, dashed: reference)"),
         transferSeries_},
        {QStringLiteral("Open and Save through the file commands"), fileSeries_}};
    if (!writePlot(
            opt_.plot, panels,
            QStringLiteral("%1, %2").arg(QDateTime::currentDateTimeUtc().toString(Qt::ISODate),
                                         machineDescription().section(QLatin1String(";"), 0, 0)))) {
        say(QStringLiteral("cannot write ") + opt_.plot);
        return false;
    }
    return true;
}

Options parseOptions(const QStringList &args, QString *error) {
    Options o;
    for (const QString &arg : args.mid(1)) {
        const QString key = arg.section(QLatin1Char('='), 0, 0);
        const QString value = arg.section(QLatin1Char('='), 1);
        if (key == QLatin1String("--sim"))
            o.sim = value;
        else if (key == QLatin1String("--bare"))
            o.bare = value;
        else if (key == QLatin1String("--startup"))
            o.startup = value;
        else if (key == QLatin1String("--xwatch"))
            o.xwatch = value;
        else if (key == QLatin1String("--exe"))
            o.exe = value;
        else if (key == QLatin1String("--markdown"))
            o.markdown = value;
        else if (key == QLatin1String("--plot"))
            o.plot = value;
        else if (key == QLatin1String("--command"))
            o.command = value;
        else if (key == QLatin1String("--runs"))
            o.runs = qMax(1, value.toInt());
        else if (key == QLatin1String("--lockstep-runs"))
            o.lockstepRuns = qMax(1, value.toInt());
        else if (key == QLatin1String("--trickle-seconds"))
            o.trickleSeconds = qMax(2, value.toInt());
        else if (key == QLatin1String("--quick"))
            o.quick = true;
        else if (key == QLatin1String("--only"))
            o.only = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
        else
            *error = QStringLiteral("unknown option ") + arg;
    }
    if (error->isEmpty() && (o.sim.isEmpty() || o.bare.isEmpty() || o.startup.isEmpty() ||
                             o.markdown.isEmpty() || o.plot.isEmpty()))
        *error = QStringLiteral("--sim, --bare, --startup, --markdown and --plot are needed");
    if (o.quick) {
        o.runs = qMin(o.runs, 3);
        o.lockstepRuns = 1;
    }
    return o;
}

} // namespace

int main(int argc, char **argv) {
    // The window reads and writes its settings; never the user's own.
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stowline"));
    QApplication::setOrganizationName(QStringLiteral("Stowline"));

    QString error;
    const Options options = parseOptions(app.arguments(), &error);
    if (!error.isEmpty()) {
        say(error);
        return 2;
    }
    Bench bench(options);
    if (!bench.prepare())
        return 1;
    const QElapsedTimer total = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    const struct {
        const char *group;
        const char *title;
        void (Bench::*run)();
    } groups[] = {
        {"transfers", "transfers at full speed", &Bench::transfers},
        {"sweep", "time against size", &Bench::sweep},
        {"stalls", "event-loop stalls", &Bench::stalls},
        {"trickle", "CPU at 960 bytes/s", &Bench::trickle},
        {"files", "Open and Save", &Bench::files},
        {"startup", "start-up and memory", &Bench::startup},
        {"costs", "per-byte costs", &Bench::costs},
    };
    for (const auto &group : groups) {
        if (!options.wants(group.group))
            continue;
        say(QString::fromLatin1(group.title));
        (bench.*group.run)();
    }
    const bool ok = bench.write();
    say(QStringLiteral("done in %1 s").arg(total.elapsed() / 1000));
    return ok ? 0 : 1;
}
