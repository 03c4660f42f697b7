// Every committed fuzz input, run through the harness it was found with, as an ordinary test.
// A file that once broke an invariant stays here as the regression test of its fix.

#include "fuzzcommon.h"

#include <QDir>
#include <QFile>
#include <QtTest>

namespace {

QStringList failures;

void recordFailure(const char *what, const char *file, int line) {
    failures << QStringLiteral("%1 (%2:%3)")
                    .arg(QString::fromUtf8(what), QString::fromUtf8(file))
                    .arg(line);
}

using Harness = int (*)(const uint8_t *, size_t);
struct Entry {
    const char *name;
    Harness run;
};
const Entry kHarnesses[] = {
    {"fuzz_backup", fuzzBackup},
    {"fuzz_restore", fuzzRestore},
    {"fuzz_open", fuzzOpen},
};

QDir corpusOf(const char *harness) {
    return QDir(QStringLiteral(STOWLINE_FUZZ_CORPUS "/") + QLatin1String(harness));
}

} // namespace

class TestFuzzReplay : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { fuzz::setFailureHandler(recordFailure); }
    void replay_data();
    void replay();
};

void TestFuzzReplay::replay_data() {
    QTest::addColumn<int>("harness");
    QTest::addColumn<QByteArray>("input");
    for (int i = 0; i < int(std::size(kHarnesses)); ++i) {
        const char *name = kHarnesses[i].name;
        // No bytes at all still describe a complete run.
        QTest::addRow("%s/(empty)", name) << i << QByteArray();
        const QDir dir = corpusOf(name);
        QVERIFY2(!dir.entryList(QDir::Files).isEmpty(), name);
        for (const QString &file : dir.entryList(QDir::Files, QDir::Name)) {
            QFile f(dir.filePath(file));
            QVERIFY(f.open(QIODevice::ReadOnly));
            QTest::addRow("%s/%s", name, qPrintable(file)) << i << f.readAll();
        }
    }
}

void TestFuzzReplay::replay() {
    QFETCH(int, harness);
    QFETCH(QByteArray, input);
    failures.clear();
    kHarnesses[harness].run(reinterpret_cast<const uint8_t *>(input.constData()),
                            size_t(input.size()));
    QVERIFY2(failures.isEmpty(), qPrintable(failures.join(QLatin1Char('\n'))));
}

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
