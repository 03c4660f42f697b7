#include "configfile.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QtTest>

class TestConfigFile : public QObject {
    Q_OBJECT
private slots:
    void pacing_data() {
        QTest::addColumn<qint64>("length");
        QTest::addColumn<QList<qint64>>("values");
        QTest::newRow("1 byte: no point") << qint64(1) << QList<qint64>{};
        QTest::newRow("2 bytes: every byte") << qint64(2) << QList<qint64>{1};
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
};

QTEST_GUILESS_MAIN(TestConfigFile)
#include "tst_configfile.moc"
