#include "link/transfer.h"

#include "config/snapshotfile.h"
#include "link/openadvice.h"
#include "link/transfertexts.h"

#include <QCryptographicHash>
#include <QDir>
#include <cmath>
#include <cstring>
#include <limits>
#include <new>

namespace {

// Every exchange starts at 57600: a first-generation controller talks at that rate only, and
// a second-generation transfer earlier must not leave the line at 9600.
const LineSettings kStartLine{57600};
const LineSettings kSecondGenerationLine{9600};

// One Backup or Restore exchange over the port; ends by handing back its result.
class Exchange {
public:
    Exchange(const JobRequest &request, SerialPort &port, Clock &clock, const StopToken &stop,
             TransferObserver &observer)
        : request_(request), port_(port), stop_(stop), observer_(observer),
          waits_(port, clock, stop) {
        result_.device = request.port.device;
    }

    JobResult backup();
    JobResult restore(const Image &image);

private:
    bool open(const LineSettings &line);
    JobResult openFailed();
    JobResult fail(Outcome outcome, const QString &text, const QString &title = texts::kErrorTitle);
    JobResult noResponse() { return fail(Outcome::NoResponse, texts::kNoResponse); }
    JobResult stopped();
    JobResult finish(const QString &refusal = QString());
    // A write refused: a stop that ended a blocked write is a stop, anything else a silent
    // controller.
    JobResult writeFailed() { return stop_.requested() ? stopped() : noResponse(); }
    // An upload's wait that found no bytes; the partly read image is dropped.
    JobResult uploadCut(WaitOutcome outcome);
    std::optional<quint8> takeByte();
    bool sendByte(quint8 byte);

    JobResult backupFirstGeneration();
    JobResult backupSecondGeneration();
    JobResult restoreFirstGeneration();
    JobResult restoreSecondGeneration();
    // Sends the image; false with the result set when it did not all go.
    bool download(quint8 &checksum);
    // Waits for a reply and ends the exchange itself when none comes.
    bool awaitReply(qint64 target, int seconds, qint64 startDelayNs, JobResult &ended);
    // "Validating Checksum", then the controller's one-byte reply: the accepted byte finishes
    // the exchange, any other is "Bad Checksum".
    JobResult validate(qint64 startDelayNs, quint8 accepted);

    const JobRequest &request_;
    SerialPort &port_;
    const StopToken &stop_;
    TransferObserver &observer_;
    ByteWaits waits_;
    JobResult result_;
    const Image *sending_ = nullptr;
    QByteArray oneByte_ = QByteArray(1, '\0'); // reused so the per-byte loops do not allocate
};

bool Exchange::open(const LineSettings &line) {
    return port_.open(request_.port.device, line, FlowControl::RtsCts);
}

JobResult Exchange::openFailed() {
    const QString device = request_.port.device;
    QString text = texts::cannotOpen(request_.port.number, device, port_.openError());
    const QString advice =
        openAdvice(port_.openFailure(), device, request_.inventory,
                   request_.commandLineAdvice ? texts::Face::CommandLine : texts::Face::Window);
    if (!advice.isEmpty())
        text += QLatin1Char('\n') + advice;
    return fail(Outcome::OpenFailed, text);
}

JobResult Exchange::fail(Outcome outcome, const QString &text, const QString &title) {
    // Closed before the box is handed back: nothing more reaches the controller while the user
    // reads it.
    port_.close(true);
    result_.outcome = outcome;
    result_.boxTitle = title;
    result_.boxText = text;
    return result_;
}

JobResult Exchange::stopped() {
    port_.close(true);
    result_.outcome = Outcome::Stopped;
    if (result_.held == HeldEffect::Dropped)
        result_.image = Image(); // an upload cut short holds nothing
    return result_;
}

JobResult Exchange::finish(const QString &refusal) {
    if (refusal.isEmpty()) {
        port_.close();
        result_.outcome = Outcome::Succeeded;
        return result_;
    }
    return fail(Outcome::Refused, refusal);
}

JobResult Exchange::uploadCut(WaitOutcome outcome) {
    if (outcome == WaitOutcome::Stopped)
        return stopped();
    result_.held = HeldEffect::Dropped;
    result_.image = Image();
    return noResponse();
}

std::optional<quint8> Exchange::takeByte() {
    const QByteArray got = port_.read(1);
    if (got.isEmpty())
        return std::nullopt; // the count promised a byte the port no longer has
    return quint8(got.at(0));
}

bool Exchange::sendByte(quint8 byte) {
    oneByte_[0] = char(byte);
    return port_.write(oneByte_);
}

JobResult Exchange::validate(qint64 startDelayNs, quint8 accepted) {
    observer_.status(texts::kValidating);
    JobResult ended;
    if (!awaitReply(1, 4, startDelayNs, ended))
        return ended;
    const std::optional<quint8> reply = takeByte();
    if (!reply)
        return noResponse();
    return finish(*reply != accepted ? texts::kBadChecksum : QString());
}

bool Exchange::awaitReply(qint64 target, int seconds, qint64 startDelayNs, JobResult &ended) {
    switch (waits_.atLeast(target, seconds, startDelayNs)) {
    case WaitOutcome::Arrived:
        return true;
    case WaitOutcome::Stopped:
        ended = stopped();
        return false;
    case WaitOutcome::TimedOut:
        ended = noResponse();
        return false;
    }
    return false;
}

JobResult Exchange::backup() {
    if (!open(kStartLine))
        return openFailed();
    observer_.status(texts::kInitiatingBackup);
    if (!port_.write(QByteArrayLiteral("B")))
        return writeFailed();
    switch (waits_.exactly(4, 4)) {
    case WaitOutcome::Stopped:
        return stopped();
    case WaitOutcome::Arrived:
        return backupFirstGeneration();
    case WaitOutcome::TimedOut:
        // A device gone during the probe is no second-generation controller: the image held
        // stays.
        if (!port_.isOpen())
            return noResponse();
        // Whatever did arrive is dropped with the closing and the next opening.
        port_.close();
        return backupSecondGeneration();
    }
    return noResponse();
}

JobResult Exchange::backupFirstGeneration() {
    quint32 announced = 0;
    for (int shift = 0; shift < 32; shift += 8) {
        const std::optional<quint8> byte = takeByte();
        if (!byte)
            return noResponse();
        announced |= quint32(*byte) << shift;
    }
    // The controller has announced an image: whatever happens now, the one held before is gone.
    result_.held = HeldEffect::Dropped;
    if (announced == 0)
        return fail(Outcome::Refused, texts::kBadFileSystem, texts::kBadFileSystemTitle);
    // A count from 2^31 up has no place in an image's signed length.
    if (announced > quint32(std::numeric_limits<qint32>::max()))
        return fail(Outcome::Refused, texts::invalidLength(announced));
    const qint32 length = qint32(announced);
    QByteArray &bytes = result_.image.bytes;
    try {
        bytes = QByteArray(length, '\0');
    } catch (const std::bad_alloc &) {
        return fail(Outcome::Refused, texts::invalidLength(announced));
    }
    result_.image.generation = Generation::First;

    observer_.status(texts::kHandshaking);
    if (!port_.write(QByteArrayLiteral("U")))
        return stop_.requested() ? stopped() : uploadCut(WaitOutcome::TimedOut);
    observer_.status(texts::uploading(length));
    observer_.imageHeld(0);
    observer_.progressRange(0, length - 1);

    quint8 checksum = 0;
    const QByteArray ack = QByteArrayLiteral("A");
    for (qint32 k = 0; k < length; ++k) {
        observer_.progress(k);
        // The controller answers each "A" at once.
        const WaitOutcome waited = waits_.atLeast(1, 2);
        if (waited != WaitOutcome::Arrived)
            return uploadCut(waited);
        const std::optional<quint8> byte = takeByte();
        if (!byte)
            return uploadCut(WaitOutcome::TimedOut);
        bytes[k] = char(*byte);
        checksum ^= *byte;
        if (!port_.write(ack))
            return stop_.requested() ? stopped() : uploadCut(WaitOutcome::TimedOut);
    }
    result_.held = HeldEffect::Replaced;
    result_.bytesMoved = length;
    observer_.progress(0);
    observer_.imageHeld(length);
    return validate(0, checksum);
}

JobResult Exchange::backupSecondGeneration() {
    result_.held = HeldEffect::Dropped;
    if (!open(kSecondGenerationLine))
        return fail(
            Outcome::OpenFailed,
            texts::cannotOpen(request_.port.number, request_.port.device, port_.openError()));
    observer_.status(texts::kInitiatingBackup);
    if (!port_.write(QByteArrayLiteral("@?")))
        return stop_.requested() ? stopped() : uploadCut(WaitOutcome::TimedOut);
    observer_.progressRange(0, kSecondGenerationLength);
    observer_.status(texts::uploading(kSecondGenerationLength));

    QByteArray bytes(kSecondGenerationLength, '\0');
    // Each pass takes every byte that may be taken: a byte only once the one after it is there
    // too, so all that wait but the last, and none past the image. The limit holds for each
    // byte, as every wait begins right after the last byte taken.
    qint64 took = 0;
    for (qint32 k = 0; k < kSecondGenerationLength; k += qint32(took)) {
        observer_.progress(k);
        const WaitOutcome waited = waits_.stream(2, 2, took);
        if (waited != WaitOutcome::Arrived)
            return uploadCut(waited);
        const qint64 want = qMin<qint64>(port_.bytesWaiting() - 1, kSecondGenerationLength - k);
        const QByteArray got = port_.read(want);
        if (got.isEmpty()) // the count promised bytes the port no longer has
            return uploadCut(WaitOutcome::TimedOut);
        std::memcpy(bytes.data() + k, got.constData(), size_t(got.size()));
        took = got.size();
    }
    result_.image = Image{bytes, Generation::Second};
    result_.held = HeldEffect::Replaced;
    result_.bytesMoved = kSecondGenerationLength;
    observer_.progress(0);
    observer_.imageHeld(kSecondGenerationLength);
    return finish();
}

JobResult Exchange::restore(const Image &image) {
    sending_ = &image;
    const qint32 length = image.length();
    if (length < 1) {
        result_.outcome = Outcome::NothingHeld;
        return result_;
    }
    if (!open(kStartLine))
        return openFailed();
    observer_.status(texts::kInitiatingRestore);
    if (!port_.write(QByteArrayLiteral("R")))
        return writeFailed();
    for (int shift = 0; shift < 32; shift += 8)
        if (!sendByte(quint8(quint32(length) >> shift)))
            return writeFailed();
    switch (waits_.readyMark(4)) {
    case WaitOutcome::Stopped:
        return stopped();
    case WaitOutcome::Arrived:
        // The "U" shows a first-generation controller: not one byte of another generation's
        // image may follow it.
        if (image.generation == Generation::Second)
            return fail(Outcome::Refused, texts::kImageForSecond);
        return restoreFirstGeneration();
    case WaitOutcome::TimedOut:
        if (!port_.isOpen()) // the device went away: no controller to hand over to
            return noResponse();
        port_.close();
        return restoreSecondGeneration();
    }
    return noResponse();
}

bool Exchange::download(quint8 &checksum) {
    const QByteArray &bytes = sending_->bytes;
    const qint32 length = sending_->length();
    observer_.status(texts::downloading(length));
    observer_.progressRange(0, length - 1);
    checksum = 0;
    // Below 19 bytes the interval rounds to 0: then every byte moves the bar.
    const qint32 interval = qint32(std::lround(double(length) / 37.0));
    // Each pass hands the line as many bytes as the transmit buffer has room for (at least
    // one, which waits for room); the bar moves at the same bytes as one byte a pass would.
    for (qint32 i = 0, n = 0; i < length; i += n) {
        n = qint32(qBound(qint64(1), port_.writeRoom(), qint64(length - i)));
        if (stop_.requested()) {
            result_ = stopped();
            return false;
        }
        for (qint32 m = i; m < i + n; ++m)
            if (interval == 0 || m % interval == 0)
                observer_.progress(m);
        const char *chunk = bytes.constData() + i;
        if (!(n == 1 ? sendByte(quint8(*chunk)) : port_.write(QByteArray(chunk, n)))) {
            result_ = writeFailed();
            return false;
        }
        for (qint32 m = 0; m < n; ++m)
            checksum ^= quint8(chunk[m]);
        result_.bytesMoved = i + n;
        if (!port_.isOpen()) {
            result_ = noResponse();
            return false;
        }
    }
    return true;
}

JobResult Exchange::restoreFirstGeneration() {
    quint8 checksum = 0;
    if (!download(checksum))
        return result_;
    observer_.progress(0);
    // The reply can come only once the line has carried the image to the controller.
    return validate(port_.lineDrainNs(), checksum);
}

JobResult Exchange::restoreSecondGeneration() {
    const Image &image = *sending_;
    if (image.length() != kSecondGenerationLength) {
        result_.outcome = Outcome::Refused;
        result_.boxTitle = texts::kErrorTitle;
        result_.boxText = texts::kIncorrectLength;
        return result_;
    }
    if (!open(kSecondGenerationLine))
        return openFailed();
    observer_.status(texts::kInitiatingRestore);
    if (!port_.write(QByteArrayLiteral("@M")))
        return writeFailed();
    JobResult ended;
    if (!awaitReply(1, 4, 0, ended))
        return ended;
    // The answer to "@M" must not be mistaken for the verdict on the checksum.
    port_.read(port_.bytesWaiting());
    // The answer shows a second-generation controller.
    if (image.generation == Generation::First)
        return fail(Outcome::Refused, texts::kImageForFirst);
    if (!port_.write(QByteArrayLiteral("@!")))
        return writeFailed();

    quint8 checksum = 0;
    if (!download(checksum))
        return result_;
    if (!sendByte(checksum))
        return writeFailed();
    observer_.progress(0);
    return validate(port_.lineDrainNs(), quint8('Y'));
}

// An observer for the exchanges around a Restore: they read into images of their own, so the
// count of what the window holds is not theirs to report.
class WithoutImage : public TransferObserver {
public:
    explicit WithoutImage(TransferObserver &to) : to_(to) {}
    void status(const QString &text) override { to_.status(text); }
    void progressRange(qint64 min, qint64 max) override { to_.progressRange(min, max); }
    void progress(qint64 value) override { to_.progress(value); }

private:
    TransferObserver &to_;
};

// Runs one exchange and records it. `sent` is the image a Restore writes; a read's record
// holds the image read when it came whole.
template <typename Run>
JobResult logged(QList<ExchangeRecord> &log, Clock &clock, const char *command, const Image *sent,
                 Run run) {
    ExchangeRecord record;
    record.command = QLatin1String(command);
    record.started = QDateTime::currentDateTime();
    const qint64 startNs = clock.nowNs();
    JobResult result = run();
    if (result.outcome == Outcome::NothingHeld)
        return result; // nothing was exchanged
    record.seconds = double(clock.nowNs() - startNs) / 1e9;
    record.outcome = outcomeName(result.outcome);
    const Image *image = sent                                  ? sent
                         : result.held == HeldEffect::Replaced ? &result.image
                                                               : nullptr;
    if (image) {
        record.generation = image->generation;
        record.sha256 = QCryptographicHash::hash(image->bytes, QCryptographicHash::Sha256).toHex();
    }
    record.bytes = result.bytesMoved;
    record.text = result.boxText;
    log.append(record);
    return result;
}

JobResult backupInto(const JobRequest &request, SerialPort &port, Clock &clock,
                     const StopToken &stop, TransferObserver &observer, QList<ExchangeRecord> &log,
                     const char *command) {
    return logged(log, clock, command, nullptr,
                  [&] { return Exchange(request, port, clock, stop, observer).backup(); });
}

JobResult guardedRestore(const JobRequest &request, SerialPort &port, Clock &clock,
                         const StopToken &stop, TransferObserver &observer,
                         QList<ExchangeRecord> &log) {
    WithoutImage quiet(observer);
    QString snapshotPath;
    // With nothing to send there is nothing to keep or to check.
    if (!request.image.isEmpty() && request.backupFirst) {
        JobResult before = backupInto(request, port, clock, stop, quiet, log, "snapshot");
        if (before.outcome == Outcome::Stopped)
            return before;
        // A snapshot that may be wrong (a checksum refused) is no way back: stop there too.
        if (before.outcome != Outcome::Succeeded) {
            before.boxText += QStringLiteral("\n\n") + texts::kRestoreNotStarted;
            before.held = HeldEffect::Kept;
            before.image = Image();
            return before;
        }
        QString error;
        const QString name =
            Snapshot::fileName(request.now, request.port.number, before.image.generation);
        snapshotPath = Snapshot::writeNew(request.snapshotDir, name, before.image.bytes, &error);
        if (snapshotPath.isEmpty()) {
            JobResult failed;
            failed.outcome = Outcome::Refused;
            failed.device = request.port.device;
            failed.boxTitle = texts::kErrorTitle;
            failed.boxText =
                QStringLiteral("Error : Cannot save %1: %2")
                    .arg(QDir::toNativeSeparators(request.snapshotDir + QLatin1Char('/') + name),
                         error) +
                QStringLiteral("\n\n") + texts::kRestoreNotStarted;
            return failed;
        }
        log.last().file = snapshotPath;
    }

    observer.writing(true);
    JobResult result = logged(log, clock, "restore", &request.image, [&] {
        return Exchange(request, port, clock, stop, observer).restore(request.image);
    });
    observer.writing(false);
    result.snapshotPath = snapshotPath;
    if (result.outcome != Outcome::Succeeded || !request.verify)
        return result;

    JobResult readBack = backupInto(request, port, clock, stop, quiet, log, "read-back");
    readBack.snapshotPath = snapshotPath;
    readBack.held = HeldEffect::Kept;
    if (readBack.outcome != Outcome::Succeeded)
        return readBack; // reported as a failed Backup; the held image stays held
    const ImageDiff diff = diffImages(request.image.bytes, readBack.image.bytes);
    readBack.verified = diff.identical();
    if (!readBack.verified) {
        readBack.outcome = Outcome::Refused;
        readBack.boxTitle = texts::kErrorTitle;
        readBack.boxText = verifyFailedText(diff, request.image.length(), readBack.image.length());
        log.last().outcome = QStringLiteral("differs");
        log.last().text = readBack.boxText;
    }
    readBack.bytesMoved = result.bytesMoved;
    readBack.image = Image();
    return readBack;
}

} // namespace

QString outcomeName(Outcome outcome) {
    switch (outcome) {
    case Outcome::Succeeded:
        return QStringLiteral("succeeded");
    case Outcome::NothingHeld:
        return QStringLiteral("nothing-held");
    case Outcome::OpenFailed:
        return QStringLiteral("open-failed");
    case Outcome::NoResponse:
        return QStringLiteral("no-response");
    case Outcome::Refused:
        return QStringLiteral("refused");
    case Outcome::Stopped:
        return QStringLiteral("stopped");
    }
    return {};
}

void applyToHeld(HeldImage &held, JobRequest::Kind kind, const JobResult &result) {
    switch (kind) {
    case JobRequest::Kind::Backup:
        if (result.held == HeldEffect::Kept)
            return;
        static_cast<Image &>(held) = result.held == HeldEffect::Replaced ? result.image : Image();
        held.unsavedBackup = result.held == HeldEffect::Replaced;
        return;
    case JobRequest::Kind::Restore:
        if (result.outcome == Outcome::Succeeded)
            held.unsavedBackup = false;
        return;
    case JobRequest::Kind::Verify:
        return;
    }
}

JobResult runJob(const JobRequest &request, SerialPort &port, Clock &clock, const StopToken &stop,
                 TransferObserver &observer) {
    port.watch(&stop);
    JobResult result;
    QList<ExchangeRecord> log;
    switch (request.kind) {
    case JobRequest::Kind::Backup:
        result = backupInto(request, port, clock, stop, observer, log, "backup");
        break;
    case JobRequest::Kind::Restore:
        result = guardedRestore(request, port, clock, stop, observer, log);
        break;
    case JobRequest::Kind::Verify: {
        WithoutImage quiet(observer);
        result = backupInto(request, port, clock, stop, quiet, log, "verify");
        result.held = HeldEffect::Kept;
        if (result.outcome == Outcome::Succeeded) {
            result.diff = diffImages(request.image.bytes, result.image.bytes);
            if (!result.diff->identical())
                log.last().outcome = QStringLiteral("differs");
        }
        break;
    }
    }
    result.exchanges = std::move(log);
    if (port.isOpen())
        port.close(true);
    port.watch(nullptr);
    return result;
}
