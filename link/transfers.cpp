#include "transfers.h"

#include "openadvice.h"

// Every command starts at 57600: a first-generation controller talks at that rate only, and
// a second-generation transfer earlier in the run must not leave the line at 9600.
const Transfers::PortSetUp Transfers::kBackupStart{"57600,N,8,1", true, 1};
const Transfers::PortSetUp Transfers::kBackupType2{"9600,N,8,1", false, 1};
const Transfers::PortSetUp Transfers::kRestoreStart{"57600,N,8,1", true, 0};
const Transfers::PortSetUp Transfers::kRestoreType2{"9600,N,8,1", false, 0};

bool Transfers::SetUpPort(const PortSetUp &setUp) {
    port_.setCommPort(portNumber_);
    if (setUp.lineSettings)
        port_.setSettings(QString::fromLatin1(setUp.lineSettings));
    port_.setRTSEnable(true);
    if (setUp.handshaking)
        port_.setHandshaking(2);
    port_.setInBufferSize(32000);
    port_.setInBufferCount(0);
    port_.setInputLen(1);
    port_.setInputMode(setUp.inputMode);
    return port_.setPortOpen(true);
}

void Transfers::ReportOpenFailure() {
    const QString device = port_.deviceName();
    QString text = texts::cannotOpen(portNumber_, device, port_.openError());
    const QString advice = openAdvice(port_.openFailure(), device, inventory_, face_);
    if (!advice.isEmpty())
        text += QLatin1Char('\n') + advice;
    Fail(TransferOutcome::OpenFailed, text);
}

void Transfers::Fail(TransferOutcome outcome, const QString &text, bool dropImage,
                     const QString &title) {
    outcome_ = outcome;
    // The port is closed before the box: nothing more may reach the controller while the user
    // reads it, and a controller holding CTS low must not keep the close waiting.
    port_.discardOutput();
    port_.setPortOpen(false);
    ui_.setStatus(texts::kIdle);
    ui_.showWarning(title, text);
    if (dropImage) {
        // Bytes that never came are zeros in the array; no image counts as held.
        image_.ConfigLength = 0;
        ui_.setConfigStatus(texts::kEmpty);
        ui_.setProgressValue(0);
    }
    ui_.SetIdleState();
}

void Transfers::StopNow(bool dropImage) {
    outcome_ = TransferOutcome::Stopped;
    if (dropImage)
        image_.ConfigLength = 0;
    port_.discardOutput();
    port_.setPortOpen(false);
}

void Transfers::SendFailed(bool dropImage, bool resetBar) {
    if (ui_.stopRequested()) {
        StopNow(dropImage);
        return;
    }
    if (resetBar)
        ui_.setProgressValue(0);
    Fail(TransferOutcome::NoResponse, texts::kNoResponse, dropImage);
}

void Transfers::Finish(const QString &refusal) {
    outcome_ = refusal.isEmpty() ? TransferOutcome::Succeeded : TransferOutcome::Refused;
    if (!refusal.isEmpty())
        port_.discardOutput();
    port_.setPortOpen(false);
    if (!refusal.isEmpty())
        ui_.showWarning(texts::kErrorTitle, refusal);
    ui_.setStatus(texts::kIdle);
    ui_.SetIdleState();
}

std::optional<quint8> Transfers::TakeByte() {
    const QByteArray got = port_.Input();
    if (got.isEmpty())
        return std::nullopt; // the count promised a byte the port no longer has
    return quint8(got.at(0));
}

bool Transfers::SendByte(quint8 byte) {
    oneByte_[0] = char(byte);
    return port_.Output(oneByte_);
}

bool Transfers::AwaitReply(qint16 target, int seconds, qint64 startDelayNs) {
    switch (waits_.atLeast(target, seconds, startDelayNs)) {
    case WaitOutcome::Arrived:
        return true;
    case WaitOutcome::Stopped:
        StopNow();
        return false;
    case WaitOutcome::TimedOut:
        ReportNoResponse();
        return false;
    }
    return false;
}
