#pragma once

#include "config/imagediff.h"
#include "link/portinventory.h"
#include "link/transfer.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>
#include <functional>

// The command line as plain code: what the arguments ask for, how an outcome becomes an exit
// code, how progress reads, and how two images differ. Nothing here touches a port or a file.
namespace Cli {

enum class Command { Backup, Restore, Verify, Ports, Help, Version, History, Diff };

struct Options {
    Command command = Command::Help;
    qint16 port = 0;   // --port N; 0 with --device
    QString device;    // --device PATH, or "auto"
    QString serial;    // --serial SN
    QString file;      // -o for backup, -i for restore and verify
    QStringList files; // diff A B
    int retries = 0;   // --retries N
    int newest = 20;   // history -n N
    bool force = false;
    bool quiet = false;
    bool json = false;
    QString error; // not empty: wrong usage, and why
};

// What the arguments (program name excluded) ask for: the command line when the first one is
// a command word, --help, -h or --version; anything else is for the window. Without a display
// the window cannot open: words that name no file get the command line's usage error.
enum class Start { CommandLine, Window, NoDisplay };
Start start(const QStringList &args, bool display);
Options parse(const QStringList &args);

enum ExitCode : int {
    Success = 0,
    Usage = 1,
    PortFailed = 2,
    NoResponse = 3,
    Refused = 4,
    FileFailed = 5,
    Different = 6,
    Interrupted = 130,
};
int exitCodeFor(Outcome outcome);

// The device --serial SN or --device auto stands for among the ports the system has; empty
// when no port or several fit, with *error saying so and listing them.
QString chooseAdapter(const Options &o, const PortInventory &inventory, QString *error);

// Whether a try that ended so is worth another: the controller fell silent or refused the
// checksum, which a poor line explains.
bool worthRetrying(const JobResult &result);
// Runs `attempt`, and again while it is worth retrying, up to `retries` more times. Before each
// retry `pause` gets the try that failed and waits; false calls the retries off. Returns the
// last try's result.
JobResult withRetries(int retries, const std::function<JobResult()> &attempt,
                      const std::function<bool(const JobResult &)> &pause);

// `diff A B` as written to standard output: both lengths, the count of differing bytes and
// the first 20 stretches of them.
QString diffText(const QString &nameA, const QByteArray &a, const QString &nameB,
                 const QByteArray &b);
// The first 20 stretches, one indented line each.
QString runLines(const QByteArray &a, const QByteArray &b);

QString historyText(const QList<QJsonObject> &entries);

// How the Controller's image differs from a file's, counted as the verify after a Restore
// counts (bytes past the end of the shorter one differ).
QString describe(const ImageDiff &d, qint64 controllerLength, qint64 fileLength);

// "42%  78336 bytes  960 B/s  1:53 left"; rate and time left once a quarter second has
// passed with bytes moved.
QString progressText(qint64 value, qint64 min, qint64 max, qint64 elapsedNs);

// Decides when progress is written: on a terminal one line redrawn in place (at most five
// times a second, and whenever the percentage changes), elsewhere one line per tenth.
class ProgressMeter {
public:
    enum class Style { Terminal, Lines, Silent };
    explicit ProgressMeter(Style style) : style_(style) {}

    void range(qint64 min, qint64 max, qint64 nowNs);
    // What to write for this value; usually nothing.
    QString update(qint64 value, qint64 nowNs);
    // What closes a line being redrawn, at the end of a phase.
    QString end();
    // What to write for a line of other text: it goes below a line being redrawn, and the
    // meter carries on under it.
    QString line(const QString &text);

private:
    int percent(qint64 value) const;

    Style style_;
    qint64 min_ = 0, max_ = 0, startNs_ = 0, drawnNs_ = 0;
    int drawnPercent_ = -1;
    qsizetype drawnWidth_ = 0;
    bool open_ = false; // a terminal line is being redrawn
    bool active_ = false;
};

QString helpText();
QString versionText();
QString portsText(const QList<SerialPortEntry> &ports);
QByteArray portsJson(const QList<SerialPortEntry> &ports);

} // namespace Cli
