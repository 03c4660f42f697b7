#pragma once

// The transfers over simulated time, with the window's view recorded.

#include "fakecomm.h"
#include "recordingview.h"
#include "transfers.h"

#include <QtTest>

inline const QString kNoResponse =
    QStringLiteral("ERROR Message|Error : Controller Failed to respond, Check Communications");
inline const QString kBadChecksum = QStringLiteral("ERROR Message|Error : Bad Checksum");
inline constexpr qint64 kSec = FakeComm::kSec;
inline constexpr qint64 kMs = FakeComm::kMs;

// A window holding an image, with a controller on Com 1.
struct Rig {
    explicit Rig(const QByteArray &held = "old", qint16 type = 0) {
        image = {QByteArray(1, '\0') + held, qint32(held.size()), type};
        kept = image;
        view.configStatus = "old";
        view.onWarning = [this] { boxWhileOpen = boxWhileOpen || fake.portOpen(); };
    }
    FakeComm fake;
    RecordingView view;
    ConfigImage image, kept;
    bool boxWhileOpen = false; // a box was shown before the port was closed
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
        QVERIFY(!boxWhileOpen);
        QCOMPARE(view.log.last(), QStringLiteral("idle"));
        QCOMPARE(view.status, QStringLiteral("Waiting for Command"));
        QVERIFY(view.progressValues().isEmpty() || view.progressValues().last() == 0);
    }
    void checkImageUntouched() const { // what a Restore must leave as it was
        QCOMPARE(image.ConfigData, kept.ConfigData);
        QCOMPARE(image.ConfigLength, kept.ConfigLength);
        QCOMPARE(image.ControllerType, kept.ControllerType);
        QCOMPARE(view.linesWith("config:") + view.linesWith("file:"), QStringList());
    }
};
