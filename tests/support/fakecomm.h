#pragma once

#include "clock.h"
#include "commcontrol.h"
#include "sim_controller.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>

// A serial port over simulated time, for driving the transfers without hardware or waiting.
//
// The controller's side is a queue of (time, bytes) arrivals. Due bytes move into the receive
// buffer when the program yields or idles, as far as the buffer has room (the rest is held
// back, as RTS/CTS would); bytes that fall due while the port is closed are lost. A yield
// advances time by stepNs; an idle jumps to the next arrival or the deadline, whichever is
// first. Timed events (loss, stall) take effect at the first port call once due.
class FakeComm : public CommControl, public Clock {
public:
    static constexpr qint64 kUs = 1'000;
    static constexpr qint64 kMs = 1'000'000;
    static constexpr qint64 kSec = 1'000'000'000;

    explicit FakeComm(qint64 startNs = 0) : now_(startNs) {}

    // ---- the controller's side
    void deliverAt(qint64 timeNs, const QByteArray &bytes);
    void deliverAfter(qint64 delayNs, const QByteArray &bytes) { deliverAt(now_ + delayNs, bytes); }
    std::function<void(const QByteArray &)> onOutput; // after each accepted Output
    std::function<void()> onTick;                     // after each yield and each idle
    void loseDevice(); // unplugged: portOpen() false, Output refused, nothing more received
    std::optional<qint64> loseAtNs, stallAtNs;
    bool failOpen = false;
    int failOpening = 0;      // this opening attempt (1, 2, ...) fails
    qint64 drainNs = 0;       // what lineDrainNs() reports: the line still carrying bytes
    bool stallOutput = false; // the transmit buffer never drains: Output refused, port open
    qint64 stepNs = 10 * kUs; // time one yield takes

    // ---- what the program did
    QStringList props; // "Settings=9600,N,8,1", "PortOpen=0", ... in order
    struct Write {
        qint64 timeNs;
        QByteArray bytes;
        QString settings; // line settings in force
    };
    QList<Write> writes;
    QByteArray written; // every accepted byte, in order
    int refusedOutputs = 0, openings = 0;
    int discards = 0;           // discardOutput() calls
    qsizetype discardedAt = -1; // props.size() at the last of them
    qint64 yields = 0, idles = 0;

    // ---- the port's state
    qint16 commPort = 0, inBufferSize = 1024, inputLen = 0;
    QString settings = QStringLiteral("57600,N,8,1");
    bool isLost() const { return lost_; }
    qsizetype waiting() const { return rx_.size() - rxHead_; }

    void setCommPort(qint16 port) override { commPort = port; }
    void setSettings(const QString &value) override;
    void setRTSEnable(bool) override {}
    void setHandshaking(qint32) override {}
    void setInBufferSize(qint16 size) override { inBufferSize = size; }
    void setInBufferCount(qint16 count) override;
    void setInputLen(qint16 len) override { inputLen = len; }
    void setInputMode(qint32) override {}
    bool setPortOpen(bool open) override;
    bool portOpen() const override { return open_ && !lost_; }
    QString deviceName() const override;
    QString openError() const override { return openError_; }
    qint16 InBufferCount() override;
    bool Output(const QByteArray &bytes) override;
    qint64 lineDrainNs() override { return drainNs; }
    void discardOutput() override {
        ++discards;
        discardedAt = props.size();
    }
    QByteArray Input() override;

    qint64 nowNs() override { return now_; }
    void yieldOnce() override;
    void idleUntil(qint64 deadlineNs) override;

private:
    struct Arrival {
        qint64 timeNs;
        QByteArray bytes;
        qsizetype taken = 0;
    };
    void applyEvents();
    void deliverDue();
    void dropDue();
    void clearRx();
    qsizetype room() const;

    qint64 now_;
    bool open_ = false, lost_ = false;
    QString openError_;
    std::deque<Arrival> arrivals_; // by time; equal times keep their order
    QByteArray rx_;
    qsizetype rxHead_ = 0;
};

// The simulator's controller (tools/sim_controller) on the far end of a FakeComm, set up with
// the simulator's own command-line options (e.g. "--generation=2", "--bad-checksum").
class SimLink : public sim::ControllerIo {
public:
    SimLink(FakeComm &fake, const QStringList &args, const QByteArray &image = {});
    SimLink(const SimLink &) = delete;
    SimLink &operator=(const SimLink &) = delete;

    qint64 replyDelayNs = 100 * FakeComm::kUs;
    qint64 byteGapNs = 0; // pacing of each sent byte; 0: all at once
    QByteArray image;     // what a Backup takes
    QByteArray received;  // the last image a Restore delivered
    QStringList notes;    // the simulator's command record ("B", "R 3", "@M", ...)

    void send(const std::uint8_t *data, std::size_t size) override;
    void note(const std::string &event) override { notes << QString::fromStdString(event); }
    void storeImage(const std::vector<std::uint8_t> &bytes) override;
    void hangUpWhenSent() override { fake_.loseAtNs = qMax(lastAt_, fake_.nowNs()); }
    void exchangeDone() override {}

private:
    FakeComm &fake_;
    sim::Options options_;
    std::optional<sim::Controller> controller_;
    qint64 lastAt_ = 0;
};

// The XOR of all bytes, as both controller generations compute it.
quint8 xorOf(const QByteArray &bytes);
// n as four bytes, least significant first.
QByteArray littleEndian32(quint32 n);
// n reproducible bytes of every value.
QByteArray randomBytes(qsizetype n, quint32 seed = 1);
