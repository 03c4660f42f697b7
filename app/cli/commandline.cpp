#include "cli/commandline.h"

#include "config/imagediff.h"
#include "link/journal.h"
#include "link/progressestimate.h"
#include "link/transfertexts.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace Cli {

namespace {

struct Word {
    const char *text;
    Command command;
};
const Word kWords[] = {
    {"backup", Command::Backup},     {"restore", Command::Restore}, {"verify", Command::Verify},
    {"ports", Command::Ports},       {"--help", Command::Help},     {"-h", Command::Help},
    {"--version", Command::Version}, {"history", Command::History}, {"diff", Command::Diff},
};

const Word *findWord(const QString &arg) {
    for (const Word &w : kWords)
        if (arg == QLatin1String(w.text))
            return &w;
    return nullptr;
}

Options failed(Options o, const QString &why) {
    o.error = why;
    return o;
}

QString rateText(double bytesPerSecond) {
    if (bytesPerSecond < 10000)
        return QStringLiteral("%1 B/s").arg(qRound64(bytesPerSecond));
    return QStringLiteral("%1 kB/s").arg(bytesPerSecond / 1000, 0, 'f', 1);
}

} // namespace

namespace {

bool takesValue(const QString &name) {
    static const char *const names[] = {"--port",  "--device", "-o",        "--output", "-i",
                                        "--input", "--serial", "--retries", "-n"};
    for (const char *n : names)
        if (name == QLatin1String(n))
            return true;
    return false;
}

// Help wins over everything else on the line, mistakes included, as users expect of any
// command; a value that happens to read "-h" is no request for help.
bool helpRequested(const QStringList &args) {
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args.at(i) == QLatin1String("--help") || args.at(i) == QLatin1String("-h"))
            return true;
        if (takesValue(args.at(i)))
            ++i;
    }
    return false;
}

Options parseStrict(const QStringList &args);

} // namespace

Options parse(const QStringList &args) {
    Options o = parseStrict(args);
    if (o.command != Command::Help && helpRequested(args)) {
        o = Options();
        o.command = Command::Help;
    }
    return o;
}

Start start(const QStringList &args, bool display) {
    const QString first = args.value(0);
    if (!first.isEmpty() && findWord(first))
        return Start::CommandLine;
    if (display)
        return Start::Window;
    return !first.isEmpty() && (first.startsWith(QLatin1Char('-')) || !QFileInfo::exists(first))
               ? Start::CommandLine
               : Start::NoDisplay;
}

namespace {

Options parseStrict(const QStringList &args) {
    Options o;
    const Word *word = args.isEmpty() ? nullptr : findWord(args.first());
    if (!word)
        return failed(o, args.isEmpty() ? QStringLiteral("no command given")
                                        : QStringLiteral("unknown command '%1' (the commands are "
                                                         "backup, restore, verify, ports, history "
                                                         "and diff)")
                                              .arg(args.first()));
    o.command = word->command;
    const bool transfer = o.command == Command::Backup || o.command == Command::Restore ||
                          o.command == Command::Verify;
    bool portGiven = false;

    for (qsizetype i = 1; i < args.size(); ++i) {
        QString name = args.at(i);
        QString value;
        bool hasValue = false;
        if (name.startsWith(QLatin1String("--")) && name.contains(QLatin1Char('='))) {
            value = name.section(QLatin1Char('='), 1);
            name = name.section(QLatin1Char('='), 0, 0);
            hasValue = true;
        }
        if (name == QLatin1String("--help") || name == QLatin1String("-h"))
            return o; // parse() answers it
        const bool valued = takesValue(name);
        if (valued && !hasValue) {
            if (i + 1 >= args.size())
                return failed(o, QStringLiteral("%1 needs a value").arg(name));
            value = args.at(++i);
        } else if (!valued && hasValue) {
            return failed(o, QStringLiteral("%1 takes no value").arg(name));
        }

        bool ok = false;
        const int n = value.toInt(&ok);
        if (!name.startsWith(QLatin1Char('-')) && o.command == Command::Diff) {
            if (o.files.size() == 2)
                return failed(o, QStringLiteral("diff compares two files"));
            o.files.append(name);
        } else if (name == QLatin1String("--port") && transfer) {
            if (portGiven || !o.device.isEmpty() || !o.serial.isEmpty())
                return failed(o, QStringLiteral("give one --port, --device or --serial"));
            if (!ok || n < 1 || n > 255)
                return failed(o, QStringLiteral("--port takes a number from 1 to 255"));
            o.port = qint16(n);
            portGiven = true;
        } else if (name == QLatin1String("--device") && transfer) {
            if (portGiven || !o.device.isEmpty() || !o.serial.isEmpty())
                return failed(o, QStringLiteral("give one --port, --device or --serial"));
            if (value.isEmpty())
                return failed(o, QStringLiteral("--device needs a device path"));
            o.device = value;
        } else if (name == QLatin1String("--serial") && transfer) {
            if (portGiven || !o.device.isEmpty() || !o.serial.isEmpty() || value.isEmpty())
                return failed(o, QStringLiteral("give one --port, --device or --serial"));
            o.serial = value;
        } else if (name == QLatin1String("--retries") &&
                   (o.command == Command::Backup || o.command == Command::Verify)) {
            if (!ok || n < 0 || n > 100)
                return failed(o, QStringLiteral("--retries takes a number from 0 to 100"));
            o.retries = n;
        } else if (name == QLatin1String("-n") && o.command == Command::History) {
            if (!ok || n < 1)
                return failed(o, QStringLiteral("-n takes a number from 1"));
            o.newest = n;
        } else if (((name == QLatin1String("-o") || name == QLatin1String("--output")) &&
                    o.command == Command::Backup) ||
                   ((name == QLatin1String("-i") || name == QLatin1String("--input")) &&
                    (o.command == Command::Restore || o.command == Command::Verify))) {
            if (!o.file.isEmpty())
                return failed(o, QStringLiteral("give one file"));
            if (value.isEmpty())
                return failed(o, QStringLiteral("%1 needs a file name").arg(name));
            o.file = value;
        } else if (name == QLatin1String("--force") && o.command == Command::Backup) {
            o.force = true;
        } else if ((name == QLatin1String("--quiet") || name == QLatin1String("-q")) && transfer) {
            o.quiet = true;
        } else if (name == QLatin1String("--json") && o.command != Command::Diff) {
            o.json = true;
        } else {
            return failed(
                o,
                QStringLiteral("'%1' is not an option of %2").arg(name, QLatin1String(word->text)));
        }
    }

    if (transfer && !portGiven && o.device.isEmpty() && o.serial.isEmpty())
        return failed(o, QStringLiteral("%1 needs --port N, --device PATH or --serial SN")
                             .arg(QLatin1String(word->text)));
    if (o.command == Command::Diff && o.files.size() != 2)
        return failed(o, QStringLiteral("diff needs two files"));
    if (transfer && o.file.isEmpty())
        return failed(o, QStringLiteral("%1 needs %2 FILE")
                             .arg(QLatin1String(word->text),
                                  QLatin1String(o.command == Command::Backup ? "-o" : "-i")));
    return o;
}

} // namespace

int exitCodeFor(Outcome outcome) {
    switch (outcome) {
    case Outcome::Succeeded:
        return Success;
    case Outcome::NothingHeld:
        return FileFailed; // the file gave nothing to send
    case Outcome::OpenFailed:
        return PortFailed;
    case Outcome::NoResponse:
        return NoResponse;
    case Outcome::Refused:
        return Refused;
    case Outcome::Stopped:
        return Interrupted;
    }
    return NoResponse;
}

QString describe(const ImageDiff &d, qint64 controllerLength, qint64 fileLength) {
    if (d.count == 0)
        return QStringLiteral("identical (%1)").arg(byteCountText(controllerLength));
    return QStringLiteral("%1 differ%2, the first at byte %3; Controller %4, file %5")
        .arg(d.count == 1 ? QStringLiteral("1 byte") : byteCountText(d.count),
             d.count == 1 ? QStringLiteral("s") : QString())
        .arg(d.first)
        .arg(byteCountText(controllerLength), byteCountText(fileLength));
}

QString progressText(qint64 value, qint64 min, qint64 max, qint64 elapsedNs) {
    const qint64 span = max - min;
    const qint64 done = qBound<qint64>(0, value - min, qMax<qint64>(span, 0));
    QString text =
        QStringLiteral("%1%  %2").arg(percentOf(value, min, max), 3).arg(byteCountText(done));
    if (elapsedNs >= 250'000'000 && done > 0) {
        const double rate = double(done) * 1e9 / double(elapsedNs);
        text += QStringLiteral("  ") + rateText(rate) + QStringLiteral("  ") +
                durationText(qint64(double(span - done) / rate + 0.5)) + QStringLiteral(" left");
    }
    return text;
}

int ProgressMeter::percent(qint64 value) const {
    return percentOf(value, min_, max_);
}

void ProgressMeter::range(qint64 min, qint64 max, qint64 nowNs) {
    min_ = min;
    max_ = max;
    startNs_ = nowNs;
    drawnPercent_ = -1;
    drawnNs_ = nowNs;
    active_ = style_ != Style::Silent;
}

QString ProgressMeter::update(qint64 value, qint64 nowNs) {
    if (!active_)
        return {};
    const int now = percent(value);
    if (style_ == Style::Lines) {
        if (now / 10 <= qMax(drawnPercent_, 0) / 10)
            return {};
        drawnPercent_ = now;
        return progressText(value, min_, max_, nowNs - startNs_) + QLatin1Char('\n');
    }
    if (now == drawnPercent_ && nowNs - drawnNs_ < 200'000'000)
        return {};
    drawnPercent_ = now;
    drawnNs_ = nowNs;
    const QString text = progressText(value, min_, max_, nowNs - startNs_);
    // Spaces wipe what a longer line before left behind; no terminal escapes needed.
    const QString line = QLatin1Char('\r') + text.leftJustified(drawnWidth_);
    drawnWidth_ = text.size();
    open_ = true;
    return line;
}

QString ProgressMeter::end() {
    active_ = false;
    return line({}).chopped(1); // the redrawn line ends, and nothing follows it
}

QString ProgressMeter::line(const QString &text) {
    const QString lineEnd = text + QLatin1Char('\n');
    if (!open_)
        return lineEnd;
    open_ = false;
    drawnWidth_ = 0;
    drawnPercent_ = -1; // the next update draws the line again, below the text
    return QLatin1Char('\n') + lineEnd;
}

QString helpText() {
#ifdef Q_OS_WIN
    const QString mapping = QStringLiteral("COM<N>");
#else
    const QString mapping =
        QStringLiteral("the environment variable STOWLINE_COM<N>, then Ports/Com<N>\n"
                       "                     in the settings, then /dev/ttyS<N-1>");
#endif
    return QStringLiteral(
               "Usage:\n"
               "  stowline                      open the window\n"
               "  stowline backup  PORT -o FILE [--force] [--retries N] [--json] [--quiet]\n"
               "  stowline restore PORT -i FILE [--json] [--quiet]\n"
               "  stowline verify  PORT -i FILE [--retries N] [--json] [--quiet]\n"
               "  stowline ports   [--json]\n"
               "  stowline history [-n N] [--json]\n"
               "  stowline diff    A B\n"
               "  stowline --help | --version\n"
               "\n"
               "Commands (no window, no display needed):\n"
               "  backup    Read the configuration image out of the Controller and write it\n"
               "            to FILE as Save does. FILE is written only when the whole image\n"
               "            came and its checksum matched.\n"
               "  restore   Read FILE as Open does (.CCF: first generation, .SAV: second)\n"
               "            and write it into the Controller.\n"
               "  verify    Read the Controller's image into memory (no file is written)\n"
               "            and compare it with FILE.\n"
               "  ports     List the serial ports: device, description, manufacturer,\n"
               "            serial number, VID:PID, stable by-id path.\n"
               "  history   The newest N entries of the journal (default 20), newest first.\n"
               "  diff      Compare two image files: their lengths, how many bytes differ,\n"
               "            and the first 20 stretches of differing bytes (from byte 1).\n"
               "\n"
               "PORT is one of:\n"
               "  --port N            Port N as the window's Port menu maps it: %1.\n"
               "  --device PATH       The serial device itself (/dev/ttyUSB0, COM7, ...).\n"
               "  --device auto       The one USB serial adapter present.\n"
               "  --serial SN         The adapter with USB serial number SN (see 'ports').\n"
               "\n"
               "Options:\n"
               "  -o, --output FILE   Where backup writes the image.\n"
               "  -i, --input FILE    The image restore sends and verify compares.\n"
               "  --force             Let backup replace an existing FILE (only once the\n"
               "                      new image is complete).\n"
               "  --retries N         backup, verify: when the Controller does not respond or\n"
               "                      refuses the checksum, try again after 1 s, up to N\n"
               "                      more times.\n"
               "  -q, --quiet         No status or progress; errors still print.\n"
               "  --json              backup, restore, verify: the command's journal line\n"
               "                      on standard output, also when it failed. ports,\n"
               "                      history: a JSON array.\n"
               "  -n N                history: how many entries.\n"
               "  -h, --help          This text.\n"
               "  --version           The version.\n"
               "\n"
               "Status, progress and errors go to standard error; errors read as the window's\n"
               "boxes, prefixed by their title. Ctrl-C stops a transfer: the port is closed,\n"
               "nothing more is sent, and no file is written.\n"
               "\n"
               "Every backup, restore and verify, from the window or from here, adds one line\n"
               "a try to the journal, %2 (JSON Lines).\n"
               "\n"
               "Exit codes:\n"
               "  0    success\n"
               "  1    wrong usage\n"
               "  2    the port cannot be opened, or --serial/--device auto fits no port or\n"
               "       several\n"
               "  3    the Controller did not respond\n"
               "  4    checksum or verdict refused, or wrong image length for the Controller\n"
               "  5    a file cannot be read or written (backup: FILE exists, no --force)\n"
               "  6    verify: the Controller's image differs from FILE; diff: A and B differ\n"
               "  130  interrupted\n")
        .arg(mapping, QDir::toNativeSeparators(Journal::path()));
}

QString versionText() {
    return QStringLiteral("stowline %1\n").arg(QLatin1String(STOWLINE_VERSION_TEXT));
}

namespace {

// Columns as wide as their widest cell; an empty cell reads "-".
QString tableText(QList<QStringList> rows) {
    QList<qsizetype> widths(rows.first().size(), 1);
    for (QStringList &row : rows)
        for (qsizetype c = 0; c < row.size(); ++c) {
            if (row[c].isEmpty())
                row[c] = QStringLiteral("-");
            widths[c] = qMax(widths[c], row[c].size());
        }
    QString text;
    for (const QStringList &row : rows) {
        QString line;
        for (qsizetype c = 0; c < row.size(); ++c)
            line += c + 1 < row.size() ? row[c].leftJustified(widths[c] + 2) : row[c];
        text += line + QLatin1Char('\n');
    }
    return text;
}

} // namespace

QString portsText(const QList<SerialPortEntry> &ports) {
    QList<QStringList> rows{{QStringLiteral("DEVICE"), QStringLiteral("DESCRIPTION"),
                             QStringLiteral("MANUFACTURER"), QStringLiteral("SERIAL"),
                             QStringLiteral("VID:PID"), QStringLiteral("BY-ID")}};
    for (const SerialPortEntry &p : ports)
        rows.append(
            {p.device, p.description, p.manufacturer, p.serialNumber, p.vidPid(), p.byIdPath});
    return tableText(rows);
}

QString historyText(const QList<QJsonObject> &entries) {
    QList<QStringList> rows{{QStringLiteral("TIME"), QStringLiteral("COMMAND"),
                             QStringLiteral("PORT"), QStringLiteral("SERIAL"),
                             QStringLiteral("BYTES"), QStringLiteral("SHA-256"),
                             QStringLiteral("OUTCOME")}};
    for (const QJsonObject &entry : entries) {
        const Journal::Row r = Journal::row(entry);
        rows.append(
            {r.time, r.command, r.where, r.serial, QString::number(r.bytes), r.hash, r.outcome});
    }
    return tableText(rows);
}

QString chooseAdapter(const Options &o, const PortInventory &inventory, QString *error) {
    const QList<SerialPortEntry> ports = inventory ? inventory() : QList<SerialPortEntry>();
    QList<SerialPortEntry> fit;
    for (const SerialPortEntry &p : ports)
        if (o.serial.isEmpty() ? p.vendorId != 0 : p.serialNumber == o.serial)
            fit.append(p);
    if (fit.size() == 1)
        return fit.first().device;
    *error = o.serial.isEmpty() ? fit.isEmpty()
                                      ? QStringLiteral("--device auto: no USB serial adapter is "
                                                       "present")
                                      : QStringLiteral("--device auto: %1 USB serial adapters are "
                                                       "present; choose one with --serial SN")
                                            .arg(fit.size())
             : fit.isEmpty()
                 ? QStringLiteral("--serial %1: no port has that serial number").arg(o.serial)
                 : QStringLiteral("--serial %1: %2 ports have that serial number; name the "
                                  "device with --device")
                       .arg(o.serial)
                       .arg(fit.size());
    *error += ports.isEmpty() ? QStringLiteral("\nNo serial ports found.")
                              : QStringLiteral("\n") + portsText(ports).chopped(1);
    return {};
}

bool worthRetrying(const JobResult &result) {
    return result.outcome == Outcome::NoResponse ||
           (result.outcome == Outcome::Refused && result.boxText == texts::kBadChecksum);
}

JobResult withRetries(int retries, const std::function<JobResult()> &attempt,
                      const std::function<bool(const JobResult &)> &pause) {
    JobResult result = attempt();
    for (int left = retries; left > 0 && worthRetrying(result) && pause(result); --left)
        result = attempt();
    return result;
}

QString runLines(const QByteArray &a, const QByteArray &b) {
    const QList<DiffRun> runs = diffRuns(a, b, 21);
    QString text;
    for (qsizetype i = 0; i < qMin<qsizetype>(runs.size(), 20); ++i)
        text += QStringLiteral("  ") + runText(runs[i]) + QLatin1Char('\n');
    if (runs.size() > 20)
        text += QStringLiteral("  and more after these\n");
    return text;
}

QString diffText(const QString &nameA, const QByteArray &a, const QString &nameB,
                 const QByteArray &b) {
    const ImageDiff d = diffImages(a, b);
    QString text = QStringLiteral("%1: %2\n%3: %4\n")
                       .arg(nameA, byteCountText(a.size()), nameB, byteCountText(b.size()));
    if (d.identical())
        return text + QStringLiteral("identical\n");
    return text +
           (d.count == 1 ? QStringLiteral("1 byte differs\n")
                         : QStringLiteral("%1 differ\n").arg(byteCountText(d.count))) +
           runLines(a, b);
}

QByteArray portsJson(const QList<SerialPortEntry> &ports) {
    QJsonArray array;
    for (const SerialPortEntry &p : ports)
        array.append(QJsonObject{{QStringLiteral("device"), p.device},
                                 {QStringLiteral("description"), p.description},
                                 {QStringLiteral("manufacturer"), p.manufacturer},
                                 {QStringLiteral("serialNumber"), p.serialNumber},
                                 {QStringLiteral("vidPid"), p.vidPid()},
                                 {QStringLiteral("byIdPath"), p.byIdPath}});
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

} // namespace Cli
