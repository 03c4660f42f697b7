#pragma once

#include "clock.h"
#include "commcontrol.h"
#include "sim_controller.h"

#include <QByteArray>
#include <QList>
#include <QStringList>
#include <functional>
#include <map>
#include <optional>

// A serial port over simulated time: a byte pipe with a clock. The controller's side is a list
// of timed arrivals; due bytes reach the receive buffer when the program yields or idles, and
// bytes that fall due while the port is closed are lost. A yield advances time by stepNs; an
// idle jumps to the next arrival, event or deadline. Loss and stall take effect once due.
class FakeComm : public CommControl, public Clock {
public:
    static constexpr qint64 kUs = 1'000, kMs = 1'000'000, kSec = 1'000'000'000;
    explicit FakeComm(qint64 startNs = 0) : now_(startNs) {}

    void deliverAt(qint64 timeNs, const QByteArray &bytes) { arrivals_.emplace(timeNs, bytes); }
    void deliverAfter(qint64 delayNs, const QByteArray &bytes) { deliverAt(now_ + delayNs, bytes); }
    std::function<void(const QByteArray &)> onOutput; // after each accepted Output
    std::function<void()> onTick;                     // after each yield and each idle
    std::function<void()> whileStalled;               // while a stalled Output waits for room
    void loseDevice() { lost_ = true, arrivals_.clear(), rx_.clear(); } // unplugged
    std::optional<qint64> loseAtNs, stallAtNs;
    int failOpening = 0;        // this opening (1, 2, ...) fails
    qint64 drainNs = 0;         // what lineDrainNs() reports: the line still carrying bytes
    bool stallOutput = false;   // the transmit buffer never drains: Output refused, port open
    qint64 stepNs = 10 * kUs;   // time one yield takes
    qint64 idleOvershootNs = 0; // how late an idle ends: the event loop was held

    struct Write {
        qint64 timeNs;
        QByteArray bytes;
        QString settings; // line settings in force
    };
    QList<Write> writes;
    QByteArray written; // every accepted byte, in order
    int refusedOutputs = 0, openings = 0, closings = 0;
    int discards = 0;     // discardOutput() calls
    int discardedAt = -1; // closings before the last of them
    qint64 yields = 0, idles = 0;
    qint16 commPort = 0, inputLen = 0, inBufferSize = 1024;
    QString settings = QStringLiteral("57600,N,8,1");
    qsizetype waiting() const { return rx_.size(); }

    void setCommPort(qint16 port) override { commPort = port; }
    void setSettings(const QString &value) override { settings = value; }
    void setRTSEnable(bool) override {}
    void setHandshaking(qint32) override {}
    void setInBufferSize(qint16 size) override { inBufferSize = size; }
    void setInBufferCount(qint16 count) override { rx_ = count == 0 ? QByteArray() : rx_; }
    void setInputLen(qint16 len) override { inputLen = len; }
    void setInputMode(qint32) override {}
    bool setPortOpen(bool open) override;
    bool portOpen() const override { return open_ && !lost_; }
    QString deviceName() const override {
        return commPort >= 1 ? QStringLiteral("/dev/ttyS%1").arg(commPort - 1) : QString();
    }
    QString openError() const override { return openError_; }
    qint16 InBufferCount() override;
    bool Output(const QByteArray &bytes) override;
    qint64 lineDrainNs() override { return drainNs; }
    void discardOutput() override { ++discards, discardedAt = closings; }
    QByteArray Input() override;

    qint64 nowNs() override { return now_; }
    void yieldOnce() override { tick(now_ + stepNs, yields); }
    void idleUntil(qint64 deadlineNs) override;

private:
    void applyEvents();
    void tick(qint64 to, qint64 &counter);
    qint64 now_;
    bool open_ = false, lost_ = false;
    QString openError_;
    std::multimap<qint64, QByteArray> arrivals_; // equal times keep their order
    QByteArray rx_;
};

// The simulator's controller (tools/sim_controller) on the far end of a FakeComm, set up with
// the simulator's own command-line options (e.g. "--generation=2", "--bad-checksum").
class SimLink : public sim::ControllerIo {
public:
    SimLink(FakeComm &fake, const QStringList &args, const QByteArray &image = {});
    SimLink(const SimLink &) = delete; // the controller calls back into this one

    qint64 replyDelayNs = 100 * FakeComm::kUs;
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
    FakeComm &fake_;
    sim::Options options_; // the controller keeps a reference
    std::optional<sim::Controller> controller_;
    qint64 lastAt_ = 0;
};

quint8 xorOf(const QByteArray &bytes);
QByteArray littleEndian32(quint32 n);                  // least significant byte first
QByteArray randomBytes(qsizetype n, quint32 seed = 1); // reproducible, every value
