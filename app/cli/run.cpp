#include "cli/run.h"

#include "cli/commandline.h"
#include "cli/platform.h"
#include "eventloopclock.h"
#include "config/filecommands.h"
#include "link/qtserialport.h"
#include "config/settings.h"
#include "transfers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSaveFile>
#include <memory>

namespace Cli {

namespace {

// The window's boxes, status line and progress bar as lines on standard error.
class ConsoleUi : public TransferUi, public FileUi {
public:
    ConsoleUi(const Options &options, const InterruptWatch &interrupt)
        : options_(options), interrupt_(interrupt),
          meter_(options.quiet                     ? ProgressMeter::Style::Silent
                 : CliPlatform::stderrIsTerminal() ? ProgressMeter::Style::Terminal
                                                   : ProgressMeter::Style::Lines) {
        clock_.start();
    }

    // Progress is shown for the transfer only; a file copy takes a moment.
    void showProgress(bool on) {
        progressOn_ = on;
        if (!on)
            closeLine();
    }
    void note(const QString &text) {
        if (!options_.quiet)
            say(text);
    }
    void say(const QString &text) { CliPlatform::writeErr(meter_.line(text)); }

    void setStatus(const QString &text) override {
        // The idle text ends every command and says nothing here.
        if (text == texts::kIdle || text == status_)
            return;
        status_ = text;
        note(text);
    }
    void setProgressMin(qint64 value) override { min_ = value; }
    void setProgressMax(qint64 value) override {
        if (progressOn_)
            meter_.range(min_, value, clock_.nsecsElapsed());
        moved_ = false;
    }
    void setProgressValue(qint64 value) override {
        if (!progressOn_)
            return;
        // Back to 0 after it moved: the data phase has ended.
        if (value == 0 && moved_) {
            closeLine();
            return;
        }
        moved_ = moved_ || value > min_;
        const QString text = meter_.update(value, clock_.nsecsElapsed());
        if (!text.isEmpty())
            CliPlatform::writeErr(text);
    }
    void setConfigStatus(const QString &) override {}
    void setFileStatus(const QString &) override {}
    void SetIdleState() override {}
    void SetBusyState() override {}
    void showWarning(const QString &title, const QString &text) override {
        say(title + QStringLiteral(": ") + text);
    }

    qint16 GetSelectedPort() override { return options_.port; }
    bool stopRequested() override { return interrupt_.requested(); }

    QString askSaveFileName(const QString &, const QString &) override { return {}; }
    QString askOpenFileName(const QString &, const QString &, QString *) override { return {}; }
    void refresh() override {}

private:
    void closeLine() {
        const QString text = meter_.end();
        if (!text.isEmpty())
            CliPlatform::writeErr(text);
    }

    const Options &options_;
    const InterruptWatch &interrupt_;
    ProgressMeter meter_;
    QElapsedTimer clock_;
    QString status_;
    qint64 min_ = 0;
    bool progressOn_ = false;
    bool moved_ = false;
};

const QString kErrorTitle = QStringLiteral("ERROR Message");

// As the window words a file that cannot be used.
int fileFailure(ConsoleUi &ui, const char *what, const QString &path, const QString &why) {
    ui.showWarning(kErrorTitle, FileCommands::failureText(what, path, why));
    return FileFailed;
}

const char *generationName(qint16 type) {
    return type == 1 ? "first generation" : "second generation";
}

int runTransfer(const Options &o) {
    InterruptWatch interrupt;
    ConsoleUi ui(o, interrupt);

    ConfigImage image;   // what the file holds (restore, verify) or receives (backup)
    ConfigImage scratch; // verify's Backup: never written anywhere
    FileCommands files(image, ui);
    QString error;

    if (o.command == Command::Backup) {
        // Refused before the Controller is touched, not after a three-minute upload.
        if (QFileInfo::exists(o.file) && !o.force)
            return fileFailure(ui, "save", o.file,
                               QStringLiteral("the file exists (--force replaces it)"));
        QSaveFile probe(o.file);
        if (!probe.open(QIODevice::WriteOnly))
            return fileFailure(ui, "save", o.file, probe.errorString());
        probe.cancelWriting();
    } else if (!files.openFrom(o.file, &error)) {
        return fileFailure(ui, "open", o.file, error);
    }

    // The port map as the window reads it; --device overrides it.
    PortMap map;
    {
        std::unique_ptr<QSettings> store(openSettingsStore());
        map.load(*store);
    }
    if (!o.device.isEmpty())
        map.setDirectDevice(o.device);
    QtCommControl port(map);
    EventLoopClock clock;
    ConfigImage &target = o.command == Command::Verify ? scratch : image;
    Transfers transfers(port, clock, ui, target);
    transfers.setFace(texts::Face::CommandLine);

    // An interrupt while the file was read must not let a single byte go out.
    if (!interrupt.requested()) {
        ui.showProgress(true);
        if (o.command == Command::Restore)
            transfers.mnuRestore_Click();
        else
            transfers.mnuBackup_Click();
        ui.showProgress(false);
    }
    if (port.portOpen())
        port.setPortOpen(false);

    // An interrupt that came after the last byte still keeps the file from being written; one
    // that a blocked write kept waiting still ends as an interrupt.
    int code = interrupt.requested() ? int(Interrupted) : exitCodeFor(transfers.lastOutcome());
    if (code == Interrupted)
        ui.say(o.command == Command::Restore
                   ? QStringLiteral("Interrupted: the port is closed; the Controller may hold "
                                    "an incomplete configuration")
                   : QStringLiteral("Interrupted: the port is closed; nothing was written"));
    if (code != Success)
        return code;
    const QString device = port.deviceName();

    switch (o.command) {
    case Command::Backup:
        // The file may have appeared while the image came in.
        if (QFileInfo::exists(o.file) && !o.force)
            return fileFailure(ui, "save", o.file,
                               QStringLiteral("the file exists (--force replaces it)"));
        if (!files.saveTo(o.file, &error))
            return fileFailure(ui, "save", o.file, error);
        ui.note(QStringLiteral("Backup: %1 (%2) from the Controller on %3 saved to %4")
                    .arg(byteCountText(FileCommands::savedLength(image)),
                         QLatin1String(generationName(image.ControllerType)), device, o.file));
        return Success;
    case Command::Restore:
        ui.note(QStringLiteral("Restore: %1 from %2 written to the Controller on %3")
                    .arg(byteCountText(image.ConfigLength), o.file, device));
        return Success;
    default: {
        const qint32 held = scratch.heldLength();
        const Difference d =
            compare(scratch.ConfigData.mid(1, held), image.ConfigData.mid(1, image.ConfigLength));
        if (d.differing == 0) {
            ui.note(QStringLiteral("Verify: the Controller on %1 holds %2, identical (%3)")
                        .arg(device, o.file, byteCountText(held)));
            return Success;
        }
        ui.say(QStringLiteral("Verify: the Controller on %1 differs from %2: %3")
                   .arg(device, o.file, describe(d, held, image.ConfigLength)));
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
