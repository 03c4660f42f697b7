// First-generation Backup and Restore through the real window and port, one controller fault
// per row.
#include "faultmatrix.h"

namespace {

constexpr int kN = 300;
const QByteArray kImage = patterned(kN, 21);
const QString kBadChecksum = QStringLiteral("ERROR Message|Error : Bad Checksum");

FaultCase backupCase(const QStringList &faultArgs, double rate = 0) {
    FaultCase c;
    c.transfer = Transfer::Backup;
    c.image = kImage;
    c.faultArgs = faultArgs;
    c.rate = rate;
    return c;
}

// Every byte arrived; the box (if any) concerns only the checksum.
FaultCase held(FaultCase c, const QString &box = {}) {
    c.box = box;
    c.type = 1;
    c.length = kN;
    c.data = asHeld(kImage);
    c.configStatus = QStringLiteral("300 bytes");
    c.rx = "BU" + QByteArray(kN, 'A');
    return c;
}

// Byte k + 1 never came: the bytes taken stay in the array, but no image counts as held.
FaultCase dropped(FaultCase c, int k, bool lineDied = false) {
    c.box = kNoResponse;
    c.type = 1;
    c.length = 0;
    c.data = asHeld(kImage.left(k) + zeros(kN - k));
    c.configStatus = QStringLiteral("Empty");
    c.rx = "BU" + QByteArray(k, 'A');
    if (lineDied) {
        // The last byte may have been sent as the line went dead, and taken or not.
        c.lineDied = true;
        c.looseFrom = k;
        c.rxAtLeast = 2 + qMax(0, k - 1);
    }
    return c;
}

// No four-byte answer to "B": the controller is taken for second-generation and stays silent.
FaultCase handedOver(FaultCase c) {
    c.box = kNoResponse;
    c.type = 2;
    c.length = 0;
    c.data = zeros(kSecondGenerationLength + 1);
    c.configStatus = kPreviousStatus;
    c.rx = "B@?";
    return c;
}

// The announced length is refused before anything else is sent; the previous bytes stay.
FaultCase refused(FaultCase c, const QString &box) {
    c.box = box;
    c.type = 1;
    c.length = 0;
    c.data = asHeld(kPreviousImage);
    c.configStatus = kPreviousStatus;
    c.rx = "B";
    return c;
}

FaultCase restoreCase(const QStringList &faultArgs, const QString &box, double rate = 0) {
    FaultCase c;
    c.transfer = Transfer::Restore;
    c.image = kImage;
    c.faultArgs = faultArgs;
    c.rate = rate;
    c.box = box;
    c.rx = "R" + lengthBytes(kN) + kImage;
    return c;
}

FaultCase lineDiedAfter(FaultCase c, int k) {
    c.lineDied = true;
    c.rxAtLeast = 5 + k;
    return c;
}

} // namespace

class FaultMatrixFirstGen : public QObject {
    Q_OBJECT

private slots:
    void backup_data() {
        QTest::addColumn<FaultCase>("fault");
        QTest::newRow("no fault") << held(backupCase({}));
        QTest::newRow("silent at the probe") << handedOver(backupCase({"--silent-at=probe"}));
        QTest::newRow("garbage before the length") << handedOver(backupCase({"--garbage=xy"}));
        QTest::newRow("3-byte length") << handedOver(backupCase({"--short-probe"}));
        QTest::newRow("length 0") << refused(backupCase({"--length=0"}), "Error|Bad File System");
        QTest::newRow("length 2^31") << refused(
            backupCase({"--length=2147483648"}),
            "ERROR Message|Error : Controller announced an invalid length (2147483648 bytes)");
        QTest::newRow("silent after U") << dropped(backupCase({"--silent-at=upload"}), 0);
        QTest::newRow("stops after 1 byte") << dropped(backupCase({"--stop-after=1"}), 1);
        QTest::newRow("stops after 150 bytes") << dropped(backupCase({"--stop-after=150"}), 150);
        QTest::newRow("stops before the last byte")
            << dropped(backupCase({"--stop-after=299"}), 299);
        QTest::newRow("announces more than it sends") << [] {
            FaultCase c = dropped(backupCase({"--length=400"}), kN);
            c.data += zeros(100);
            return c;
        }();
        QTest::newRow("silent at the checksum")
            << held(backupCase({"--silent-at=checksum"}), kNoResponse);
        QTest::newRow("wrong checksum") << held(backupCase({"--bad-checksum"}), kBadChecksum);
        QTest::newRow("hangs up after U") << dropped(backupCase({"--hangup-after=0"}), 0, true);
        QTest::newRow("hangs up after 150 bytes")
            << dropped(backupCase({"--hangup-after=150"}), 150, true);
        // Three seconds a byte: the length is not complete when the probe's four seconds end.
        QTest::newRow("slower than the limits") << handedOver(backupCase({}, 0.3));
    }
    void backup() {
        QFETCH(FaultCase, fault);
        runFaultCase(fault);
    }

    void restore_data() {
        QTest::addColumn<FaultCase>("fault");
        const QString wrongLength = QStringLiteral("ERROR Message|Error : Incorrect File Length");
        QTest::newRow("no fault") << restoreCase({}, {});
        // Without a "U" the controller counts as second-generation, which takes 186368 bytes.
        QTest::newRow("silent at U") << [&] {
            FaultCase c = restoreCase({"--silent-at=u-reply"}, wrongLength);
            c.rx = "R" + lengthBytes(kN);
            return c;
        }();
        QTest::newRow("garbage before U") << restoreCase({"--garbage=#u\x01"}, {});
        QTest::newRow("silent at the checksum")
            << restoreCase({"--silent-at=restore-checksum"}, kNoResponse);
        QTest::newRow("wrong checksum") << restoreCase({"--bad-checksum"}, kBadChecksum);
        QTest::newRow("hangs up after U")
            << lineDiedAfter(restoreCase({"--hangup-after=0"}, kNoResponse), 0);
        QTest::newRow("hangs up after 1 byte")
            << lineDiedAfter(restoreCase({"--hangup-after=1"}, kNoResponse), 1);
        QTest::newRow("hangs up after 150 bytes")
            << lineDiedAfter(restoreCase({"--hangup-after=150"}, kNoResponse), 150);
        QTest::newRow("hangs up before the last byte")
            << lineDiedAfter(restoreCase({"--hangup-after=299"}, kNoResponse), 299);
        // Reads 50 bytes a second: the checksum comes two seconds after its limit.
        QTest::newRow("slower than the limits") << restoreCase({}, kNoResponse, 50);
    }
    void restore() {
        QFETCH(FaultCase, fault);
        runFaultCase(fault);
    }
};

QTEST_MAIN(FaultMatrixFirstGen)
#include "tst_faultmatrix_firstgen.moc"
