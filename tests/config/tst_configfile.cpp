#include "configfile.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QtTest>

namespace {

// Takes `limit` bytes, then fails: with -1, or by stopping short (a full disk, an early end).
class LimitedDevice : public QIODevice {
public:
    LimitedDevice(qint64 limit, bool hardError) : limit_(limit), hardError_(hardError) {
        open(QIODevice::ReadWrite | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    qint64 moved = 0;

protected:
    qint64 readData(char *data, qint64 maxSize) override { return take(maxSize, data); }
    qint64 writeData(const char *, qint64 maxSize) override { return take(maxSize, nullptr); }

private:
    qint64 take(qint64 maxSize, char *fill) {
        const qint64 n = qMin(maxSize, limit_ - moved);
        if (n <= 0)
            return hardError_ ? -1 : 0;
        if (fill)
            memset(fill, 0x5A, size_t(n));
        moved += n;
        return n;
    }
    qint64 limit_;
    bool hardError_;
};

} // namespace

class TestConfigFile : public QObject {
    Q_OBJECT
private slots:
    void pacing_data() {
        QTest::addColumn<qint64>("length");
        QTest::addColumn<QList<qint64>>("values");
        QTest::newRow("1 byte: no point") << qint64(1) << QList<qint64>{};
        QTest::newRow("2 bytes: every byte") << qint64(2) << QList<qint64>{1};
        QTest::newRow("3 bytes") << qint64(3) << QList<qint64>{1, 2};
        QTest::newRow("4 bytes") << qint64(4) << QList<qint64>{1, 2, 3};
        QTest::newRow("5 bytes: half rounds to 0") << qint64(5) << QList<qint64>{1, 2, 3, 4};
        QTest::newRow("15 bytes: 1.5 rounds to 2")
            << qint64(15) << QList<qint64>{1, 3, 5, 7, 9, 11, 13};
        QTest::newRow("25 bytes: 2.5 rounds to 2")
            << qint64(25) << QList<qint64>{1, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23};
        QTest::newRow("46 bytes") << qint64(46) << QList<qint64>{4, 9, 14, 19, 24, 29, 34, 39, 44};
        QTest::newRow("second generation")
            << qint64(186368)
            << QList<qint64>{18636, 37273, 55910, 74547, 93184, 111821, 130458, 149095, 167732};
    }

    // Each value must be shown when exactly that many bytes have moved, in both directions.
    void pacing() {
        QFETCH(qint64, length);
        QFETCH(QList<qint64>, values);
        QByteArray source(length, '\0');
        QRandomGenerator(7).fillRange(reinterpret_cast<quint32 *>(source.data()),
                                      source.size() / 4);
        QByteArray written;
        QBuffer out(&written);
        out.open(QIODevice::WriteOnly);
        QList<qint64> seen;
        QVERIFY(ConfigFile::writePaced(out, source.constData(), length, [&](qint64 v) {
            QCOMPARE(written.size(), v);
            seen << v;
        }));
        QCOMPARE(seen, values);
        QCOMPARE(written, source);

        QBuffer in(&written);
        in.open(QIODevice::ReadOnly);
        QByteArray read(length, '\0');
        seen.clear();
        QVERIFY(ConfigFile::readPaced(in, read.data(), length, [&](qint64 v) {
            QCOMPARE(in.pos(), v);
            seen << v;
        }));
        QCOMPARE(seen, values);
        QCOMPARE(read, source);
    }

    void failingDevice_data() {
        QTest::addColumn<bool>("writing");
        QTest::addColumn<qint64>("limit");
        QTest::addColumn<bool>("hardError");
        for (bool writing : {true, false}) {
            const char *dir = writing ? "write" : "read";
            QTest::addRow("%s fails at once", dir) << writing << qint64(0) << true;
            QTest::addRow("%s fails mid-chunk", dir) << writing << qint64(1000) << true;
            QTest::addRow("%s stops short past a chunk", dir)
                << writing << qint64(1500000) << false;
            QTest::addRow("%s misses the last byte", dir) << writing << qint64(2999999) << false;
        }
    }

    void failingDevice() {
        QFETCH(bool, writing);
        QFETCH(qint64, limit);
        QFETCH(bool, hardError);
        const qint64 length = 3000000;
        QByteArray bytes(length, '\0');
        LimitedDevice device(limit, hardError);
        qint64 lastValue = -1;
        const auto progress = [&](qint64 v) { lastValue = v; };
        const bool ok = writing
                            ? ConfigFile::writePaced(device, bytes.constData(), length, progress)
                            : ConfigFile::readPaced(device, bytes.data(), length, progress);
        QVERIFY(!ok);
        QVERIFY(lastValue <= limit); // never shows more progress than was made
        if (!writing) {
            QCOMPARE(bytes.count('\x5A'), limit);
            QCOMPARE(bytes.indexOf('\0'), limit < length ? limit : -1);
        }
    }
};

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_configfile.moc"
