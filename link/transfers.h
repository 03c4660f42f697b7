#pragma once

#include "clock.h"
#include "commcontrol.h"
#include "configimage.h"
#include "portinventory.h"
#include "transfertexts.h"
#include "transferui.h"
#include "waits.h"

#include <QByteArray>
#include <QString>
#include <optional>
#include <utility>

// How the last command ended, for faces that report more than the window shows (exit codes).
enum class TransferOutcome {
    Succeeded,   // ended without a box
    NothingHeld, // Restore with no image to send
    OpenFailed,  // the port could not be opened
    NoResponse,  // the controller fell silent or the device went away
    Refused,     // checksum or verdict refused, wrong length, bad file system
    Stopped,     // the user stopped it
};

// Backup and Restore of both controller generations, over the port, the clock and the view.
// When the view asks to stop, a transfer closes the port and returns at once: no box, no
// further bytes, no further view calls. An upload cut short leaves no image held.
class Transfers {
public:
    Transfers(CommControl &port, Clock &clock, TransferUi &ui, ConfigImage &image)
        : port_(port), ui_(ui), image_(image), waits_(port, clock, ui) {
        port_.setStopCheck([&ui] { return ui.stopRequested(); });
    }
    ~Transfers() { port_.setStopCheck({}); }
    Transfers(const Transfers &) = delete;

    void mnuBackup_Click();
    void mnuRestore_Click();

    // The ports the system has, named in the advice for a device that is missing.
    void setPortInventory(PortInventory inventory) { inventory_ = std::move(inventory); }
    // Whose words the advice under an open failure uses.
    void setFace(texts::Face face) { face_ = face; }

    TransferOutcome lastOutcome() const { return outcome_; }
    // The port the last command ran on: read once at its start, so a Port item chosen
    // meanwhile applies to the next command only.
    qint16 portNumber() const { return portNumber_; }

private:
    // The properties one transfer writes before it opens the port; unset ones stay as an
    // earlier transfer left them.
    struct PortSetUp {
        const char *lineSettings; // nullptr: leave the settings in force
        bool handshaking;         // RTS/CTS
        qint32 inputMode;         // 0 text, 1 byte arrays
    };
    static const PortSetUp kBackupStart, kBackupType2, kRestoreStart, kRestoreType2;

    void BackupType1();
    void BackupType2();
    void RestoreType1();
    void RestoreType2();

    bool SetUpPort(const PortSetUp &setUp); // false: the port did not open
    void ReportNoResponse() { Fail(TransferOutcome::NoResponse, texts::kNoResponse); }
    void ReportOpenFailure();
    void DropUpload() { Fail(TransferOutcome::NoResponse, texts::kNoResponse, true); }
    // Output refused: a stop that ended a blocked write ends as a stop, anything else as a
    // silent controller.
    void SendFailed(bool dropImage = false, bool resetBar = false);
    // The one failure exit: status line, box, port closed with unsent output dropped, the
    // image dropped when asked (an upload cut short), idle state.
    void Fail(TransferOutcome outcome, const QString &text, bool dropImage = false,
              const QString &title = texts::kErrorTitle);
    void StopNow(bool dropImage = false);
    // The normal end; a refusal (checksum, verdict) is shown first and still ends normally.
    void Finish(const QString &refusal = QString());

    std::optional<quint8> TakeByte();
    bool SendByte(quint8 byte);
    // Both end the transfer themselves when they return false.
    bool AwaitReply(qint16 target, int seconds, qint64 startDelayNs = 0);
    bool DownloadImage(quint8 &checksum);
    // Waits for image byte k of the lock-step upload and stores it; on a time-out, a stop or
    // a lost device it ends the upload itself and returns nothing.
    std::optional<quint8> UploadByte(qint32 k);
    // Whether an upload's wait found its bytes; otherwise it ends the upload.
    bool UploadWaitEnded(WaitOutcome outcome);

    CommControl &port_;
    TransferUi &ui_;
    ConfigImage &image_;
    ByteWaits waits_;
    qint16 portNumber_ = 0;
    PortInventory inventory_ = systemSerialPorts;
    texts::Face face_ = texts::Face::Window;
    TransferOutcome outcome_ = TransferOutcome::Succeeded;
    QByteArray oneByte_ = QByteArray(1, '\0'); // reused so the per-byte loops do not allocate
};
