#pragma once

// The engine's jobs over simulated time, with what they report recorded.

#include "fakeport.h"
#include "link/transfer.h"
#include "recorder.h"

#include <QtTest>

inline const QString kNoResponse =
    QStringLiteral("ERROR Message|Error : Controller Failed to respond, Check Communications");
inline const QString kBadChecksum = QStringLiteral("ERROR Message|Error : Bad Checksum");
inline constexpr qint64 kSec = FakePort::kSec;
inline constexpr qint64 kMs = FakePort::kMs;

// Jobs on Com 1 with a controller behind it; a Restore sends the image given here.
struct Rig {
    explicit Rig(const QByteArray &image = "old", Generation generation = Generation::Unknown) {
        request.port = {1, QStringLiteral("/dev/ttyS0")};
        request.image = {image, generation};
        request.inventory = {}; // advice on a missing device names no ports of this machine
        rec.stop = &stop;
    }
    FakePort port;
    Recorder rec;
    StopToken stop;
    JobRequest request;

    JobResult run(JobRequest::Kind kind) {
        request.kind = kind;
        return runJob(request, port, port, stop, rec);
    }
    // "<title>|<text>" of the box a job ended with; empty: none.
    static QString box(const JobResult &result) {
        return result.hasBox() ? result.boxTitle + QLatin1Char('|') + result.boxText : QString();
    }
    // Runs `step` after each byte the controller took, before the controller answers.
    void onOutput(const std::function<void(const QByteArray &)> &step) {
        port.onOutput = [feed = port.onOutput, step](const QByteArray &bytes) {
            step(bytes);
            if (feed)
                feed(bytes);
        };
    }
    // The port is closed once a job is over. Unsent output is dropped with the last close after
    // a failure or a stop, so a controller holding CTS low cannot keep it waiting; a success
    // lets every byte out.
    void checkClosed(bool failed) const {
        QVERIFY(!port.isOpen());
        QCOMPARE(port.discards > 0, failed);
        if (failed)
            QCOMPARE(port.discardedAt, port.closings - 1);
    }
    // The exchanges around a Restore read into images of their own: the count of the image
    // held is not theirs to report.
    void checkHeldUntouched() const { QCOMPARE(rec.linesWith("held:"), QStringList()); }
};
