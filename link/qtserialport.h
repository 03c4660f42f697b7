#pragma once

#include "link/lowlatency.h"
#include "link/serialport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>

// The serial port over QSerialPort, for one thread that has no event loop of its own: every
// wait sleeps in the kernel on the device (and on the stop token where the system allows),
// and bytes move only when the transfer asks. A device that goes away while open (unplugged
// adapter, hung-up terminal) closes the port at its first error, so waits end at once.
class QtSerialPort : public QObject, public SerialPort {
    Q_OBJECT
public:
    QtSerialPort();
    ~QtSerialPort() override;

    // The descriptor calls for low-latency mode; nullptr leaves the driver alone.
    void setSerialFlagsIo(SerialFlagsIo *io) { lowLatency_.setIo(io); }

    bool open(const QString &device, const LineSettings &line, FlowControl flow) override;
    void close(bool dropUnsent = false) override;
    bool isOpen() const override { return port_.isOpen(); }
    QString openError() const override { return openError_; }
    OpenFailure openFailure() const override { return openFailure_; }

    qint64 bytesWaiting() override;
    QByteArray read(qint64 max) override;
    bool write(const QByteArray &bytes) override;
    qint64 writeRoom() override;
    void waitForBytes(qint64 timeoutNs) override;
    void gatherInput() override;
    qint64 lineDrainNs() override;
    double lineRate() const override { return line_.bytesPerSecond(); }

    // Bytes handed to write() that the device has not taken yet; never above kOutBufferSize.
    qint64 unsentCount() const { return port_.isOpen() ? port_.bytesToWrite() : 0; }
    static constexpr qint64 kOutBufferSize = 512;
    static constexpr qint64 kInBufferSize = 32000;

    // How long write() waits for room in a full transmit buffer before it gives up.
    void setStallLimitMs(int ms) { stallLimitMs_ = ms; }
    // Error signals of the serial port so far (time-outs of zero-length polls excluded).
    int errorSignalCount() const { return errorSignals_; }
    // The most a device's own output queue is taken to hold (a pseudo-terminal takes about
    // 20 KiB before it pushes back; a UART driver 4 KiB).
    static constexpr qint64 kSystemQueueCap = 24 * 1024;
    // Why the port was closed under the program's feet; empty while it was not.
    QString lostReason() const { return lostReason_; }

private:
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void closePort(); // every close goes through here
    void applyFlowControlAndLines(FlowControl flow);
    void handOverPending();
    // Sleeps until the device is ready to read (or write) or the timeout passes; false when
    // it did not turn ready.
    bool waitReady(bool forWriting, qint64 timeoutNs);
    // Moves what the system holds into the receive buffer, without waiting; false when nothing
    // came. `signalled`: the device has just reported itself ready.
    bool pull(bool signalled = false);
    qint64 waiting() const; // bytes in the receive buffer
    void queueOnLine(qint64 count);
    double queuedOnLine(); // bytes handed to the system that the line has not carried yet

    QSerialPort port_;
    QByteArray rx_; // received and not read yet (Unix: read from the device directly)
    LineSettings line_;
    int stallLimitMs_ = 4000;
    QString openError_;
    OpenFailure openFailure_ = OpenFailure::None;
    LowLatency lowLatency_{systemSerialFlags()};
    QString lostReason_;
    int errorSignals_ = 0;
    QElapsedTimer lineClock_;
    qint64 lineAtNs_ = 0;
    double lineQueued_ = 0;
    bool opening_ = false;     // Qt reports its own open failures; they are no loss
    bool handingOver_ = false; // a full device queue while handing bytes over is no loss
};
