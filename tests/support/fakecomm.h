#pragma once

#include "clock.h"
#include "commcontrol.h"

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
// first. onOutput lets a test model a controller that answers what the program sends.
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
    bool failOpen = false;
    QString failReason = QStringLiteral("Permission denied");
    qint64 drainNs = 0;       // what lineDrainNs() reports: the line still carrying bytes
    bool stallOutput = false; // the transmit buffer never drains: Output refused, port open
    qint64 stepNs = 10 * kUs; // time one yield takes

    // ---- what the program did
    QStringList props; // "CommPort=1", "Settings=9600,N,8,1", "PortOpen=0", ... in order
    struct Write {
        qint64 timeNs;
        QByteArray bytes;
        QString settings; // line settings in force
    };
    QList<Write> writes;
    QByteArray written; // every accepted byte, in order
    int refusedOutputs = 0;
    int discards = 0;           // discardOutput() calls
    qsizetype discardedAt = -1; // props.size() at the last of them
    qint64 yields = 0;
    qint64 idles = 0;

    // ---- the port's state
    qint16 commPort = 0;
    QString settings = QStringLiteral("57600,N,8,1");
    bool rtsEnable = false;
    qint32 handshaking = 0;
    qint16 inBufferSize = 1024;
    qint16 inputLen = 0;
    qint32 inputMode = 0;
    bool isLost() const { return lost_; }
    qsizetype waiting() const { return rx_.size() - rxHead_; }
    qsizetype pending() const; // scheduled, not yet in the receive buffer
    // Property writes since the last opening attempt, "PortOpen=1" included.
    QStringList lastSetUp() const;

    // CommControl
    void setCommPort(qint16 port) override;
    void setSettings(const QString &value) override;
    void setRTSEnable(bool on) override;
    void setHandshaking(qint32 mode) override;
    void setInBufferSize(qint16 size) override;
    void setInBufferCount(qint16 count) override;
    void setInputLen(qint16 len) override;
    void setInputMode(qint32 mode) override;
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

    // Clock
    qint64 nowNs() override { return now_; }
    void yieldOnce() override;
    void idleUntil(qint64 deadlineNs) override;

private:
    struct Arrival {
        qint64 timeNs;
        QByteArray bytes;
        qsizetype taken = 0;
    };
    void deliverDue();
    void dropDue();
    qsizetype room() const;

    qint64 now_;
    bool open_ = false;
    bool lost_ = false;
    QString openError_;
    std::deque<Arrival> arrivals_; // by time; equal times keep their order
    QByteArray rx_;
    qsizetype rxHead_ = 0;
};

// The XOR of all bytes, as both controller generations compute it.
quint8 xorOf(const QByteArray &bytes);
// n as four bytes, least significant first.
QByteArray littleEndian32(quint32 n);
// n reproducible bytes of every value.
QByteArray randomBytes(qsizetype n, quint32 seed = 1);

// A first-generation controller: answers "B" with its length and uploads its image byte by
// byte against "A"; takes "R", the length and the image and answers with its checksum.
class FirstGenController {
public:
    explicit FirstGenController(QByteArray backupImage = {}) : image(std::move(backupImage)) {}
    void attach(FakeComm &fake);
    void receive(FakeComm &fake, const QByteArray &bytes);

    QByteArray image; // what a Backup takes
    qint64 replyDelayNs = 100 * FakeComm::kUs;
    // Backup
    std::optional<QByteArray> probeReply; // instead of the length, e.g. 3 or 5 bytes
    qint64 sendOnly = -1;                 // image bytes sent before falling silent; -1 all
    bool sendChecksum = true;
    std::optional<quint8> checksumOverride;
    // Restore
    QByteArray readyReply = QByteArrayLiteral("U"); // after the length; empty: silent
    qint64 readyDelayNs = 100 * FakeComm::kUs;
    bool answerChecksum = true;
    std::optional<quint8> checksumReplyOverride;

    // What it saw.
    int acks = 0;
    std::optional<quint32> announced;
    QByteArray received;

private:
    void sendNext(FakeComm &fake);
    enum class State { Idle, AwaitU, Uploading, Length, Image } state_ = State::Idle;
    qsizetype sent_ = 0;
    QByteArray lengthBytes_;
};

// A second-generation controller: streams its image after "@?"; answers "@M", takes "@!",
// the image and the checksum byte, and then gives its verdict ("Y" good, "N" bad).
class SecondGenController {
public:
    explicit SecondGenController(QByteArray backupImage = {}) : image(std::move(backupImage)) {}
    void attach(FakeComm &fake);
    void receive(FakeComm &fake, const QByteArray &bytes);

    QByteArray image;
    qint64 replyDelayNs = 1 * FakeComm::kMs;
    // Backup: the stream is the image followed by `trailing`, cut to streamLength when set.
    QByteArray trailing = QByteArray(1, '\xFF');
    qint64 streamLength = -1;
    qint64 byteGapNs = 0; // 0: everything at once (the receive buffer's room paces it)
    // Restore
    QByteArray menuAnswer = QByteArrayLiteral("K"); // answer to "@M"; empty: silent
    bool answerVerdict = true;
    std::optional<char> verdictOverride;

    // What it saw.
    QByteArray received;
    std::optional<quint8> checksum;
    int menuRequests = 0;

private:
    enum class State { Idle, Image } state_ = State::Idle;
    bool sawAt_ = false;
};
