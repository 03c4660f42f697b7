// First-generation Backup and Restore through the real window and port, one controller fault
// per row.
#include "faultmatrix.h"

namespace {

constexpr int kN = 300;
const QByteArray kImage = randomBytes(kN, 21);
const QString kBadChecksum = QStringLiteral("ERROR Message|Error : Bad Checksum");

FaultCase backupCase(const QStringList &faultArgs, double rate = 0) {
    FaultCase c;
    c.image = kImage;
    c.faultArgs = faultArgs;
    c.rate = rate;
    c.type = 1;
    return c;
}

// Every byte arrived; the box (if any) concerns only the checksum.
FaultCase held(FaultCase c, const QString &box = {}) {
    c.box = box;
    c.held = kImage;
    c.configStatus = QStringLiteral("300 bytes");
    c.rx = "BU" + QByteArray(kN, 'A');
    return c;
}

// Byte k + 1 never came: no image counts as held.
FaultCase dropped(FaultCase c, int k) {
    c.box = kNoResponse;
    c.configStatus = QStringLiteral("Empty");
    c.rx = "BU" + QByteArray(k, 'A');
    return c;
}

// No four-byte answer to "B": the controller is taken for second-generation and stays silent.
FaultCase handedOver(FaultCase c) {
    c.box = kNoResponse;
    c.type = 2;
    c.configStatus = QStringLiteral("12 bytes");
    c.rx = "B@?";
    return c;
}

// The announced length is refused before anything else is sent.
FaultCase refused(FaultCase c, const QString &box) {
    c.box = box;
    c.configStatus = QStringLiteral("12 bytes");
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
    c.rx = "R" + littleEndian32(kN) + kImage;
    return c;
}

// The line dies after k image bytes; that is noticed at once, not after a time-out.
FaultCase lineDied(FaultCase c, int rxAtLeast) {
    c.lineDied = true;
    c.rxAtLeast = rxAtLeast;
    c.withinMs = 1500;
    return c;
}

} // namespace

class FaultMatrixFirstGen : public QObject {
    Q_OBJECT

private slots:
    void backup_data() {
        QTest::addColumn<FaultCase>("fault");
        QTest::newRow("no fault") << held(backupCase({}));
        QTest::newRow("960 bytes/s") << held(backupCase({}, 960));
        QTest::newRow("silent at the probe") << handedOver(backupCase({"--silent-at=probe"}));
        QTest::newRow("garbage before the length") << handedOver(backupCase({"--garbage=xy"}));
        QTest::newRow("length 0") << refused(backupCase({"--length=0"}), "Error|Bad File System");
        QTest::newRow("length 2^31") << refused(
            backupCase({"--length=2147483648"}),
            "ERROR Message|Error : Controller announced an invalid length (2147483648 bytes)");
        QTest::newRow("stops after 150 bytes") << dropped(backupCase({"--stop-after=150"}), 150);
        QTest::newRow("silent at the checksum")
            << held(backupCase({"--silent-at=checksum"}), kNoResponse);
        QTest::newRow("wrong checksum") << held(backupCase({"--bad-checksum"}), kBadChecksum);
        // The last byte may have gone out as the line went dead, and been taken or not.
        QTest::newRow("hangs up after 150 bytes")
            << lineDied(dropped(backupCase({"--hangup-after=150"}), 150), 2 + 149);
        // Three seconds a byte: the length is not complete when the probe's four seconds end.
        QTest::newRow("slower than the limits") << handedOver(backupCase({}, 0.3));
    }
    void backup() {
        QFETCH(FaultCase, fault);
        runFaultCase(fault);
    }

    void restore_data() {
        QTest::addColumn<FaultCase>("fault");
        QTest::newRow("no fault") << restoreCase({}, {});
        // Without a "U" the controller counts as second-generation, which takes 186368 bytes.
        QTest::newRow("silent at U") << [] {
            FaultCase c =
                restoreCase({"--silent-at=u-reply"}, "ERROR Message|Error : Incorrect File Length");
            c.rx = "R" + littleEndian32(kN);
            return c;
        }();
        QTest::newRow("garbage before U") << restoreCase({"--garbage=#u\x01"}, {});
        QTest::newRow("silent at the checksum")
            << restoreCase({"--silent-at=restore-checksum"}, kNoResponse);
        QTest::newRow("wrong checksum") << restoreCase({"--bad-checksum"}, kBadChecksum);
        QTest::newRow("hangs up after 150 bytes")
            << lineDied(restoreCase({"--hangup-after=150"}, kNoResponse), 5 + 150);
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
