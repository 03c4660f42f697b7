#pragma once

#include "link/serialport.h"
#include "sim_controller.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>

// A serial port over simulated time: a byte pipe with a clock. The controller's side is a list
// of timed arrivals; due bytes reach the receive buffer when time moves, and bytes that fall
// due while the port is closed are lost. Time moves only in the waits: waitForBytes jumps to
// the next arrival, event or its timeout, sleepUntil to its deadline; either ends at once when
// the stop it watches was asked for. Loss and stall take effect once due.
class FakePort : public SerialPort, public Clock {
public:
    static constexpr qint64 kUs = 1'000, kMs = 1'000'000, kSec = 1'000'000'000;
    explicit FakePort(qint64 startNs = 0) : now_(startNs) {}

    void deliverAt(qint64 timeNs, const QByteArray &bytes) { arrivals_.emplace(timeNs, bytes); }
    void deliverAfter(qint64 delayNs, const QByteArray &bytes) { deliverAt(now_ + delayNs, bytes); }
    std::function<void(const QByteArray &)> onOutput; // after each accepted write
    std::function<void()> onTick;                     // after each wait and each sleep
    std::function<void()> whileStalled;               // while a stalled write waits for room
    void loseDevice() { lost_ = true, arrivals_.clear(), rx_.clear(); } // unplugged
    std::optional<qint64> loseAtNs, stallAtNs;
    int failOpening = 0;        // this opening (1, 2, ...) fails
    qint64 drainNs = 0;         // what lineDrainNs() reports: the line still carrying bytes
    bool stallOutput = false;   // the transmit buffer never drains: writes refused, port open
    qint64 idleOvershootNs = 0; // how late each wait and sleep ends
    qint64 room = 1;            // what writeRoom() reports
    double rate = 0;            // what lineRate() reports
    qsizetype inBufferSize = 32000;

    struct Write {
        qint64 timeNs;
        QByteArray bytes;
        QString settings; // line settings in force
    };
    QList<Write> writes;
    QByteArray written; // every accepted byte, in order
    int refusedWrites = 0, openings = 0, closings = 0;
    int discards = 0;     // closings that dropped unsent output
    int discardedAt = -1; // closings before the last of them
    qint64 waits = 0, sleeps = 0;
    QString device; // of the last opening
    qsizetype waiting() const { return rx_.size(); }

    bool open(const QString &device, const LineSettings &line, FlowControl flow) override;
    void close(bool dropUnsent = false) override;
    bool isOpen() const override { return open_ && !lost_; }
    QString openError() const override { return openError_; }
    OpenFailure openFailure() const override { return openFailure_; }
    qint64 bytesWaiting() override;
    QByteArray read(qint64 max) override;
    bool write(const QByteArray &bytes) override;
    qint64 writeRoom() override { return isOpen() ? room : 0; }
    void waitForBytes(qint64 timeoutNs) override;
    qint64 lineDrainNs() override { return drainNs; }
    double lineRate() const override { return rate; }

    qint64 nowNs() override { return now_; }
    void sleepUntil(qint64 deadlineNs, const StopToken &stop) override;

private:
    void applyEvents();
    void tick(qint64 to);
    void dropDue(); // bytes due while closed are lost
    qint64 now_;
    bool open_ = false, lost_ = false;
    QString openError_, settings_;
    OpenFailure openFailure_ = OpenFailure::None;
    std::multimap<qint64, QByteArray> arrivals_; // equal times keep their order
    QByteArray rx_;
};

// The simulator's controller (tools/sim_controller) on the far end of a FakePort, set up with
// the simulator's own command-line options (e.g. "--generation=2", "--bad-checksum").
class SimLink : public sim::ControllerIo {
public:
    SimLink(FakePort &fake, const QStringList &args, const QByteArray &image = {});
    SimLink(const SimLink &) = delete; // the controller calls back into this one

    qint64 replyDelayNs = 100 * FakePort::kUs;
    qint64 byteGapNs = 0; // pacing of each sent byte; 0: all at once
    QByteArray image;     // what a Backup takes
    QByteArray received;  // the last image a Restore delivered

    void send(const std::uint8_t *data, std::size_t size) override;
    void note(const std::string &) override {}
    void storeImage(const std::vector<std::uint8_t> &bytes) override {
        received =
            QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
    }
    void hangUpWhenSent() override { fake_.loseAtNs = qMax(lastAt_, fake_.nowNs()); }
    void exchangeDone() override {}

private:
    FakePort &fake_;
    sim::Options options_; // the controller keeps a reference
    std::optional<sim::Controller> controller_;
    qint64 lastAt_ = 0;
};

quint8 xorOf(const QByteArray &bytes);
QByteArray littleEndian32(quint32 n);                  // least significant byte first
QByteArray randomBytes(qsizetype n, quint32 seed = 1); // reproducible, every value
