#include "transfers.h"

#include "transfertexts.h"

const Transfers::PortSetUp Transfers::kBackupStart{false, true, 1};
const Transfers::PortSetUp Transfers::kBackupType2{true, false, 1};
const Transfers::PortSetUp Transfers::kRestoreStart{false, true, 0};
const Transfers::PortSetUp Transfers::kRestoreType2{true, false, 0};

bool Transfers::SetUpPort(const PortSetUp &setUp) {
    portNumber_ = ui_.GetSelectedPort();
    port_.setCommPort(portNumber_);
    if (setUp.lineSettings)
        port_.setSettings(QStringLiteral("9600,N,8,1"));
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
    QString text = QStringLiteral("Error : Cannot open Com %1").arg(portNumber_);
    if (!device.isEmpty())
        text += QStringLiteral(" (%1)").arg(device);
    text += QStringLiteral(": ") + port_.openError();
    ui_.setStatus(texts::kIdle);
    ui_.showWarning(texts::kErrorTitle, text);
    port_.setPortOpen(false);
    ui_.SetIdleState();
}

void Transfers::ReportNoResponse() {
    ui_.setStatus(texts::kIdle);
    ui_.showWarning(texts::kErrorTitle, texts::kNoResponse);
    port_.setPortOpen(false);
    ui_.SetIdleState();
}

void Transfers::StopNow() {
    port_.setPortOpen(false);
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
