#pragma once

// A window holding an image, with a controller on Com 1, for driving the transfers over
// simulated time.

#include "fakecomm.h"
#include "recordingview.h"
#include "transfers.h"

#include <QtTest>

inline const QString kNoResponse =
    QStringLiteral("ERROR Message|Error : Controller Failed to respond, Check Communications");
inline const QString kBadChecksum = QStringLiteral("ERROR Message|Error : Bad Checksum");
inline constexpr qint64 kSec = FakeComm::kSec;
inline constexpr qint64 kMs = FakeComm::kMs;

struct Rig {
    explicit Rig(const QByteArray &held = QByteArrayLiteral("old"), qint16 type = 0) {
        image.ConfigData = QByteArray(1, '\0') + held;
        image.ConfigLength = qint32(held.size());
        image.ControllerType = type;
        kept = image;
        view.configStatus = QStringLiteral("old");
    }
    FakeComm fake;
    RecordingView view;
    ConfigImage image, kept;
    Transfers transfers{fake, fake, view, image};

    // Runs `step` after each byte the controller took, before the controller answers.
    void onOutput(const std::function<void(const QByteArray &)> &step) {
        fake.onOutput = [feed = fake.onOutput, step](const QByteArray &bytes) {
            step(bytes);
            if (feed)
                feed(bytes);
        };
    }
    void checkEndedIdle() const {
        QVERIFY(!fake.portOpen());
        QCOMPARE(fake.props.last(), QStringLiteral("PortOpen=0"));
        QCOMPARE(view.log.last(), QStringLiteral("idle"));
        QCOMPARE(view.status, QStringLiteral("Waiting for Command"));
        QVERIFY(view.progressValues().isEmpty() || view.progressValues().last() == 0);
    }
    // What a Restore must leave as it was.
    void checkImageUntouched() const {
        QCOMPARE(image.ConfigData, kept.ConfigData);
        QCOMPARE(image.ConfigLength, kept.ConfigLength);
        QCOMPARE(image.ControllerType, kept.ControllerType);
        QCOMPARE(view.linesWith("config:") + view.linesWith("file:"), QStringList());
    }
};
