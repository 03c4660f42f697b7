#include "cli/run.h"

#include "cli/commandline.h"
#include "cli/platform.h"
#include "config/filecommands.h"
#include "config/settings.h"
#include "link/journal.h"
#include "link/portmap.h"
#include "link/qtserialport.h"
#include "link/transfer.h"
#include "link/transfertexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
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

// Where a file is, wherever the journal is read later.
QString absolute(const QString &path) {
    return QDir::toNativeSeparators(QFileInfo(path).absoluteFilePath());
}

const char *generationName(Generation generation) {
    return generation == Generation::First ? "first generation" : "second generation";
}

int runTransfer(const Options &o, const PortInventory &inventory) {
    StopToken stop;
    const InterruptWatch interrupt(stop);
    Console console(o.quiet);

    JobRequest request;
    request.kind = o.command == Command::Backup    ? JobRequest::Kind::Backup
                   : o.command == Command::Restore ? JobRequest::Kind::Restore
                                                   : JobRequest::Kind::Verify;
    request.commandLineAdvice = true;
    const QString command = o.command == Command::Backup    ? QStringLiteral("backup")
                            : o.command == Command::Restore ? QStringLiteral("restore")
                                                            : QStringLiteral("verify");
    // A backup names its file once the file is written.
    Journal::Context context{
        QStringLiteral("cli"), {}, {}, o.command == Command::Backup ? QString() : absolute(o.file)};
    // Every try leaves its lines in the journal; --json prints the command's own line of the
    // last one, and a journal that cannot be written is said after everything else.
    QJsonObject own;
    QString journalError;
    const auto journal = [&](const JobResult &result) {
        const QList<QJsonObject> lines = Journal::entries(result, command, context);
        if (lines.isEmpty())
            return;
        own = lines.last();
        QString why;
        if (!Journal::append(Journal::path(), lines, &why))
            journalError = why;
    };
    const auto done = [&](JobResult result, int code, const QString &text = QString()) {
        if (result.exchanges.isEmpty()) { // the command ended before any exchange
            ExchangeRecord record;
            record.command = command;
            record.started = QDateTime::currentDateTime();
            result.exchanges.append(record);
        }
        ExchangeRecord &last = result.exchanges.last();
        if (last.outcome.isEmpty() || code == FileFailed) {
            last.outcome = code == FileFailed   ? QStringLiteral("file-failed")
                           : code == PortFailed ? QStringLiteral("open-failed")
                                                : outcomeName(result.outcome);
            last.text = text;
        }
        journal(result);
        if (o.json)
            CliPlatform::writeOutBytes(QJsonDocument(own).toJson(QJsonDocument::Compact) + '\n');
        if (!journalError.isEmpty())
            console.say(Journal::notWrittenText(journalError));
        return code;
    };
    JobResult none;
    none.outcome = Outcome::Stopped;
    const auto fileFailed = [&](JobResult result, const char *what, const QString &why) {
        fileFailure(console, what, o.file, why);
        return done(std::move(result), FileFailed, FileCommands::failureText(what, o.file, why));
    };

    QString error;
    if (o.command == Command::Backup) {
        // Refused before the Controller is touched, not after a three-minute upload.
        if (QFileInfo::exists(o.file) && !o.force)
            return fileFailed(none, "save",
                              QStringLiteral("the file exists (--force replaces it)"));
        QSaveFile probe(o.file);
        if (!probe.open(QIODevice::WriteOnly))
            return fileFailed(none, "save", probe.errorString());
        probe.cancelWriting();
    } else if (std::optional<Image> read = FileCommands::readImage(o.file, console, &error)) {
        request.image = std::move(*read);
    } else {
        return fileFailed(none, "open", error);
    }

    // The port map as the window reads it; --device overrides it, and an adapter chosen by
    // its serial number is such a device.
    PortMap map;
    {
        std::unique_ptr<QSettings> store(openSettingsStore());
        map.load(*store);
    }
    QString device = o.device;
    if (!o.serial.isEmpty() || o.device == QLatin1String("auto")) {
        device = chooseAdapter(o, inventory, &error);
        if (device.isEmpty()) {
            console.say(QStringLiteral("stowline: ") + error);
            return done(none, PortFailed, error);
        }
    }
    if (!device.isEmpty())
        map.setDirectDevice(device);
    request.port = {o.port, map.deviceFor(o.port)};
    context.port = request.port;
    context.ports = inventory ? inventory() : QList<SerialPortEntry>();

    // An interrupt while the file was read must not let a single byte go out.
    const auto attempt = [&] {
        if (stop.requested())
            return none;
        QtSerialPort port;
        SteadyClock clock;
        console.showProgress(true);
        JobResult tried = runJob(request, port, clock, stop, console);
        console.showProgress(false);
        if (tried.hasBox())
            console.box(tried.boxTitle, tried.boxText);
        return tried;
    };
    JobResult result = withRetries(o.retries, attempt, [&](const JobResult &failed) {
        console.note(QStringLiteral("Trying again in 1 s"));
        stop.sleepFor(1'000'000'000);
        if (stop.requested())
            return false; // the last try, journaled below
        journal(failed);
        return true;
    });

    // An interrupt that came after the last byte still keeps the file from being written.
    const int code = stop.requested() ? int(Interrupted) : exitCodeFor(result.outcome);
    if (code == Interrupted)
        console.say(o.command == Command::Restore
                        ? QStringLiteral("Interrupted: the port is closed; the Controller may hold "
                                         "an incomplete configuration")
                        : QStringLiteral("Interrupted: the port is closed; nothing was written"));
    if (code != Success)
        return done(result, code, result.boxText);
    device = result.device;

    switch (o.command) {
    case Command::Backup:
        // The file may have appeared while the image came in.
        if (QFileInfo::exists(o.file) && !o.force)
            return fileFailed(result, "save",
                              QStringLiteral("the file exists (--force replaces it)"));
        if (!FileCommands::writeImage(o.file, result.image, console, &error))
            return fileFailed(result, "save", error);
        result.exchanges.last().file = absolute(o.file);
        console.note(QStringLiteral("Backup: %1 (%2) from the Controller on %3 saved to %4")
                         .arg(byteCountText(FileCommands::savedLength(result.image)),
                              QLatin1String(generationName(result.image.generation)), device,
                              o.file));
        return done(result, Success);
    case Command::Restore:
        console.note(QStringLiteral("Restore: %1 from %2 written to the Controller on %3")
                         .arg(byteCountText(request.image.length()), o.file, device));
        return done(result, Success);
    default: {
        const qint64 held = result.image.length();
        if (result.diff && result.diff->identical()) {
            console.note(QStringLiteral("Verify: the Controller on %1 holds %2, identical (%3)")
                             .arg(device, o.file, byteCountText(held)));
            return done(result, Success);
        }
        console.say(QStringLiteral("Verify: the Controller on %1 differs from %2: %3")
                        .arg(device, o.file, describe(*result.diff, held, request.image.length())));
        CliPlatform::writeErr(runLines(request.image.bytes, result.image.bytes));
        return done(result, Different);
    }
    }
}

int runHistory(const Options &o) {
    const QList<QJsonObject> entries = Journal::read(Journal::path(), o.newest);
    if (o.json) {
        QJsonArray array;
        for (const QJsonObject &entry : entries)
            array.append(entry);
        CliPlatform::writeOutBytes(QJsonDocument(array).toJson(QJsonDocument::Indented));
    } else if (entries.isEmpty()) {
        CliPlatform::writeErr(QStringLiteral("The journal %1 has no entries.\n")
                                  .arg(QDir::toNativeSeparators(Journal::path())));
    } else {
        CliPlatform::writeOut(historyText(entries));
    }
    return Success;
}

int runDiff(const Options &o) {
    Console console(false);
    QByteArray bytes[2];
    for (int i = 0; i < 2; ++i) {
        QFile file(o.files[i]);
        if (!file.open(QIODevice::ReadOnly))
            return fileFailure(console, "open", o.files[i], file.errorString());
        bytes[i] = file.readAll();
        if (file.error() != QFileDevice::NoError)
            return fileFailure(console, "open", o.files[i], file.errorString());
    }
    CliPlatform::writeOut(diffText(o.files[0], bytes[0], o.files[1], bytes[1]));
    return bytes[0] == bytes[1] ? Success : Different;
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
    case Command::History:
        return runHistory(o);
    case Command::Diff:
        return runDiff(o);
    default:
        return runTransfer(o, inventory);
    }
}

} // namespace Cli
