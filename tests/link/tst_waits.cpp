#include "fakeport.h"
#include "link/waits.h"

#include <QtTest>

Q_DECLARE_METATYPE(WaitOutcome)

namespace {
constexpr qint64 kSec = FakePort::kSec;
constexpr qint64 kUs = FakePort::kUs;
// Two seconds before midnight, 2024-01-01 UTC, on a clock that counts from the epoch.
constexpr qint64 kBeforeMidnight = (19723LL * 86400 - 2) * kSec;

enum class Form { Exactly, AtLeast, ReadyMark };

struct Rig {
    explicit Rig(qint64 start = 0) : fake(start) { fake.open("/dev/ttyS0", {}, FlowControl::None); }
    WaitOutcome run(Form form, qint64 target, int seconds) {
        return form == Form::Exactly   ? waits.exactly(target, seconds)
               : form == Form::AtLeast ? waits.atLeast(target, seconds)
                                       : waits.readyMark(seconds);
    }
    FakePort fake;
    StopToken stop;
    ByteWaits waits{fake, fake, stop};
};
} // namespace

Q_DECLARE_METATYPE(Form)

class TestWaits : public QObject {
    Q_OBJECT
private slots:
    void limits_data() {
        QTest::addColumn<Form>("form");
        QTest::addColumn<int>("target");
        QTest::addColumn<int>("seconds");
        QTest::addColumn<qint64>("start");
        QTest::addColumn<QByteArray>("bytes"); // what the controller sends, all at once
        QTest::addColumn<qint64>("arrival");   // after the wait began; -1: silent
        QTest::addColumn<WaitOutcome>("outcome");
        QTest::addColumn<QByteArray>("unread"); // the ready mark: what it leaves behind
        QTest::addColumn<qint64>("overshoot");  // how late each wait ends

        const auto row = [](const char *name, Form form, int target, int seconds, qint64 start,
                            const QByteArray &bytes, qint64 arrival, WaitOutcome outcome,
                            const QByteArray &unread = {}, qint64 overshoot = 0) {
            QTest::newRow(name) << form << target << seconds << start << bytes << arrival << outcome
                                << unread << overshoot;
        };
        const qint64 silent = -1;
        const QByteArray x1("x"), x4(4, 'x'), none;
        const auto A = Form::Exactly, B = Form::AtLeast, U = Form::ReadyMark;
        const auto arrived = WaitOutcome::Arrived, timedOut = WaitOutcome::TimedOut;
        // The probe wait wants exactly its count. Arrival 0: there before the wait begins.
        row("A: 4 already there", A, 4, 4, 0, x4, 0, arrived);
        row("A: 5 before the first check", A, 4, 4, 0, QByteArray(5, 'x'), 0, timedOut);
        row("A: at the limit", A, 4, 4, 0, x4, 4 * kSec, arrived);
        // Arrives between the limit and a late wake-up: the count before the time takes it.
        row("A: just past the limit", A, 4, 4, 0, x4, 4 * kSec + 5 * kUs, arrived, {}, 10 * kUs);
        row("A: well past the limit", A, 4, 4, 0, x4, 4 * kSec + 1000 * kUs, timedOut, {},
            10 * kUs);
        row("A: silent before midnight", A, 4, 4, kBeforeMidnight, none, silent, timedOut);
        // The other waits want at least their count.
        row("B: 5 of 1", B, 1, 2, 0, QByteArray(5, 'x'), 0, arrived);
        row("B: 1 of 2", B, 2, 2, 0, x1, 300 * kUs, timedOut);
        row("B: at the limit", B, 1, 2, 0, x1, 2 * kSec, arrived);
        // The count at the limit takes what is there by then, and nothing after it.
        row("B: 1 ns past the limit", B, 1, 2, 0, x1, 2 * kSec + 1, arrived);
        row("B: just past the limit", B, 1, 4, 0, x1, 4 * kSec + 5 * kUs, timedOut);
        row("B: silent before midnight", B, 1, 4, kBeforeMidnight, none, silent, timedOut);
        // A wait held past the limit finds the byte that came before it: it counts.
        row("B: wait held past the limit", B, 1, 2, 0, x1, kSec, arrived, {}, 1500'000 * kUs);
        // The ready mark takes text up to the first "U".
        row("U: what follows stays", U, 1, 4, 0, "xUZ!", 200 * kUs, arrived, "Z!");
        row("U: already there", U, 1, 4, 0, "U", 0, arrived);
        row("U: at 4 s", U, 1, 4, 0, "U", 4 * kSec, arrived);
        row("U: after 4 s", U, 1, 4, 0, "U", 4 * kSec + 1000 * kUs, timedOut);
        row("U: wait held past the limit", U, 1, 4, 0, "xU", 3 * kSec, arrived, {}, 2 * kSec);
    }

    void limits() {
        QFETCH(Form, form);
        QFETCH(int, target);
        QFETCH(int, seconds);
        QFETCH(qint64, start);
        QFETCH(QByteArray, bytes);
        QFETCH(qint64, arrival);
        QFETCH(WaitOutcome, outcome);
        QFETCH(QByteArray, unread);
        QFETCH(qint64, overshoot);

        Rig rig(start);
        rig.fake.idleOvershootNs = overshoot;
        if (arrival >= 0)
            rig.fake.deliverAfter(arrival, bytes);
        if (arrival == 0) // in the buffer already
            rig.fake.waitForBytes(0), start = rig.fake.nowNs();
        QCOMPARE(rig.run(form, target, seconds), outcome);

        const qint64 elapsed = rig.fake.nowNs() - start;
        if (outcome == WaitOutcome::TimedOut) {
            QVERIFY2(elapsed > seconds * kSec, qPrintable(QString::number(elapsed)));
            QVERIFY2(elapsed <= seconds * kSec + 20 * kUs, qPrintable(QString::number(elapsed)));
        } else {
            QVERIFY(elapsed <= arrival + overshoot + 100 * kUs); // the mark: a character a turn
        }
        // Sleeps between passes instead of spinning through the limit.
        QVERIFY2(rig.fake.waits < 10, qPrintable(QString::number(rig.fake.waits)));
        if (form == Form::ReadyMark && outcome == WaitOutcome::Arrived)
            QCOMPARE(rig.fake.read(100), unread);
    }
};
QTEST_GUILESS_MAIN(TestWaits)
#include "tst_waits.moc"
