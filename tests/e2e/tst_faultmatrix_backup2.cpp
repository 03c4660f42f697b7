// Second-generation Backup through the real window and port, one controller fault per row.
// Every row first waits the probe's four seconds: the controller never answers "B".
#include "faultmatrix.h"

namespace {

constexpr int kN = kSecondGenerationLength;
const QByteArray kImage = randomBytes(kN, 22);

// The stream ended early: no image counts as held, and the caption keeps what it read before.
FaultCase dropped(const QStringList &faultArgs, double rate = 0) {
    FaultCase c;
    c.generation = 2;
    c.image = kImage;
    c.faultArgs = faultArgs;
    c.rate = rate;
    c.box = kNoResponse;
    c.type = 2;
    c.configStatus = QStringLiteral("12 bytes");
    c.rx = "B@?";
    return c;
}

FaultCase held(const QByteArray &image, const QStringList &faultArgs = {}) {
    FaultCase c = dropped(faultArgs);
    c.box.clear();
    c.held = image;
    c.configStatus = QStringLiteral("186368 bytes");
    return c;
}

} // namespace

class FaultMatrixBackup2 : public QObject {
    Q_OBJECT

private slots:
    void backup_data() {
        QTest::addColumn<FaultCase>("fault");
        QTest::newRow("no fault") << held(kImage);
        QTest::newRow("silent after @?") << dropped({"--stop-after=0"});
        QTest::newRow("stops after 1000 bytes") << dropped({"--stop-after=1000"});
        QTest::newRow("hangs up after 1000 bytes") << [] {
            FaultCase c = dropped({"--hangup-after=1000"});
            c.lineDied = true;
            c.rxAtLeast = 3;
            c.withinMs = 5500; // the probe's four seconds, then at once
            return c;
        }();
        // No checksum guards this stream: bytes in front of it shift the whole image, and
        // nothing can tell. The window holds what came, as it came.
        QTest::newRow("garbage before the stream")
            << held(("xy" + kImage).left(kN), {"--garbage=xy"});
        // Two and a half seconds a byte: the first two bytes cannot come within two seconds.
        QTest::newRow("slower than the limits") << dropped({}, 0.4);
    }
    void backup() {
        QFETCH(FaultCase, fault);
        runFaultCase(fault);
    }
};

QTEST_MAIN(FaultMatrixBackup2)
#include "tst_faultmatrix_backup2.moc"
