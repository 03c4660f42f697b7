#include "transfers.h"

#include "transfertexts.h"

#include <cstring>
#include <limits>
#include <new>

void Transfers::mnuBackup_Click() {
    portNumber_ = ui_.GetSelectedPort();
    if (!SetUpPort(kBackupStart)) {
        ReportOpenFailure();
        return;
    }
    ui_.SetBusyState();
    ui_.setStatus(texts::kInitiatingBackup);
    if (!port_.Output(QByteArrayLiteral("B"))) {
        SendFailed();
        return;
    }
    switch (waits_.exactly(4, 4)) {
    case WaitOutcome::Stopped:
        StopNow();
        return;
    case WaitOutcome::Arrived:
        image_.ControllerType = 1;
        BackupType1();
        return;
    case WaitOutcome::TimedOut:
        // A device gone during the probe is no second-generation controller: report it
        // and keep the image held.
        if (!port_.portOpen()) {
            ReportNoResponse();
            return;
        }
        // Whatever did arrive is dropped with the closing and the next set-up.
        port_.setPortOpen(false);
        image_.ControllerType = 2;
        BackupType2();
        return;
    }
}

bool Transfers::UploadWaitEnded(WaitOutcome outcome) {
    switch (outcome) {
    case WaitOutcome::Arrived:
        return true;
    case WaitOutcome::Stopped:
        StopNow(true);
        return false;
    case WaitOutcome::TimedOut:
        DropUpload();
        return false;
    }
    return false;
}

std::optional<quint8> Transfers::UploadByte(qint32 k) {
    // The controller answers each "A" at once.
    if (!UploadWaitEnded(waits_.atLeast(1, 2, 0, true)))
        return std::nullopt;
    const std::optional<quint8> byte = TakeByte();
    if (!byte) {
        DropUpload();
        return std::nullopt;
    }
    image_.ConfigData.data()[k] = char(*byte);
    return byte;
}

void Transfers::BackupType1() {
    quint32 announced = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::optional<quint8> byte = TakeByte();
        if (!byte) {
            ReportNoResponse();
            return;
        }
        announced |= quint32(*byte) << shift;
    }

    if (announced == 0) {
        Fail(TransferOutcome::Refused, texts::kBadFileSystem, true, texts::kBadFileSystemTitle);
        return;
    }
    // A count from 2^31 up has no place in the image's signed length.
    if (announced > quint32(std::numeric_limits<qint32>::max())) {
        Fail(TransferOutcome::Refused, texts::invalidLength(announced), true);
        return;
    }
    const qint32 length = qint32(announced);
    QByteArray fresh;
    try {
        fresh = QByteArray(qsizetype(length) + 1, '\0');
    } catch (const std::bad_alloc &) {
        Fail(TransferOutcome::Refused, texts::invalidLength(announced), true);
        return;
    }
    image_.ConfigData = std::move(fresh);
    image_.ConfigLength = length;
    image_.unsavedBackup = true;

    ui_.setStatus(texts::kHandshaking);
    if (!port_.Output(QByteArrayLiteral("U"))) {
        SendFailed(true);
        return;
    }
    ui_.setStatus(texts::uploading(length));
    ui_.setConfigStatus(texts::kEmpty);
    quint8 checksum = 0;
    ui_.setProgressMin(0);
    ui_.setProgressMax(length - 1);

    const QByteArray ack = QByteArrayLiteral("A");
    for (qint32 k = 1; k <= length; ++k) {
        ui_.setProgressValue(k - 1);
        const std::optional<quint8> byte = UploadByte(k);
        if (!byte)
            return;
        checksum ^= *byte;
        if (!port_.Output(ack)) {
            SendFailed(true);
            return;
        }
    }

    ui_.setProgressValue(0);
    ui_.setConfigStatus(byteCountText(length));
    ui_.setStatus(texts::kValidating);
    if (!AwaitReply(1, 4))
        return;
    const std::optional<quint8> reported = TakeByte();
    if (!reported) {
        ReportNoResponse();
        return;
    }
    Finish(*reported != checksum ? texts::kBadChecksum : QString());
}

void Transfers::BackupType2() {
    image_.ConfigLength = kSecondGenerationLength;
    image_.ConfigData = QByteArray(qsizetype(kSecondGenerationLength) + 1, '\0');
    image_.unsavedBackup = true;

    if (!SetUpPort(kBackupType2)) {
        // The old image is gone already; the zero-filled array must not count as held.
        Fail(TransferOutcome::OpenFailed,
             texts::cannotOpen(portNumber_, port_.deviceName(), port_.openError()), true);
        return;
    }
    ui_.SetBusyState();
    ui_.setStatus(texts::kInitiatingBackup);
    if (!port_.Output(QByteArrayLiteral("@?"))) {
        SendFailed(true);
        return;
    }
    ui_.setProgressMin(0);
    ui_.setProgressMax(kSecondGenerationLength);
    ui_.setStatus(texts::uploading(kSecondGenerationLength));

    // Each pass takes every byte that may be taken: byte k only once byte k + 1 is there too,
    // so all that wait but the last, and none past the image. The limit holds for each byte,
    // as every wait begins right after the last byte taken.
    qint32 took = 0;
    for (qint32 k = 1; k <= kSecondGenerationLength; k += took) {
        ui_.setProgressValue(k - 1);
        if (!UploadWaitEnded(waits_.stream(2, 2, took)))
            return;
        const qint32 want =
            qMin<qint32>(port_.InBufferCount() - 1, kSecondGenerationLength - k + 1);
        const QByteArray got = port_.InputUpTo(want);
        if (got.isEmpty()) { // the count promised bytes the port no longer has
            DropUpload();
            return;
        }
        std::memcpy(image_.ConfigData.data() + k, got.constData(), size_t(got.size()));
        took = qint32(got.size());
    }

    ui_.setProgressValue(0);
    ui_.setConfigStatus(byteCountText(kSecondGenerationLength));
    Finish();
}
