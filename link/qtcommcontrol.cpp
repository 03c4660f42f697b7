#include "qtcommcontrol.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QStringList>
#include <QTimer>

#include <cerrno>
#include <chrono>

#ifdef Q_OS_UNIX
#include <sys/file.h>
#endif

namespace {

QSerialPort::FlowControl flowControlFor(qint32 handshaking) {
    switch (handshaking) {
    case 1:
        return QSerialPort::SoftwareControl;
    case 2:
    case 3: // RTS/CTS and XON/XOFF together: the hardware lines do the work
        return QSerialPort::HardwareControl;
    default:
        return QSerialPort::NoFlowControl;
    }
}

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

// Sleeps in the event loop until something happens or `ms` pass.
void waitForEvents(qint64 ms) {
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(std::chrono::milliseconds(qMax<qint64>(1, ms)));
    QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
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

QtCommControl::QtCommControl(const PortMap &map, QObject *parent) : QObject(parent), map_(map) {
    connect(&port_, &QSerialPort::errorOccurred, this, &QtCommControl::onErrorOccurred);
    lineClock_.start();
}

QtCommControl::~QtCommControl() {
    if (port_.isOpen())
        closePort();
}

void QtCommControl::closePort() {
    lowLatency_.release();
#ifdef Q_OS_UNIX
    ::flock(int(port_.handle()), LOCK_UN); // a copy of the descriptor must not keep it
#endif
    port_.close();
}

void QtCommControl::setCommPort(qint16 port) {
    commPort_ = port;
    device_.clear();
}

void QtCommControl::setSettings(const QString &settings) {
    // A format the port cannot take leaves the one in force.
    if (const std::optional<LineSettings> parsed = LineSettings::parse(settings)) {
        line_ = *parsed;
        if (port_.isOpen())
            applyLineSettings();
    }
}

void QtCommControl::setRTSEnable(bool on) {
    rtsEnable_ = on;
    if (port_.isOpen())
        applyFlowControlAndLines();
}

void QtCommControl::setHandshaking(qint32 mode) {
    handshaking_ = mode;
    if (port_.isOpen())
        applyFlowControlAndLines();
}

void QtCommControl::setInBufferSize(qint16 size) {
    if (size <= 0)
        return;
    inBufferSize_ = size;
    port_.setReadBufferSize(size);
}

void QtCommControl::setInBufferCount(qint16 count) {
    // Only 0 means something. While closed there is nothing to do: every opening starts empty.
    if (count == 0 && port_.isOpen())
        port_.clear(QSerialPort::Input);
}

void QtCommControl::setInputLen(qint16 len) {
    inputLen_ = len;
}

void QtCommControl::setInputMode(qint32 mode) {
    inputMode_ = mode; // Input returns bytes either way; the caller reads text as Latin-1
}

bool QtCommControl::setPortOpen(bool open) {
    if (!open) {
        if (port_.isOpen())
            closePort();
        return true;
    }
    if (port_.isOpen())
        return true;

    openError_.clear();
    openFailure_ = OpenFailure::None;
    lostReason_.clear();
    device_ = map_.deviceFor(commPort_);
    if (device_.isEmpty()) {
        openError_ = QStringLiteral("no port selected");
        openFailure_ = OpenFailure::NoPort;
        return false;
    }

    port_.setPortName(systemPath(device_));
    port_.setReadBufferSize(inBufferSize_);
    applyLineSettings();
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
    applyFlowControlAndLines();
    if (!port_.isOpen()) {
        openError_ = lostReason_;
        openFailure_ = OpenFailure::Other;
        return false;
    }
    port_.clearError();
    lineQueued_ = 0;
    return true;
}

bool QtCommControl::portOpen() const {
    return port_.isOpen();
}

QString QtCommControl::deviceName() const {
    return device_.isEmpty() ? map_.deviceFor(commPort_) : device_;
}

QString QtCommControl::openError() const {
    return openError_;
}

qint16 QtCommControl::InBufferCount() {
    if (!port_.isOpen())
        return 0;
    return qint16(qMin<qint64>(port_.bytesAvailable(), 32767));
}

bool QtCommControl::Output(const QByteArray &bytes) {
    qsizetype sent = 0;
    QElapsedTimer sinceRoom;
    sinceRoom.start();
    qint64 allowedMs = -1; // set when the buffer is first found full
    while (sent < bytes.size()) {
        if (!port_.isOpen())
            return false;
        const qint64 room = OutBufferSize - port_.bytesToWrite();
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
        // A full buffer empties only as the device takes bytes: sleep until it does (the
        // device turning writable wakes the loop) or the controller has stalled too long.
        // A system queue refills only once nearly empty, so what the line still has to carry
        // counts before the stall does.
        if (allowedMs < 0)
            allowedMs = sinceRoom.elapsed() + stallLimitMs_ + lineDrainNs() / 1'000'000;
        const qint64 left = allowedMs - sinceRoom.elapsed();
        if (left <= 0 || stopChecked())
            return false;
        waitForEvents(left);
        if (stopChecked())
            return false;
    }
    return port_.isOpen();
}

QByteArray QtCommControl::Input() {
    if (!port_.isOpen())
        return {};
    const qint64 waiting = port_.bytesAvailable();
    const qint64 take = inputLen_ > 0 ? qMin<qint64>(inputLen_, waiting) : waiting;
    if (take <= 0)
        return {};
    return port_.read(take);
}

QByteArray QtCommControl::InputUpTo(qint32 n) {
    if (!port_.isOpen() || n <= 0)
        return {};
    return port_.read(qMin<qint64>(n, port_.bytesAvailable()));
}

qint64 QtCommControl::OutputRoom() {
    return port_.isOpen() ? OutBufferSize - port_.bytesToWrite() : 0;
}

bool QtCommControl::waitForBytes(int ms) {
    if (!port_.isOpen())
        return false;
    // Polls the device alone; a lost device closes the port through the error handler.
    port_.waitForReadyRead(ms);
    return true;
}

void QtCommControl::gatherInput() {
    // Qt reads from the device only when the event loop tells it to, one system buffer (a
    // few KiB) at a time; polling here takes several at once. Bounded, as a device that
    // keeps up with the reads would never run dry.
    for (int i = 0; i < 16 && port_.isOpen() && port_.bytesAvailable() < inBufferSize_; ++i) {
        if (!port_.waitForReadyRead(0))
            break;
    }
}

double QtCommControl::lineBytesPerSecond() const {
    const double stop = line_.stopBits == QSerialPort::TwoStop          ? 2.0
                        : line_.stopBits == QSerialPort::OneAndHalfStop ? 1.5
                                                                        : 1.0;
    const double parity = line_.parity == QSerialPort::NoParity ? 0.0 : 1.0;
    return line_.baudRate / (1.0 + int(line_.dataBits) + parity + stop);
}

double QtCommControl::queuedOnLine() {
    const qint64 now = lineClock_.nsecsElapsed();
    lineQueued_ = qMax(0.0, lineQueued_ - double(now - lineAtNs_) * 1e-9 * lineBytesPerSecond());
    lineAtNs_ = now;
    return lineQueued_;
}

void QtCommControl::queueOnLine(qint64 count) {
    // A device faster than its line settings (a pseudo-terminal) would make the model grow
    // without end; no real queue holds more than the cap.
    lineQueued_ = qMin(queuedOnLine() + double(count), double(kSystemQueueCap));
}

qint64 QtCommControl::lineDrainNs() {
    if (!port_.isOpen())
        return 0;
    return qint64(queuedOnLine() / lineBytesPerSecond() * 1e9);
}

void QtCommControl::discardOutput() {
    if (!port_.isOpen())
        return;
    port_.clear(QSerialPort::Output); // Qt's buffer and the system's output queue
    lineQueued_ = 0;
}

qint64 QtCommControl::OutBufferCount() const {
    return port_.isOpen() ? port_.bytesToWrite() : 0;
}

void QtCommControl::onErrorOccurred(QSerialPort::SerialPortError error) {
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
        return; // the device queue is full for now; the write notifier carries on
    // A hung-up device keeps reporting ready-to-read with nothing to read; on Linux this
    // repeats without end, so the first such report closes the port.
    lostReason_ = text;
    closePort();
}

void QtCommControl::applyLineSettings() {
    port_.setBaudRate(line_.baudRate);
    port_.setParity(line_.parity);
    port_.setDataBits(line_.dataBits);
    port_.setStopBits(line_.stopBits);
}

void QtCommControl::applyFlowControlAndLines() {
    // Each of these may be refused by a device without modem lines; none of them stops it.
    const QSerialPort::FlowControl flow = flowControlFor(handshaking_);
    port_.setFlowControl(flow);
    if (!port_.isOpen())
        return;
    port_.setDataTerminalReady(true);
    // With RTS/CTS the driver drives RTS itself and Qt refuses to set it by hand.
    if (port_.isOpen() && port_.flowControl() != QSerialPort::HardwareControl)
        port_.setRequestToSend(rtsEnable_);
}

void QtCommControl::handOverPending() {
    // Qt writes only from the event loop; handing the bytes to the system at once puts them
    // on the line even while the caller does not yield.
    handingOver_ = true;
    while (port_.isOpen() && port_.bytesToWrite() > 0) {
        const qint64 before = port_.bytesToWrite();
        if (!port_.flush() || !port_.isOpen() || port_.bytesToWrite() >= before)
            break;
    }
    handingOver_ = false;
}
