#include "transfers.h"

#include "transfertexts.h"

#include <cmath>

void Transfers::mnuRestore_Click() {
    const qint32 length = image_.ConfigLength;
    // Never announce or read bytes the array does not hold.
    if (length < 1 || image_.heldLength() < length) {
        outcome_ = TransferOutcome::NothingHeld;
        ui_.SetIdleState();
        return;
    }
    portNumber_ = ui_.GetSelectedPort();
    ui_.SetBusyState();
    if (!SetUpPort(kRestoreStart)) {
        ReportOpenFailure();
        return;
    }
    ui_.setStatus(texts::kInitiatingRestore);
    if (!port_.Output(QByteArrayLiteral("R"))) {
        SendFailed();
        return;
    }
    for (int shift = 0; shift < 32; shift += 8) {
        if (!SendByte(quint8(quint32(length) >> shift))) {
            SendFailed();
            return;
        }
    }
    switch (waits_.readyMark(4)) {
    case WaitOutcome::Stopped:
        StopNow();
        return;
    case WaitOutcome::Arrived:
        // The "U" shows a first-generation controller: no byte of another generation's image
        // may follow it.
        if (image_.ControllerType == 2) {
            Fail(TransferOutcome::Refused, texts::kImageForSecond);
            return;
        }
        RestoreType1();
        return;
    case WaitOutcome::TimedOut:
        if (!port_.portOpen()) { // the device went away: no controller to hand over to
            ReportNoResponse();
            return;
        }
        if (!waits_.yield()) {
            StopNow();
            return;
        }
        port_.setPortOpen(false);
        RestoreType2();
        return;
    }
}

bool Transfers::DownloadImage(quint8 &checksum) {
    const qint32 length = image_.ConfigLength;
    ui_.setStatus(texts::downloading(length));
    ui_.setProgressMin(0);
    ui_.setProgressMax(length - 1);
    checksum = 0;
    // Below 19 bytes the interval rounds to 0: then every byte moves the bar.
    const qint32 interval = qint32(std::lround(double(length) / 37.0));
    // Each pass hands the line as many bytes as the transmit buffer has room for (at least
    // one, which waits for room); the bar moves at the same bytes as one byte a pass would.
    for (qint32 i = 1, n = 0; i <= length; i += n) {
        n = qint32(qBound(qint64(1), port_.OutputRoom(), qint64(length - i + 1)));
        for (qint32 m = i; m < i + n; ++m) {
            if (interval == 0 || (m - 1) % interval == 0)
                ui_.setProgressValue(m - 1);
        }
        const char *bytes = image_.ConfigData.constData() + i;
        if (!(n == 1 ? SendByte(quint8(*bytes)) : port_.Output(QByteArray(bytes, n)))) {
            SendFailed(false, true);
            return false;
        }
        for (qint32 m = 0; m < n; ++m)
            checksum ^= quint8(bytes[m]);
        if (!waits_.yield()) {
            StopNow();
            return false;
        }
        if (!port_.portOpen()) {
            ui_.setProgressValue(0);
            ReportNoResponse();
            return false;
        }
    }
    return true;
}

void Transfers::RestoreType1() {
    quint8 checksum = 0;
    if (!DownloadImage(checksum))
        return;
    ui_.setProgressValue(0);
    ui_.setStatus(texts::kValidating);
    // The reply can come only once the line has carried the image to the controller.
    if (!AwaitReply(1, 4, port_.lineDrainNs()))
        return;
    const std::optional<quint8> reply = TakeByte();
    if (!reply) {
        ReportNoResponse();
        return;
    }
    // The controller holds the image now: it is no longer the only copy.
    if (*reply == checksum)
        image_.unsavedBackup = false;
    Finish(*reply != checksum ? texts::kBadChecksum : QString());
}

void Transfers::RestoreType2() {
    if (image_.ConfigLength != kSecondGenerationLength) {
        outcome_ = TransferOutcome::Refused;
        ui_.showWarning(texts::kErrorTitle, texts::kIncorrectLength);
        ui_.SetIdleState();
        return;
    }
    if (!SetUpPort(kRestoreType2)) {
        ReportOpenFailure();
        return;
    }
    ui_.setStatus(texts::kInitiatingRestore);
    if (!port_.Output(QByteArrayLiteral("@M"))) {
        SendFailed();
        return;
    }
    if (!AwaitReply(1, 4))
        return;
    // The answer to "@M" must not be mistaken for the verdict on the checksum.
    for (qint16 waiting = port_.InBufferCount(); waiting > 0; --waiting)
        port_.Input();
    // The answer shows a second-generation controller.
    if (image_.ControllerType == 1) {
        Fail(TransferOutcome::Refused, texts::kImageForFirst);
        return;
    }
    if (!port_.Output(QByteArrayLiteral("@!"))) {
        SendFailed();
        return;
    }

    quint8 checksum = 0;
    if (!DownloadImage(checksum))
        return;
    if (!SendByte(checksum)) {
        SendFailed(false, true);
        return;
    }
    ui_.setProgressValue(0);
    ui_.setStatus(texts::kValidating);
    // The reply can come only once the line has carried the image to the controller.
    if (!AwaitReply(1, 4, port_.lineDrainNs()))
        return;
    const std::optional<quint8> verdict = TakeByte();
    if (!verdict) {
        ReportNoResponse();
        return;
    }
    if (*verdict == quint8('Y'))
        image_.unsavedBackup = false;
    Finish(*verdict != quint8('Y') ? texts::kBadChecksum : QString());
}
