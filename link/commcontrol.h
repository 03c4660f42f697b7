#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>
#include <functional>

// Why a port did not open, for advice the user can act on.
enum class OpenFailure {
    None,
    NoPort,     // port number 0, or nothing mapped
    Missing,    // no such device (adapter unplugged, wrong path)
    Permission, // the device exists but this user may not open it
    Busy,       // another program holds the device
    Other,
};

// The serial control the transfers drive. Property values outlive each opening.
class CommControl {
public:
    virtual ~CommControl() = default;

    virtual void setCommPort(qint16 port) = 0;
    virtual void setSettings(const QString &settings) = 0; // e.g. "9600,N,8,1"
    virtual void setRTSEnable(bool on) = 0;
    virtual void setHandshaking(qint32 mode) = 0; // 2: RTS/CTS
    virtual void setInBufferSize(qint16 size) = 0;
    virtual void setInBufferCount(qint16 count) = 0; // only 0: discards what waits
    virtual void setInputLen(qint16 len) = 0;
    virtual void setInputMode(qint32 mode) = 0; // 0 text, 1 byte arrays

    // True opens with the properties written before; false closes. Returns false when the
    // port cannot be opened; openError() then says why.
    virtual bool setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;      // false as well once the device has gone away
    virtual QString deviceName() const = 0; // the device CommPort names
    virtual QString openError() const = 0;
    virtual OpenFailure openFailure() const { return OpenFailure::Other; }

    virtual qint16 InBufferCount() = 0;
    // Asked while Output waits for room: true ends the wait at once.
    void setStopCheck(std::function<bool()> check) { stopCheck_ = std::move(check); }
    bool stopChecked() const { return stopCheck_ && stopCheck_(); }
    // Queues bytes for sending. Returns false when the port is closed or lost, when the
    // transmit buffer stays full too long for the bytes to fit, or when a stop is asked for.
    virtual bool Output(const QByteArray &bytes) = 0;
    // How long, at the line's rate, until the bytes already sent have left on the line: the
    // system holds a queue of its own that the transmit buffer does not show. 0 when unknown.
    virtual qint64 lineDrainNs() { return 0; }
    // Drops bytes queued for sending that have not left yet, so that closing never waits
    // on a line that does not drain.
    virtual void discardOutput() {}
    // Up to InputLen bytes from the front of the receive buffer; empty when nothing waits.
    // In text mode each byte stands for one character (Latin-1).
    virtual QByteArray Input() = 0;

    // Bulk forms for the loops that move many bytes per pass. The defaults are built from the
    // per-byte operations, so a port offering only those behaves exactly as before.

    // Up to n bytes from the front of the receive buffer, whatever InputLen says.
    virtual QByteArray InputUpTo(qint32 n) {
        QByteArray got;
        for (qint32 i = 0; i < n; ++i) {
            const QByteArray one = Input();
            if (one.isEmpty())
                break;
            got += one;
        }
        return got;
    }
    // How many bytes Output takes now without waiting for room.
    virtual qint64 OutputRoom() { return 1; }
    // Blocks on the device itself until a byte arrives or ms pass, leaving window events
    // waiting. False when the port cannot wait this way; the caller then waits its own way.
    virtual bool waitForBytes(int ms) {
        Q_UNUSED(ms);
        return false;
    }
    // Moves what the system has received into the receive buffer now, without waiting, so
    // that a count sees all that has arrived.
    virtual void gatherInput() {}
    // Bytes per second the line carries at the settings in force; 0 when unknown.
    virtual double lineRate() const { return 0; }

private:
    std::function<bool()> stopCheck_;
};
