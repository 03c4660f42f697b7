#pragma once

#include "clock.h"
#include "commcontrol.h"
#include "configimage.h"
#include "transferui.h"
#include "waits.h"

#include <QByteArray>
#include <QString>
#include <optional>

// Backup and Restore of both controller generations, over the port, the clock and the view.
// When the view asks to stop, a transfer closes the port and returns at once: no box, no
// further bytes, no further view calls. An upload cut short leaves no image held.
class Transfers {
public:
    Transfers(CommControl &port, Clock &clock, TransferUi &ui, ConfigImage &image)
        : port_(port), ui_(ui), image_(image), waits_(port, clock, ui) {}

    void mnuBackup_Click();
    void mnuRestore_Click();

private:
    // The properties one transfer writes before it opens the port; unset ones stay as an
    // earlier transfer left them.
    struct PortSetUp {
        bool lineSettings; // "9600,N,8,1"
        bool handshaking;  // RTS/CTS
        qint32 inputMode;  // 0 text, 1 byte arrays
    };
    static const PortSetUp kBackupStart, kBackupType2, kRestoreStart, kRestoreType2;

    void BackupType1();
    void BackupType2();
    void RestoreType1();
    void RestoreType2();

    bool SetUpPort(const PortSetUp &setUp); // false: the port did not open
    void ReportNoResponse();
    void ReportOpenFailure();
    void ReportInvalidLength(quint32 announced);
    void DropUpload(); // a Backup that lost its controller midway
    void StopNow();

    std::optional<quint8> TakeByte();
    bool SendByte(quint8 byte);
    // Both end the transfer themselves when they return false.
    bool AwaitReply(qint16 target, int seconds, qint64 startDelayNs = 0);
    bool DownloadImage(quint8 &checksum);
    // Waits for image byte k (once `waiting` bytes are there) and stores it; on a time-out,
    // a stop or a lost device it ends the upload itself and returns nothing.
    std::optional<quint8> UploadByte(qint32 k, qint16 waiting);
    void EndRestore();

    CommControl &port_;
    TransferUi &ui_;
    ConfigImage &image_;
    ByteWaits waits_;
    qint16 portNumber_ = 0;                    // as read by the last set-up
    QByteArray oneByte_ = QByteArray(1, '\0'); // reused so the per-byte loops do not allocate
};
