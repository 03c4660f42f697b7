// Every committed fuzz input, run through the harness it was found with, as an ordinary test.
// A file that once broke an invariant stays here as the regression test of its fix.
#include "fuzzcommon.h"
#include "simprocess.h"

#include <QDir>
#include <QtTest>

static const std::pair<const char *, Harness *> kHarnesses[] = {
    {"fuzz_backup", fuzzBackup}, {"fuzz_restore", fuzzRestore}, {"fuzz_open", fuzzOpen}};

class TestFuzzReplay : public QObject {
    Q_OBJECT
private slots:
    void replay_data() {
        QTest::addColumn<int>("harness");
        QTest::addColumn<QByteArray>("input");
        for (int i = 0; i < 3; ++i) {
            const char *name = kHarnesses[i].first;
            QTest::addRow("%s/(empty)", name) << i << QByteArray(); // still a complete run
            const QDir dir(QStringLiteral(STOWLINE_FUZZ_CORPUS "/") + name);
            QVERIFY2(!dir.isEmpty(), name);
            for (const QFileInfo &file : dir.entryInfoList(QDir::Files, QDir::Name))
                QTest::addRow("%s/%s", name, qPrintable(file.fileName()))
                    << i << readAll(file.filePath());
        }
    }
    void replay() {
        QFETCH(int, harness);
        QFETCH(QByteArray, input);
        kHarnesses[harness].second(reinterpret_cast<const uint8_t *>(input.constData()),
                                   size_t(input.size()));
    }
};

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "tst_fuzzreplay.moc"
