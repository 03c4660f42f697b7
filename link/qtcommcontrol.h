#pragma once

#include "commcontrol.h"
#include "lowlatency.h"
#include "portmap.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSerialPort>

#include <optional>

// A line format such as "9600,N,8,1": baud, parity letter (N, E, O, M, S), data bits 5 to 8,
// stop bits 1, 1.5 or 2.
struct LineSettings {
    qint32 baudRate = 57600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    static std::optional<LineSettings> parse(const QString &text);
};

// The serial control over QSerialPort. Property values outlive each opening; a value refused
// by the device (RTS or flow control on a pseudo-terminal) does not stop the port opening.
// A device that goes away while open (unplugged adapter, hung-up terminal) closes the port
// at its first error, so waits end at once instead of spinning on a dead descriptor.
class QtCommControl : public QObject, public CommControl {
    Q_OBJECT
public:
    explicit QtCommControl(const PortMap &map = PortMap(), QObject *parent = nullptr);
    ~QtCommControl() override;

    void setPortMap(const PortMap &map) { map_ = map; }
    // The descriptor calls for low-latency mode; nullptr leaves the driver alone.
    void setSerialFlagsIo(SerialFlagsIo *io) { lowLatency_.setIo(io); }

    void setCommPort(qint16 port) override;
    void setSettings(const QString &settings) override;
    void setRTSEnable(bool on) override;
    void setHandshaking(qint32 mode) override;
    void setInBufferSize(qint16 size) override;
    void setInBufferCount(qint16 count) override;
    void setInputLen(qint16 len) override;
    void setInputMode(qint32 mode) override;

    bool setPortOpen(bool open) override;
    bool portOpen() const override;
    QString deviceName() const override;
    QString openError() const override;
    OpenFailure openFailure() const override { return openFailure_; }

    qint16 InBufferCount() override;
    bool Output(const QByteArray &bytes) override;
    QByteArray Input() override;
    QByteArray InputUpTo(qint32 n) override;
    qint64 OutputRoom() override;
    bool waitForBytes(int ms) override;
    void gatherInput() override;
    double lineRate() const override { return lineBytesPerSecond(); }
    qint64 lineDrainNs() override;
    void discardOutput() override;

    // Bytes handed to Output that the device has not taken yet; never above OutBufferSize.
    qint64 OutBufferCount() const;
    static constexpr qint64 OutBufferSize = 512;

    // How long Output waits for room in a full transmit buffer before it gives up.
    void setOutputStallLimitMs(int ms) { stallLimitMs_ = ms; }

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
    void applyLineSettings();
    void applyFlowControlAndLines();
    void handOverPending();
    void queueOnLine(qint64 count);
    double lineBytesPerSecond() const;
    double queuedOnLine(); // bytes handed to the system that the line has not carried yet

    QSerialPort port_;
    PortMap map_;

    qint16 commPort_ = 0;
    LineSettings line_;
    bool rtsEnable_ = false;
    qint32 handshaking_ = 0;
    qint16 inBufferSize_ = 1024;
    qint16 inputLen_ = 0;
    qint32 inputMode_ = 0;
    int stallLimitMs_ = 4000;

    QString device_;
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
