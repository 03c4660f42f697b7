#pragma once

#include "link/stoptoken.h"

#include <QByteArray>
#include <QSerialPort>
#include <QString>
#include <QtGlobal>
#include <optional>

// Why a port did not open, for advice the user can act on.
enum class OpenFailure {
    None,
    NoPort,     // no port chosen, or nothing mapped
    Missing,    // no such device (adapter unplugged, wrong path)
    Permission, // the device exists but this user may not open it
    Busy,       // another program holds the device
    Other,
};

// A line format such as "9600,N,8,1": baud, parity letter (N, E, O, M, S), data bits 5 to 8,
// stop bits 1, 1.5 or 2.
struct LineSettings {
    qint32 baudRate = 57600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    static std::optional<LineSettings> parse(const QString &text);
    QString text() const;          // "57600,N,8,1"
    double bytesPerSecond() const; // what the line carries at most
};

enum class FlowControl { None, RtsCts };

// The serial port as the transfers drive it. Waits sleep in the kernel and end early when the
// stop token being watched is requested.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    void watch(const StopToken *stop) { stop_ = stop; }

    // Opens the device with RTS and DTR raised and both directions empty. False: openError() and
    // openFailure() say why.
    virtual bool open(const QString &device, const LineSettings &line, FlowControl flow) = 0;
    // Closes; unsent output is dropped first when asked, so that a controller holding CTS low
    // never keeps the close waiting.
    virtual void close(bool dropUnsent = false) = 0;
    virtual bool isOpen() const = 0; // false as well once the device has gone away
    virtual QString openError() const = 0;
    virtual OpenFailure openFailure() const = 0;

    // Bytes received and not read yet.
    virtual qint64 bytesWaiting() = 0;
    // Up to max bytes from the front of what was received.
    virtual QByteArray read(qint64 max) = 0;
    // Sends the bytes, waiting while the transmit buffer is full. False when the port is closed
    // or lost, when the buffer stays full too long, or when a stop is asked for.
    virtual bool write(const QByteArray &bytes) = 0;
    // How many bytes write() takes now without waiting.
    virtual qint64 writeRoom() = 0;
    // Sleeps until more bytes arrive, timeoutNs pass, or a stop is asked for.
    virtual void waitForBytes(qint64 timeoutNs) = 0;
    // Moves what the system has received into the receive buffer at once, for a controller that
    // outruns its line.
    virtual void gatherInput() {}
    // How long until the bytes already sent have left on the line: the system holds a queue of
    // its own. 0 when unknown.
    virtual qint64 lineDrainNs() { return 0; }
    // Bytes per second the line carries; 0 when unknown.
    virtual double lineRate() const { return 0; }

protected:
    bool stopRequested() const { return stop_ && stop_->requested(); }
    const StopToken *stop_ = nullptr;
};

// Monotonic time, and sleeps that end early on a stop.
class Clock {
public:
    virtual ~Clock() = default;
    virtual qint64 nowNs() = 0;
    // Sleeps until the deadline, or until a stop; bytes arriving do not end it.
    virtual void sleepUntil(qint64 deadlineNs, const StopToken &stop) = 0;
};

// The running program's clock.
class SteadyClock : public Clock {
public:
    qint64 nowNs() override;
    void sleepUntil(qint64 deadlineNs, const StopToken &stop) override;
};
