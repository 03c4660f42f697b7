#include "link/qtserialport.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#include <cerrno>
#include <chrono>

#ifdef Q_OS_UNIX
#include <poll.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace {

// QSerialPort reports a lock file held by another opener, and a device opened exclusively
// elsewhere, as permission problems; the user needs to hear that the port is in use.
bool lockedElsewhere(QSerialPort::SerialPortError error, const QString &text) {
    return error == QSerialPort::PermissionError &&
           (text == QCoreApplication::translate("QSerialPort",
                                                "Permission error while locking the device") ||
            text == qt_error_string(EBUSY));
}

QString describeOpenFailure(QSerialPort::SerialPortError error, const QString &text) {
    if (lockedElsewhere(error, text))
        return QStringLiteral("Device or resource busy");
    if (!text.isEmpty() && text != QLatin1String("Unknown error"))
        return text;
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return QStringLiteral("No such file or directory");
    case QSerialPort::PermissionError:
        return QStringLiteral("Permission denied");
    default:
        return QStringLiteral("cannot open the device");
    }
}

OpenFailure classifyOpenFailure(QSerialPort::SerialPortError error, const QString &text) {
    if (error == QSerialPort::DeviceNotFoundError)
        return OpenFailure::Missing;
#ifdef Q_OS_WIN
    // Windows answers "access denied" for a port another program has open.
    if (error == QSerialPort::PermissionError)
        return OpenFailure::Busy;
#else
    if (lockedElsewhere(error, text))
        return OpenFailure::Busy;
    if (error == QSerialPort::PermissionError)
        return OpenFailure::Permission;
    // A node without hardware behind it (a laptop's /dev/ttyS0).
    if (text == qt_error_string(EIO) || text == qt_error_string(ENXIO) ||
        text == qt_error_string(ENODEV))
        return OpenFailure::Missing;
#endif
    return OpenFailure::Other;
}

// Qt names its lock file after the path it opens: a link and the node it leads to must open
// under one name to exclude each other.
QString systemPath(const QString &device) {
#ifdef Q_OS_UNIX
    const QString canonical = QFileInfo(device).canonicalFilePath();
    if (!canonical.isEmpty())
        return canonical;
#endif
    return device;
}

} // namespace

std::optional<LineSettings> LineSettings::parse(const QString &text) {
    const QStringList parts = text.split(QLatin1Char(','));
    if (parts.size() != 4)
        return std::nullopt;
    LineSettings s;
    bool ok = false;
    s.baudRate = parts[0].trimmed().toInt(&ok);
    if (!ok || s.baudRate <= 0)
        return std::nullopt;

    const QString parity = parts[1].trimmed().toUpper();
    if (parity == QLatin1String("N"))
        s.parity = QSerialPort::NoParity;
    else if (parity == QLatin1String("E"))
        s.parity = QSerialPort::EvenParity;
    else if (parity == QLatin1String("O"))
        s.parity = QSerialPort::OddParity;
    else if (parity == QLatin1String("M"))
        s.parity = QSerialPort::MarkParity;
    else if (parity == QLatin1String("S"))
        s.parity = QSerialPort::SpaceParity;
    else
        return std::nullopt;

    const QString data = parts[2].trimmed();
    if (data == QLatin1String("5"))
        s.dataBits = QSerialPort::Data5;
    else if (data == QLatin1String("6"))
        s.dataBits = QSerialPort::Data6;
    else if (data == QLatin1String("7"))
        s.dataBits = QSerialPort::Data7;
    else if (data == QLatin1String("8"))
        s.dataBits = QSerialPort::Data8;
    else
        return std::nullopt;

    const QString stop = parts[3].trimmed();
    if (stop == QLatin1String("1"))
        s.stopBits = QSerialPort::OneStop;
    else if (stop == QLatin1String("1.5"))
        s.stopBits = QSerialPort::OneAndHalfStop;
    else if (stop == QLatin1String("2"))
        s.stopBits = QSerialPort::TwoStop;
    else
        return std::nullopt;
    return s;
}

QString LineSettings::text() const {
    const char parities[] = "NEOMS";
    const int p = parity == QSerialPort::NoParity     ? 0
                  : parity == QSerialPort::EvenParity ? 1
                  : parity == QSerialPort::OddParity  ? 2
                  : parity == QSerialPort::MarkParity ? 3
                                                      : 4;
    const QString stop = stopBits == QSerialPort::TwoStop          ? QStringLiteral("2")
                         : stopBits == QSerialPort::OneAndHalfStop ? QStringLiteral("1.5")
                                                                   : QStringLiteral("1");
    return QStringLiteral("%1,%2,%3,%4")
        .arg(baudRate)
        .arg(QLatin1Char(parities[p]))
        .arg(int(dataBits))
        .arg(stop);
}

double LineSettings::bytesPerSecond() const {
    const double stop = stopBits == QSerialPort::TwoStop          ? 2.0
                        : stopBits == QSerialPort::OneAndHalfStop ? 1.5
                                                                  : 1.0;
    const double parityBit = parity == QSerialPort::NoParity ? 0.0 : 1.0;
    return baudRate / (1.0 + int(dataBits) + parityBit + stop);
}

qint64 SteadyClock::nowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

void SteadyClock::sleepUntil(qint64 deadlineNs, const StopToken &stop) {
    stop.sleepFor(deadlineNs - nowNs());
}

QtSerialPort::QtSerialPort() {
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialPort::onErrorOccurred);
    lineClock_.start();
}

QtSerialPort::~QtSerialPort() {
    if (port_.isOpen())
        closePort();
}

void QtSerialPort::closePort() {
    lowLatency_.release();
#ifdef Q_OS_UNIX
    ::flock(int(port_.handle()), LOCK_UN); // a copy of the descriptor must not keep it
#endif
    port_.close();
    rx_.clear();
}

void QtSerialPort::close(bool dropUnsent) {
    if (!port_.isOpen())
        return;
    if (dropUnsent) {
        port_.clear(QSerialPort::Output); // Qt's buffer and the system's output queue
        lineQueued_ = 0;
    }
    closePort();
}

bool QtSerialPort::open(const QString &device, const LineSettings &line, FlowControl flow) {
    if (port_.isOpen())
        closePort();
    openError_.clear();
    openFailure_ = OpenFailure::None;
    lostReason_.clear();
    if (device.isEmpty()) {
        openError_ = QStringLiteral("no port selected");
        openFailure_ = OpenFailure::NoPort;
        return false;
    }
    line_ = line;
    port_.setPortName(systemPath(device));
    port_.setReadBufferSize(kInBufferSize);
    port_.setBaudRate(line.baudRate);
    port_.setParity(line.parity);
    port_.setDataBits(line.dataBits);
    port_.setStopBits(line.stopBits);
    // Flow control goes on after opening: a device that refuses it must still open.
    port_.setFlowControl(QSerialPort::NoFlowControl);

    opening_ = true;
    const bool opened = port_.open(QIODevice::ReadWrite);
    opening_ = false;
    if (!opened) {
        openError_ = describeOpenFailure(port_.error(), port_.errorString());
        openFailure_ = classifyOpenFailure(port_.error(), port_.errorString());
        return false;
    }
#ifdef Q_OS_UNIX
    // Lock files are a convention, and TIOCEXCL does not stop root: a lock on the device itself
    // keeps every other Stowline out, whatever name it opens the device by.
    if (::flock(int(port_.handle()), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        port_.close();
        openError_ = QStringLiteral("Device or resource busy");
        openFailure_ = OpenFailure::Busy;
        return false;
    }
#endif
    lowLatency_.engage(port_.handle());
    // Bytes that came in before this opening belong to no transfer: Qt's buffer and the
    // system's input queue both start empty.
    port_.clear(QSerialPort::Input);
    rx_.clear();
    applyFlowControlAndLines(flow);
    if (!port_.isOpen()) {
        openError_ = lostReason_;
        openFailure_ = OpenFailure::Other;
        return false;
    }
    port_.clearError();
    lineQueued_ = 0;
    return true;
}

void QtSerialPort::applyFlowControlAndLines(FlowControl flow) {
    // Each of these may be refused by a device without modem lines; none of them stops it.
    port_.setFlowControl(flow == FlowControl::RtsCts ? QSerialPort::HardwareControl
                                                     : QSerialPort::NoFlowControl);
    if (!port_.isOpen())
        return;
    port_.setDataTerminalReady(true);
    // With RTS/CTS the driver drives RTS itself and Qt refuses to set it by hand.
    if (port_.isOpen() && port_.flowControl() != QSerialPort::HardwareControl)
        port_.setRequestToSend(true);
}

bool QtSerialPort::waitReady(bool forWriting, qint64 timeoutNs) {
    if (!port_.isOpen() || timeoutNs <= 0)
        return false;
#ifdef Q_OS_UNIX
    // One sleep in the kernel on the device and on the stop token together.
    const int wake = stop_ ? stop_->wakeDescriptor() : -1;
    pollfd fds[2] = {{int(port_.handle()), short(forWriting ? POLLOUT : POLLIN), 0},
                     {wake, POLLIN, 0}};
    const timespec ts{time_t(timeoutNs / 1'000'000'000), long(timeoutNs % 1'000'000'000)};
#ifdef Q_OS_LINUX
    int n = 0;
    while ((n = ::ppoll(fds, wake >= 0 ? 2 : 1, &ts, nullptr)) < 0 && errno == EINTR) {
        if (stopRequested())
            return false;
    }
#else
    const int n = ::poll(fds, wake >= 0 ? 2 : 1, int((timeoutNs + 999'999) / 1'000'000));
#endif
    return n > 0 && fds[0].revents != 0;
#else
    // Elsewhere through Qt, in slices short enough for a stop to be seen at once.
    constexpr qint64 kSliceMs = 20;
    QElapsedTimer waited;
    waited.start();
    for (qint64 left = timeoutNs / 1'000'000; !stopRequested() && port_.isOpen();
         left = timeoutNs / 1'000'000 - waited.elapsed()) {
        const int slice = int(qBound<qint64>(1, left, kSliceMs));
        if (forWriting ? port_.waitForBytesWritten(slice) : port_.waitForReadyRead(slice))
            return true;
        if (left <= kSliceMs)
            break;
    }
    return false;
#endif
}

bool QtSerialPort::pull(bool signalled) {
    if (!port_.isOpen())
        return false;
#ifdef Q_OS_UNIX
    // The device is read here and nowhere else: with no event loop in this thread, Qt never
    // reads it by itself. A hung-up device reports its error here and closes the port.
    const qsizetype room = kInBufferSize - rx_.size();
    if (room <= 0)
        return false;
    const qsizetype had = rx_.size();
    rx_.resize(had + room);
    ssize_t got = -1;
    while ((got = ::read(int(port_.handle()), rx_.data() + had, size_t(room))) < 0 &&
           errno == EINTR) {
    }
    const int error = errno;
    rx_.resize(had + qMax<qsizetype>(0, got));
    if (got > 0)
        return true;
    // A terminal with nothing to read returns nothing; after the device signalled, nothing
    // means it has hung up.
    if ((got == 0 && signalled) || (got < 0 && error != EAGAIN && error != EWOULDBLOCK)) {
        lostReason_ = got == 0 ? QStringLiteral("the device has hung up") : qt_error_string(error);
        closePort();
    }
    return false;
#else
    Q_UNUSED(signalled);
    return port_.waitForReadyRead(0);
#endif
}

qint64 QtSerialPort::bytesWaiting() {
    // Every count asks the system, so that bytes there by a limit always count.
    pull();
    return port_.isOpen() ? waiting() : 0;
}

qint64 QtSerialPort::waiting() const {
#ifdef Q_OS_UNIX
    return rx_.size();
#else
    return port_.bytesAvailable();
#endif
}

QByteArray QtSerialPort::read(qint64 max) {
    if (!port_.isOpen() || max <= 0)
        return {};
#ifdef Q_OS_UNIX
    const qsizetype n = qsizetype(qMin<qint64>(max, rx_.size()));
    QByteArray out = rx_.left(n);
    rx_.remove(0, n);
    return out;
#else
    return port_.read(qMin(max, port_.bytesAvailable()));
#endif
}

void QtSerialPort::waitForBytes(qint64 timeoutNs) {
    if (waitReady(false, timeoutNs))
        pull(true);
}

void QtSerialPort::gatherInput() {
    // A device read hands over one system buffer (a few KiB) at a time: take several.
    // Bounded, as a device that keeps up with the reads would never run dry.
    for (int i = 0; i < 16 && waiting() < kInBufferSize && pull(); ++i) {
    }
}

bool QtSerialPort::write(const QByteArray &bytes) {
    qsizetype sent = 0;
    QElapsedTimer sinceRoom;
    sinceRoom.start();
    qint64 allowedMs = -1; // set when the buffer is first found full
    while (sent < bytes.size()) {
        if (!port_.isOpen() || stopRequested())
            return false;
        const qint64 room = kOutBufferSize - port_.bytesToWrite();
        if (room > 0) {
            const qint64 chunk = qMin<qint64>(room, bytes.size() - sent);
            if (port_.write(bytes.constData() + sent, chunk) != chunk)
                return false;
            sent += chunk;
            queueOnLine(chunk);
            handOverPending();
            sinceRoom.restart();
            allowedMs = -1;
            continue;
        }
        // A full buffer empties only as the device takes bytes: sleep until it does or the
        // controller has stalled too long. A system queue refills only once nearly empty, so
        // what the line still has to carry counts before the stall does.
        if (allowedMs < 0)
            allowedMs = sinceRoom.elapsed() + stallLimitMs_ + lineDrainNs() / 1'000'000;
        const qint64 left = allowedMs - sinceRoom.elapsed();
        if (left <= 0)
            return false;
        if (waitReady(true, left * 1'000'000))
            handOverPending();
    }
    return port_.isOpen();
}

qint64 QtSerialPort::writeRoom() {
    return port_.isOpen() ? kOutBufferSize - port_.bytesToWrite() : 0;
}

double QtSerialPort::queuedOnLine() {
    const qint64 now = lineClock_.nsecsElapsed();
    lineQueued_ = qMax(0.0, lineQueued_ - double(now - lineAtNs_) * 1e-9 * lineRate());
    lineAtNs_ = now;
    return lineQueued_;
}

void QtSerialPort::queueOnLine(qint64 count) {
    // A device faster than its line settings (a pseudo-terminal) would make the model grow
    // without end; no real queue holds more than the cap.
    lineQueued_ = qMin(queuedOnLine() + double(count), double(kSystemQueueCap));
}

qint64 QtSerialPort::lineDrainNs() {
    if (!port_.isOpen())
        return 0;
    return qint64(queuedOnLine() / lineRate() * 1e9);
}

void QtSerialPort::onErrorOccurred(QSerialPort::SerialPortError error) {
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError)
        return;
    ++errorSignals_;
    if (opening_ || !port_.isOpen())
        return;
    if (error != QSerialPort::ResourceError && error != QSerialPort::ReadError &&
        error != QSerialPort::WriteError)
        return; // a setting the device refuses: the port still works
    const QString text = port_.errorString();
    if (handingOver_ && text == qt_error_string(EAGAIN))
        return; // the device queue is full for now; the next hand-over carries on
    // A hung-up device keeps reporting ready-to-read with nothing to read, so the first such
    // report closes the port.
    lostReason_ = text;
    closePort();
}

void QtSerialPort::handOverPending() {
    // Qt writes only from an event loop; handing the bytes to the system at once puts them on
    // the line.
    handingOver_ = true;
    while (port_.isOpen() && port_.bytesToWrite() > 0) {
        const qint64 before = port_.bytesToWrite();
        if (!port_.flush() || !port_.isOpen() || port_.bytesToWrite() >= before)
            break;
    }
    handingOver_ = false;
}
