// Second-generation Restore through the real window and port, one controller fault per row.
// Every row first waits four seconds for a "U" that a second-generation controller never sends.
#include "faultmatrix.h"

namespace {

constexpr int kN = kSecondGenerationLength;
const QByteArray kImage = patterned(kN, 23);
const QByteArray kRequest = "R" + lengthBytes(kN) + "@M";
const QByteArray kEverything = kRequest + "@!" + kImage + xorOf(kImage);

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

FaultCase lineDiedAfter(const QString &hangupAfter, int imageBytes) {
    FaultCase c = restoreCase({"--hangup-after=" + hangupAfter}, kNoResponse);
    c.lineDied = true;
    c.rxAtLeast = int(kRequest.size()) + 2 + imageBytes;
    return c;
}

} // namespace

class FaultMatrixRestore2 : public QObject {
    Q_OBJECT

private slots:
    void restore_data() {
        QTest::addColumn<FaultCase>("fault");
        const QString badChecksum = QStringLiteral("ERROR Message|Error : Bad Checksum");
        // Neither "@!" nor any image byte may follow an unanswered "@M".
        QTest::newRow("silent after @M")
            << restoreCase({"--silent-at=m-answer"}, kNoResponse, kRequest);
        QTest::newRow("silent at the verdict") << restoreCase({"--silent-at=verdict"}, kNoResponse);
        QTest::newRow("rejects the checksum") << restoreCase({"--verdict=4E"}, badChecksum);
        // A verdict that is not the plain "Y" is never taken for a good one.
        QTest::newRow("garbage before each reply") << restoreCase({"--garbage=xy"}, badChecksum);
        QTest::newRow("hangs up after @!") << lineDiedAfter("0", 0);
        QTest::newRow("hangs up after 1000 bytes") << lineDiedAfter("1000", 1000);
        QTest::newRow("hangs up before the last byte") << lineDiedAfter("186367", 186367);
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
