#pragma once

#include "clock.h"
#include "commcontrol.h"

#include <QByteArray>
#include <QtGlobal>

// A controller of either generation that lives in memory and answers at once, with a clock
// whose waits cost nothing: no device, no system call, no event loop. Run against it, the
// transfer engines show what they cost by themselves, the floor under any port and any
// event loop.
class MemoryController : public CommControl, public Clock {
public:
    MemoryController(int generation, const QByteArray &image);

    // First command byte of an exchange sent, and the last byte the program took.
    qint64 startNs() const { return startNs_; }
    qint64 lastInputNs() const { return lastInputNs_; }
    QByteArray startCommand() const { return startCommand_; } // what started the clock
    // The image bytes a restore delivered.
    const QByteArray &received() const { return received_; }

    void setCommPort(qint16) override {}
    void setSettings(const QString &) override {}
    void setRTSEnable(bool) override {}
    void setHandshaking(qint32) override {}
    void setInBufferSize(qint16) override {}
    void setInBufferCount(qint16) override { dropInput(); }
    void setInputLen(qint16) override {}
    void setInputMode(qint32) override {}
    bool setPortOpen(bool open) override;
    bool portOpen() const override { return open_; }
    QString deviceName() const override { return QStringLiteral("memory"); }
    QString openError() const override { return {}; }
    qint16 InBufferCount() override;
    bool Output(const QByteArray &bytes) override;
    QByteArray Input() override;

    qint64 nowNs() override;
    void yieldOnce() override {}
    void idleUntil(qint64 deadlineNs) override; // jumps the clock; nothing can arrive meanwhile

private:
    enum class State { Idle, At, Length, WaitU, WaitA, Receive };

    void step(char byte);
    void receive(char byte);
    void sendNextUploadByte();
    void reply(char byte) { rx_.append(byte); }
    void dropInput();

    const int generation_;
    const QByteArray image_;
    State state_ = State::Idle;
    bool open_ = false;
    QByteArray rx_;
    qsizetype rxHead_ = 0;
    qint64 offsetNs_ = 0;
    qint64 startNs_ = -1;
    qint64 lastInputNs_ = -1;
    QByteArray startCommand_;

    quint32 announced_ = 0;
    int lengthBytes_ = 0;
    qsizetype uploaded_ = 0;
    quint8 uploadSum_ = 0;
    qint64 expected_ = 0;
    bool checksumFollows_ = false;
    QByteArray received_;
    quint8 receivedSum_ = 0;
};
