// The percentage and time left the bar shows, from the measured rate.
#include "progressestimate.h"

#include <QtTest>

class TestProgressEstimate : public QObject {
    Q_OBJECT
private slots:
    void text_data() {
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<qint64>("min");
        QTest::addColumn<qint64>("max");
        QTest::addColumn<qint64>("value");
        QTest::addColumn<bool>("movedBefore"); // the bar had moved further earlier
        QTest::addColumn<QString>("text");
        // A second-generation Backup at 9600 baud, 960 bytes a second.
        QTest::newRow("line speed")
            << 81562LL << 0LL << 186368LL << 78300LL << false << "42 % · 1:53 left";
        QTest::newRow("hours") << 4000LL << 0LL << 1000LL << 1LL << false << "0 % · 1:06:36 left";
        QTest::newRow("done") << 9000LL << 0LL << 99LL << 99LL << false << "100 % · 0:00 left";
        QTest::newRow("not measured yet") << 900LL << 0LL << 100LL << 50LL << false << "50 %";
        QTest::newRow("not moved yet") << 5000LL << 0LL << 100LL << 0LL << false << "0 %";
        QTest::newRow("phase over") << 5000LL << 0LL << 100LL << 0LL << true << "";
    }
    void text() {
        QFETCH(qint64, elapsedMs);
        QFETCH(qint64, min);
        QFETCH(qint64, max);
        QFETCH(qint64, value);
        QFETCH(bool, movedBefore);
        QFETCH(QString, text);
        const qint64 start = 7'000'000'000;
        ProgressEstimate estimate;
        estimate.reset(start, min, max);
        if (movedBefore)
            estimate.text(start + 1'000'000, max / 2);
        QCOMPARE(estimate.text(start + elapsedMs * 1'000'000, value), text);
    }
};

QTEST_GUILESS_MAIN(TestProgressEstimate)
#include "tst_progressestimate.moc"
