// The percentage and time left the bar shows, from the measured rate.
#include "progressestimate.h"

#include <QtTest>

class TestProgressEstimate : public QObject {
    Q_OBJECT
private slots:
    void text_data() {
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<qint64>("value"); // of a second-generation upload, 0 to 186368
        QTest::addColumn<bool>("movedBefore");
        QTest::addColumn<QString>("text");
        QTest::newRow("960 bytes/s") << 81562LL << 78300LL << false << "42 % · 1:53 left";
        QTest::newRow("hours") << 4000LL << 10LL << false << "0 % · 20:42:24 left";
        QTest::newRow("done") << 9000LL << 186368LL << false << "100 % · 0:00 left";
        QTest::newRow("not measured yet") << 900LL << 93184LL << false << "50 %";
        QTest::newRow("not moved yet") << 5000LL << 0LL << false << "0 %";
        QTest::newRow("back at 0: phase over") << 5000LL << 0LL << true << "";
    }
    void text() {
        QFETCH(qint64, elapsedMs);
        QFETCH(qint64, value);
        QFETCH(bool, movedBefore);
        QFETCH(QString, text);
        ProgressEstimate estimate;
        estimate.reset(7'000'000'000, 0, 186368);
        if (movedBefore)
            estimate.text(7'001'000'000, 100);
        QCOMPARE(estimate.text(7'000'000'000 + elapsedMs * 1'000'000, value), text);
    }
};

QTEST_GUILESS_MAIN(TestProgressEstimate)
#include "tst_progressestimate.moc"
