#pragma once

#include "clock.h"
#include "commcontrol.h"
#include "sim_controller.h"

#include <QByteArray>
#include <QtGlobal>

// The simulator's controller in memory, answering at once, with a clock whose waits cost
// nothing: no device, no system call, no event loop. Run against it, the transfer engines show
// what they cost by themselves, the floor under any port and any event loop.
class MemoryController : public CommControl, public Clock, public sim::ControllerIo {
public:
    MemoryController(int generation, const QByteArray &image);

    // First command byte of an exchange sent, and the last byte the program took.
    qint64 startNs() const { return startNs_; }
    qint64 lastInputNs() const { return lastInputNs_; }
    const QByteArray &received() const { return received_; } // what a restore delivered

    void setCommPort(qint16) override {}
    void setSettings(const QString &) override {}
    void setRTSEnable(bool) override {}
    void setHandshaking(qint32) override {}
    void setInBufferSize(qint16) override {}
    void setInBufferCount(qint16) override { rx_.clear(), rxHead_ = 0; }
    void setInputLen(qint16) override {}
    void setInputMode(qint32) override {}
    bool setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    QString deviceName() const override { return QStringLiteral("memory"); }
    QString openError() const override { return {}; }
    qint16 InBufferCount() override { return qint16(qMin<qsizetype>(rx_.size() - rxHead_, 32767)); }
    bool Output(const QByteArray &bytes) override;
    QByteArray Input() override;

    qint64 nowNs() override;
    void yieldOnce() override {}
    void idleUntil(qint64 deadlineNs) override; // jumps the clock; nothing can arrive meanwhile

    void send(const std::uint8_t *data, std::size_t size) override;
    void note(const std::string &) override {}
    void storeImage(const std::vector<std::uint8_t> &image) override;
    void hangUpWhenSent() override {}
    void exchangeDone() override {}

private:
    sim::Options options_;
    sim::Controller controller_;
    bool open_ = false;
    QByteArray rx_, received_;
    qsizetype rxHead_ = 0;
    qint64 offsetNs_ = 0, startNs_ = -1, lastInputNs_ = -1;
};
