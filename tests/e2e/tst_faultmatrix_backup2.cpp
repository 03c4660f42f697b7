// Second-generation Backup through the real window and port, one controller fault per row.
// Every row first waits the probe's four seconds: the controller never answers "B".
#include "faultmatrix.h"

namespace {

constexpr int kN = kSecondGenerationLength;
const QByteArray kImage = patterned(kN, 22);

// The stream ended early: byte k is taken only once byte k + 1 has come, so `sent` bytes leave
// `sent` - 1 taken. None counts as held, and the caption keeps what it read before.
FaultCase dropped(const QStringList &faultArgs, int sent, double rate = 0) {
    FaultCase c;
    c.transfer = Transfer::Backup;
    c.generation = 2;
    c.image = kImage;
    c.faultArgs = faultArgs;
    c.rate = rate;
    c.box = kNoResponse;
    c.type = 2;
    c.length = 0;
    const int taken = qMax(0, sent - 1);
    c.data = asHeld(kImage.left(taken) + zeros(kN - taken));
    c.configStatus = kPreviousStatus;
    c.rx = "B@?";
    return c;
}

} // namespace

class FaultMatrixBackup2 : public QObject {
    Q_OBJECT

private slots:
    void backup_data() {
        QTest::addColumn<FaultCase>("fault");
        QTest::newRow("silent after @?") << dropped({"--stop-after=0"}, 0);
        QTest::newRow("stops after 1 byte") << dropped({"--stop-after=1"}, 1);
        QTest::newRow("stops after 1000 bytes") << dropped({"--stop-after=1000"}, 1000);
        QTest::newRow("stops before the last byte") << dropped({"--stop-after=186367"}, 186367);
        // The last image byte is taken only once a further byte has come.
        QTest::newRow("nothing after the last byte") << dropped({"--trailing=0"}, kN);
        QTest::newRow("hangs up after 1000 bytes") << [] {
            FaultCase c = dropped({"--hangup-after=1000"}, 1000);
            c.lineDied = true;
            c.looseFrom = 1;
            c.rxAtLeast = 3;
            return c;
        }();
        // No checksum guards this stream: bytes in front of it shift the whole image, and
        // nothing can tell. The window holds what came, as it came.
        QTest::newRow("garbage before the stream") << [] {
            FaultCase c = dropped({"--garbage=xy"}, 0);
            c.box.clear();
            c.length = kN;
            c.data = asHeld(("xy" + kImage).left(kN));
            c.configStatus = QStringLiteral("186368 bytes");
            return c;
        }();
        // Two and a half seconds a byte: the first two bytes cannot come within two seconds.
        QTest::newRow("slower than the limits") << dropped({}, 0, 0.4);
    }
    void backup() {
        QFETCH(FaultCase, fault);
        runFaultCase(fault);
    }
};

QTEST_MAIN(FaultMatrixBackup2)
#include "tst_faultmatrix_backup2.moc"
