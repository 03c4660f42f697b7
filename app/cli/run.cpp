#include "cli/run.h"

#include "cli/commandline.h"
#include "cli/platform.h"
#include "config/filecommands.h"
#include "config/settings.h"
#include "link/portmap.h"
#include "link/qtserialport.h"
#include "link/transfer.h"
#include "link/transfertexts.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>
#include <memory>

namespace Cli {

namespace {

// What a job and the file steps report, as lines on standard error: status lines, and the
// progress of a transfer as a meter.
class Console : public TransferObserver {
public:
    explicit Console(bool quiet)
        : quiet_(quiet), meter_(quiet                             ? ProgressMeter::Style::Silent
                                : CliPlatform::stderrIsTerminal() ? ProgressMeter::Style::Terminal
                                                                  : ProgressMeter::Style::Lines) {
        clock_.start();
    }

    // Progress is shown for the transfer only; a file copy takes a moment.
    void showProgress(bool on) {
        progressOn_ = on;
        if (!on)
            endMeter();
    }
    void note(const QString &text) {
        if (!quiet_)
            say(text);
    }
    // A line of its own, below a progress line being redrawn, which carries on under it.
    void say(const QString &text) { CliPlatform::writeErr(meter_.line(text)); }
    void box(const QString &title, const QString &text) {
        say(title + QStringLiteral(": ") + text);
    }

    void status(const QString &text) override {
        if (text != status_)
            note(status_ = text);
    }
    void progressRange(qint64 min, qint64 max) override {
        min_ = min;
        moved_ = false;
        if (progressOn_)
            meter_.range(min, max, clock_.nsecsElapsed());
    }
    void progress(qint64 value) override {
        if (!progressOn_)
            return;
        // Back to the start after it moved: the data phase has ended.
        if (value == min_ && moved_) {
            endMeter();
            return;
        }
        moved_ = moved_ || value > min_;
        const QString text = meter_.update(value, clock_.nsecsElapsed());
        if (!text.isEmpty())
            CliPlatform::writeErr(text);
    }

private:
    void endMeter() {
        const QString text = meter_.end();
        if (!text.isEmpty())
            CliPlatform::writeErr(text);
    }

    bool quiet_;
    ProgressMeter meter_;
    QElapsedTimer clock_;
    QString status_;
    qint64 min_ = 0;
    bool progressOn_ = false;
    bool moved_ = false;
};

// As the window words a file that cannot be used.
int fileFailure(Console &console, const char *what, const QString &path, const QString &why) {
    console.box(texts::kErrorTitle, FileCommands::failureText(what, path, why));
    return FileFailed;
}

const char *generationName(Generation generation) {
    return generation == Generation::First ? "first generation" : "second generation";
}

int runTransfer(const Options &o) {
    StopToken stop;
    const InterruptWatch interrupt(stop);
    Console console(o.quiet);

    JobSpec spec;
    spec.kind = o.command == Command::Backup    ? JobSpec::Kind::Backup
                : o.command == Command::Restore ? JobSpec::Kind::Restore
                                                : JobSpec::Kind::Verify;
    spec.commandLineAdvice = true;
    QString error;
    if (o.command == Command::Backup) {
        // Refused before the Controller is touched, not after a three-minute upload.
        if (QFileInfo::exists(o.file) && !o.force)
            return fileFailure(console, "save", o.file,
                               QStringLiteral("the file exists (--force replaces it)"));
        QSaveFile probe(o.file);
        if (!probe.open(QIODevice::WriteOnly))
            return fileFailure(console, "save", o.file, probe.errorString());
        probe.cancelWriting();
    } else if (std::optional<Image> read = FileCommands::readImage(o.file, console, &error)) {
        spec.image = std::move(*read);
    } else {
        return fileFailure(console, "open", o.file, error);
    }

    // The port map as the window reads it; --device overrides it.
    PortMap map;
    {
        std::unique_ptr<QSettings> store(openSettingsStore());
        map.load(*store);
    }
    if (!o.device.isEmpty())
        map.setDirectDevice(o.device);
    spec.port = {o.port, map.deviceFor(o.port)};

    // An interrupt while the file was read must not let a single byte go out.
    JobResult result;
    result.outcome = Outcome::Stopped;
    if (!stop.requested()) {
        QtSerialPort port;
        SteadyClock clock;
        console.showProgress(true);
        result = runJob(spec, port, clock, stop, console);
        console.showProgress(false);
    }
    if (result.hasBox())
        console.box(result.boxTitle, result.boxText);

    // An interrupt that came after the last byte still keeps the file from being written.
    const int code = stop.requested() ? int(Interrupted) : exitCodeFor(result.outcome);
    if (code == Interrupted)
        console.say(o.command == Command::Restore
                        ? QStringLiteral("Interrupted: the port is closed; the Controller may hold "
                                         "an incomplete configuration")
                        : QStringLiteral("Interrupted: the port is closed; nothing was written"));
    if (code != Success)
        return code;
    const QString device = result.device;

    switch (o.command) {
    case Command::Backup:
        // The file may have appeared while the image came in.
        if (QFileInfo::exists(o.file) && !o.force)
            return fileFailure(console, "save", o.file,
                               QStringLiteral("the file exists (--force replaces it)"));
        if (!FileCommands::writeImage(o.file, result.image, console, &error))
            return fileFailure(console, "save", o.file, error);
        console.note(QStringLiteral("Backup: %1 (%2) from the Controller on %3 saved to %4")
                         .arg(byteCountText(FileCommands::savedLength(result.image)),
                              QLatin1String(generationName(result.image.generation)), device,
                              o.file));
        return Success;
    case Command::Restore:
        console.note(QStringLiteral("Restore: %1 from %2 written to the Controller on %3")
                         .arg(byteCountText(spec.image.length()), o.file, device));
        return Success;
    default: {
        const qint64 held = result.image.length();
        if (result.diff && result.diff->identical()) {
            console.note(QStringLiteral("Verify: the Controller on %1 holds %2, identical (%3)")
                             .arg(device, o.file, byteCountText(held)));
            return Success;
        }
        console.say(QStringLiteral("Verify: the Controller on %1 differs from %2: %3")
                        .arg(device, o.file, describe(*result.diff, held, spec.image.length())));
        return Different;
    }
    }
}

} // namespace

int run(int &argc, char **argv, const PortInventory &inventory) {
    CliPlatform::attachConsole();
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Stowline"));
    QCoreApplication::setOrganizationName(QStringLiteral("Stowline"));
    QCoreApplication::setApplicationVersion(QStringLiteral(STOWLINE_VERSION_TEXT));

    const Options o = parse(QCoreApplication::arguments().mid(1));
    if (!o.error.isEmpty()) {
        CliPlatform::writeErr(
            QStringLiteral("stowline: %1\nTry 'stowline --help'.\n").arg(o.error));
        return Usage;
    }
    switch (o.command) {
    case Command::Help:
        CliPlatform::writeOut(helpText());
        return Success;
    case Command::Version:
        CliPlatform::writeOut(versionText());
        return Success;
    case Command::Ports: {
        const QList<SerialPortEntry> ports = inventory();
        if (o.json)
            CliPlatform::writeOutBytes(portsJson(ports));
        else if (ports.isEmpty())
            CliPlatform::writeErr(QStringLiteral("No serial ports found.\n"));
        else
            CliPlatform::writeOut(portsText(ports));
        return Success;
    }
    default:
        return runTransfer(o);
    }
}

} // namespace Cli
