// Second-generation Restore through the real window and port, one controller fault per row.
// Every row first waits four seconds for a "U" that a second-generation controller never sends.
#include "faultmatrix.h"

namespace {

constexpr int kN = kSecondGenerationLength;
const QByteArray kImage = randomBytes(kN, 23);
const QByteArray kRequest = "R" + littleEndian32(kN) + "@M";
const QByteArray kEverything = kRequest + "@!" + kImage + char(xorOf(kImage));

FaultCase restoreCase(const QStringList &faultArgs, const QString &box,
                      const QByteArray &rx = kEverything, double rate = 0) {
    FaultCase c;
    c.transfer = Transfer::Restore;
    c.generation = 2;
    c.image = kImage;
    c.faultArgs = faultArgs;
    c.rate = rate;
    c.box = box;
    c.rx = rx;
    return c;
}

} // namespace

class FaultMatrixRestore2 : public QObject {
    Q_OBJECT

private slots:
    void restore_data() {
        QTest::addColumn<FaultCase>("fault");
        const QString badChecksum = QStringLiteral("ERROR Message|Error : Bad Checksum");
        QTest::newRow("no fault") << restoreCase({}, {});
        // Near line speed the system's own queue (some 20 KiB on a pseudo-terminal) takes longer
        // than four seconds to drain after the last byte is handed over: the verdict wait must
        // count from when the line has carried it, and an unbounded send queue would seem to
        // finish at once.
        QTest::newRow("no fault, near line speed") << restoreCase({}, {}, kEverything, 3000);
        // Neither "@!" nor any image byte may follow an unanswered "@M".
        QTest::newRow("silent after @M")
            << restoreCase({"--silent-at=m-answer"}, kNoResponse, kRequest);
        QTest::newRow("silent at the verdict") << restoreCase({"--silent-at=verdict"}, kNoResponse);
        QTest::newRow("rejects the checksum") << restoreCase({"--verdict=4E"}, badChecksum);
        // A verdict that is not the plain "Y" is never taken for a good one.
        QTest::newRow("garbage before each reply") << restoreCase({"--garbage=xy"}, badChecksum);
        QTest::newRow("hangs up after 1000 bytes") << [] {
            FaultCase c = restoreCase({"--hangup-after=1000"}, kNoResponse);
            c.lineDied = true;
            c.rxAtLeast = int(kRequest.size()) + 2 + 1000;
            c.withinMs = 5500; // the four seconds for a "U", then at once
            return c;
        }();
        // Two seconds a byte: the answer to "@M" comes long after its four seconds.
        QTest::newRow("slower than the limits") << restoreCase({}, kNoResponse, kRequest, 0.5);
    }
    void restore() {
        QFETCH(FaultCase, fault);
        runFaultCase(fault);
    }
};

QTEST_MAIN(FaultMatrixRestore2)
#include "tst_faultmatrix_restore2.moc"
