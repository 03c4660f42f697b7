#include "fakecomm.h"
#include "recordingview.h"
#include "waits.h"

#include <QtTest>

Q_DECLARE_METATYPE(WaitOutcome)

namespace {
constexpr qint64 kSec = FakeComm::kSec;
constexpr qint64 kUs = FakeComm::kUs;
// Two seconds before midnight, 2024-01-01 UTC, on a clock that counts from the epoch.
constexpr qint64 kBeforeMidnight = (19723LL * 86400 - 2) * kSec;

enum class Form { Exactly, AtLeast, ReadyMark };

struct Rig {
    explicit Rig(qint64 start = 0) : fake(start) { fake.setPortOpen(true); }
    WaitOutcome run(Form form, qint16 target, int seconds) {
        switch (form) {
        case Form::Exactly:
            return waits.exactly(target, seconds);
        case Form::AtLeast:
            return waits.atLeast(target, seconds);
        case Form::ReadyMark:
            return waits.readyMark(seconds);
        }
        return WaitOutcome::Stopped;
    }
    FakeComm fake;
    RecordingView view;
    ByteWaits waits{fake, fake, view};
};
} // namespace

Q_DECLARE_METATYPE(Form)

class TestWaits : public QObject {
    Q_OBJECT
private slots:
    void limits_data();
    void limits();
    void bytesAlreadyWaiting_data();
    void bytesAlreadyWaiting();
    void readyMark_data();
    void readyMark();
    void endsEarly_data();
    void endsEarly();
};

void TestWaits::limits_data() {
    QTest::addColumn<Form>("form");
    QTest::addColumn<int>("target");
    QTest::addColumn<int>("seconds");
    QTest::addColumn<qint64>("start");
    QTest::addColumn<int>("count");      // bytes the controller sends, all at once
    QTest::addColumn<qint64>("arrival"); // after the wait began; -1: silent
    QTest::addColumn<WaitOutcome>("outcome");

    const qint64 silent = -1;
    // The probe wait wants exactly its count.
    QTest::newRow("A: 4 of 4") << Form::Exactly << 4 << 4 << 0LL << 4 << 1000 * kUs
                               << WaitOutcome::Arrived;
    QTest::newRow("A: 3 of 4") << Form::Exactly << 4 << 4 << 0LL << 3 << 1000 * kUs
                               << WaitOutcome::TimedOut;
    QTest::newRow("A: 5 before the first check")
        << Form::Exactly << 4 << 4 << 0LL << 5 << 0LL << WaitOutcome::TimedOut;
    QTest::newRow("A: at the limit")
        << Form::Exactly << 4 << 4 << 0LL << 4 << 4 * kSec << WaitOutcome::Arrived;
    // Arrives between the limit and the last count: form A still takes it.
    QTest::newRow("A: just past the limit")
        << Form::Exactly << 4 << 4 << 0LL << 4 << 4 * kSec + 5 * kUs << WaitOutcome::Arrived;
    QTest::newRow("A: well past the limit")
        << Form::Exactly << 4 << 4 << 0LL << 4 << 4 * kSec + 1000 * kUs << WaitOutcome::TimedOut;
    QTest::newRow("A: silent before midnight")
        << Form::Exactly << 4 << 4 << kBeforeMidnight << 0 << silent << WaitOutcome::TimedOut;
    // The other waits want at least their count.
    QTest::newRow("B: 1 of 1") << Form::AtLeast << 1 << 2 << 0LL << 1 << 300 * kUs
                               << WaitOutcome::Arrived;
    QTest::newRow("B: 5 of 1") << Form::AtLeast << 1 << 2 << 0LL << 5 << 0LL
                               << WaitOutcome::Arrived;
    QTest::newRow("B: 1 of 2") << Form::AtLeast << 2 << 2 << 0LL << 1 << 300 * kUs
                               << WaitOutcome::TimedOut;
    QTest::newRow("B: at the limit")
        << Form::AtLeast << 1 << 2 << 0LL << 1 << 2 * kSec << WaitOutcome::Arrived;
    QTest::newRow("B: 1 ns past the limit")
        << Form::AtLeast << 1 << 2 << 0LL << 1 << 2 * kSec + 1 << WaitOutcome::TimedOut;
    // Timer before count: what arrived after the limit does not rescue the wait.
    QTest::newRow("B: just past the limit")
        << Form::AtLeast << 1 << 4 << 0LL << 1 << 4 * kSec + 5 * kUs << WaitOutcome::TimedOut;
    QTest::newRow("B: silent before midnight")
        << Form::AtLeast << 1 << 4 << kBeforeMidnight << 0 << silent << WaitOutcome::TimedOut;
    QTest::newRow("B: 2 s silent before midnight")
        << Form::AtLeast << 2 << 2 << kBeforeMidnight << 0 << silent << WaitOutcome::TimedOut;
}

void TestWaits::limits() {
    QFETCH(Form, form);
    QFETCH(int, target);
    QFETCH(int, seconds);
    QFETCH(qint64, start);
    QFETCH(int, count);
    QFETCH(qint64, arrival);
    QFETCH(WaitOutcome, outcome);

    Rig rig(start);
    if (arrival >= 0)
        rig.fake.deliverAfter(arrival, QByteArray(count, 'x'));
    QCOMPARE(rig.run(form, qint16(target), seconds), outcome);

    const qint64 elapsed = rig.fake.nowNs() - start;
    if (outcome == WaitOutcome::TimedOut) {
        QVERIFY2(elapsed > seconds * kSec, qPrintable(QString::number(elapsed)));
        QVERIFY2(elapsed <= seconds * kSec + 20 * kUs, qPrintable(QString::number(elapsed)));
    } else {
        QVERIFY(elapsed <= arrival + 20 * kUs);
    }
    // Sleeps between passes instead of spinning through the limit.
    QVERIFY2(rig.fake.yields + rig.fake.idles < 10, qPrintable(QString::number(rig.fake.yields)));
}

void TestWaits::bytesAlreadyWaiting_data() {
    QTest::addColumn<Form>("form");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<int>("yieldsAtLeast");
    QTest::newRow("probe") << Form::Exactly << QByteArray("abcd") << 1;
    QTest::newRow("count") << Form::AtLeast << QByteArray("ab") << 1;
    QTest::newRow("mark") << Form::ReadyMark << QByteArray("U") << 0;
}

void TestWaits::bytesAlreadyWaiting() {
    QFETCH(Form, form);
    QFETCH(QByteArray, bytes);
    QFETCH(int, yieldsAtLeast);

    Rig rig;
    rig.fake.deliverAfter(0, bytes);
    rig.fake.yieldOnce();
    QCOMPARE(rig.fake.waiting(), bytes.size());
    rig.fake.yields = 0;

    QCOMPARE(rig.run(form, qint16(bytes.size()), 4), WaitOutcome::Arrived);
    QVERIFY(rig.fake.yields >= yieldsAtLeast);
}

void TestWaits::readyMark_data() {
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<qint64>("arrival");
    QTest::addColumn<WaitOutcome>("outcome");
    QTest::addColumn<QByteArray>("leftUnread");

    QTest::newRow("U") << QByteArray("U") << 200 * kUs << WaitOutcome::Arrived << QByteArray();
    QTest::newRow("others first") << QByteArray("\x00zq?U", 5) << 200 * kUs << WaitOutcome::Arrived
                                  << QByteArray();
    QTest::newRow("after the U stays")
        << QByteArray("xUZ!") << 200 * kUs << WaitOutcome::Arrived << QByteArray("Z!");
    QTest::newRow("lower-case u") << QByteArray("u") << 200 * kUs << WaitOutcome::TimedOut
                                  << QByteArray();
    QTest::newRow("at 4 s") << QByteArray("U") << 4 * kSec << WaitOutcome::Arrived << QByteArray();
    QTest::newRow("after 4 s") << QByteArray("U") << 4 * kSec + 1000 * kUs << WaitOutcome::TimedOut
                               << QByteArray();
}

void TestWaits::readyMark() {
    QFETCH(QByteArray, reply);
    QFETCH(qint64, arrival);
    QFETCH(WaitOutcome, outcome);
    QFETCH(QByteArray, leftUnread);

    Rig rig;
    rig.fake.setInputLen(1);
    rig.fake.deliverAfter(arrival, reply);
    QCOMPARE(rig.waits.readyMark(4), outcome);
    if (outcome == WaitOutcome::Arrived) {
        // Takes one character per read and stops at the mark.
        rig.fake.yieldOnce();
        QByteArray rest;
        while (rig.fake.waiting() > 0)
            rest += rig.fake.Input();
        QCOMPARE(rest, leftUnread);
    }
    QVERIFY(rig.fake.yields + rig.fake.idles < 20);
}

void TestWaits::endsEarly_data() {
    QTest::addColumn<Form>("form");
    QTest::addColumn<bool>("stop"); // else the device goes away
    QTest::addColumn<WaitOutcome>("outcome");
    for (const auto &[name, form] :
         {std::pair{"probe", Form::Exactly}, std::pair{"count", Form::AtLeast},
          std::pair{"mark", Form::ReadyMark}}) {
        QTest::addRow("%s: stop", name) << form << true << WaitOutcome::Stopped;
        QTest::addRow("%s: device lost", name) << form << false << WaitOutcome::TimedOut;
    }
}

void TestWaits::endsEarly() {
    QFETCH(Form, form);
    QFETCH(bool, stop);
    QFETCH(WaitOutcome, outcome);

    Rig rig;
    // The first thing every wait does after it begins is to yield.
    rig.fake.onTick = [&] {
        if (rig.fake.yields == 1) {
            if (stop)
                rig.view.stop = true;
            else
                rig.fake.loseDevice();
        }
    };
    QCOMPARE(rig.run(form, 1, 4), outcome);
    QCOMPARE(rig.fake.yields, 1);
    QCOMPARE(rig.fake.idles, 0);
    QVERIFY(rig.view.log.isEmpty());
}

QTEST_GUILESS_MAIN(TestWaits)
#include "tst_waits.moc"
