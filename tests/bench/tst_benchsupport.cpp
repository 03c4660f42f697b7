// The benchmark's own instruments: if they are wrong, every figure they produce is wrong.
#include "../link/ptypair.h"
#include "harness.h"
#include "memorycontroller.h"
#include "report.h"
#include "transfers.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <cmath>
#include <vector>

using namespace bench;

namespace {

QByteArray patterned(qsizetype n) {
    QByteArray bytes(n, Qt::Uninitialized);
    for (qsizetype i = 0; i < n; ++i)
        bytes[i] = char((i * 131) ^ (i >> 7));
    return bytes;
}

QString sibling(const char *variable, const char *relative) {
    const QString fromEnv = qEnvironmentVariable(variable);
    return fromEnv.isEmpty() ? QCoreApplication::applicationDirPath() + QLatin1String(relative)
                             : fromEnv;
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

Figure figure(double value, double limit, bool measured = true) {
    Figure f;
    f.what = QStringLiteral("a | b");
    f.reference = QStringLiteral("-");
    f.measured = QStringLiteral("x");
    f.value = value;
    f.limit = limit;
    f.unit = QStringLiteral("ms");
    f.note = QStringLiteral("why");
    f.measuredOk = measured;
    return f;
}

} // namespace

class TestBenchSupport : public QObject {
    Q_OBJECT
private slots:
    void referenceLoopsSpeakTheProtocol_data();
    void referenceLoopsSpeakTheProtocol();
    void referenceLoopNoticesAWrongImage();
    void bareFileOperations_data();
    void bareFileOperations();
    void freshMemoryShowsAsPageFaults();
    void memoryControllerCarriesEveryTransfer_data();
    void memoryControllerCarriesEveryTransfer();
    void stampedCommClocksTheExchange();
    void loopProbeSeesABlockedLoop();
    void medianOf_data();
    void medianOf();
    void valuesFormat_data();
    void valuesFormat();
    void verdicts_data();
    void verdicts();
    void tableEscapesCells();
    void logAxis_data();
    void logAxis();
    void plotIsWritten();
};

void TestBenchSupport::referenceLoopsSpeakTheProtocol_data() {
    QTest::addColumn<int>("generation");
    QTest::addColumn<QString>("mode");
    QTest::addColumn<int>("length");
    QTest::addColumn<QStringList>("options");
    QTest::newRow("stream") << 2 << "stream-backup" << int(kSecondGenerationLength)
                            << QStringList();
    QTest::newRow("lock-step") << 1 << "lockstep-backup" << 3000 << QStringList();
    QTest::newRow("lock-step, poll() first")
        << 1 << "lockstep-backup" << 3000 << QStringList{QStringLiteral("--poll")};
    QTest::newRow("restore, first generation") << 1 << "restore1" << 70000 << QStringList();
    QTest::newRow("restore, a byte per write()")
        << 1 << "restore1" << 3000 << QStringList{QStringLiteral("--write-chunk=1")};
    QTest::newRow("restore, second generation")
        << 2 << "restore2" << int(kSecondGenerationLength) << QStringList();
}

// The references must run the same exchange as the tool against the same simulator, or the
// ratios compare different work.
void TestBenchSupport::referenceLoopsSpeakTheProtocol() {
    QFETCH(int, generation);
    QFETCH(QString, mode);
    QFETCH(int, length);
    QFETCH(QStringList, options);
    QTemporaryDir dir;
    const QString image = dir.filePath(QStringLiteral("image"));
    const QString received = dir.filePath(QStringLiteral("received"));
    QVERIFY(writeFile(image, patterned(length)));
    const bool restore = mode.startsWith(QLatin1String("restore"));
    Simulator sim(sibling("STOWLINE_SIM", "/../tools/stowline-sim"),
                  {QStringLiteral("--generation=%1").arg(generation),
                   restore ? QStringLiteral("--record-image=") + received
                           : QStringLiteral("--image=") + image});
    QVERIFY(!sim.device().isEmpty());
    const BareResult result =
        runBare(sibling("STOWLINE_BENCH_BARE", "/../bench/bench_bare"),
                QStringList{mode, sim.device(), QStringLiteral("--image=") + image} + options);
    QVERIFY2(result.ok, qPrintable(result.failure));
    QVERIFY(result.transferNs > 0);
    if (restore) {
        QElapsedTimer t;
        t.start();
        while (QFile(received).size() != length && t.elapsed() < 3000)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QFile got(received);
        QVERIFY(got.open(QIODevice::ReadOnly));
        QCOMPARE(got.readAll(), patterned(length));
    }
}

void TestBenchSupport::referenceLoopNoticesAWrongImage() {
    QTemporaryDir dir;
    const QString served = dir.filePath(QStringLiteral("served"));
    const QString expected = dir.filePath(QStringLiteral("expected"));
    QVERIFY(writeFile(served, patterned(2000)));
    QByteArray other = patterned(2000);
    other[1000] = char(other[1000] ^ 1);
    QVERIFY(writeFile(expected, other));
    Simulator sim(sibling("STOWLINE_SIM", "/../tools/stowline-sim"),
                  {QStringLiteral("--generation=1"), QStringLiteral("--image=") + served});
    QVERIFY(!sim.device().isEmpty());
    const BareResult result = runBare(
        sibling("STOWLINE_BENCH_BARE", "/../bench/bench_bare"),
        {QStringLiteral("lockstep-backup"), sim.device(), QStringLiteral("--image=") + expected});
    QVERIFY(!result.ok);
    QVERIFY2(result.failure.contains(QLatin1String("image-differs")), qPrintable(result.failure));
}

void TestBenchSupport::bareFileOperations_data() {
    QTest::addColumn<bool>("flush");
    QTest::newRow("flushed to disk") << true;
    QTest::newRow("left to the system") << false;
}

void TestBenchSupport::bareFileOperations() {
    QFETCH(bool, flush);
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("image.CCF"));
    QVERIFY(writeFile(file, QByteArray(100000, 'o'))); // a longer old file is replaced whole
    const QByteArray bytes = patterned(70000);
    QVERIFY(bareWriteSeconds(file, bytes, flush) > 0);
    QFile written(file);
    QVERIFY(written.open(QIODevice::ReadOnly));
    QCOMPARE(written.readAll(), bytes);
    QVERIFY(!QFile::exists(file + QStringLiteral(".new")));
    QVERIFY(bareReadSeconds(file) > 0);

    QVERIFY(std::isnan(bareReadSeconds(dir.filePath(QStringLiteral("missing")))));
    QVERIFY(
        std::isnan(bareWriteSeconds(dir.filePath(QStringLiteral("no/folder/x")), bytes, flush)));
}

// The page faults shown beside Open's growth must count fresh memory.
void TestBenchSupport::freshMemoryShowsAsPageFaults() {
    const qint64 before = minorFaults();
    std::vector<char> fresh(std::size_t(64) << 20);
    for (std::size_t i = 0; i < fresh.size(); i += 4096)
        fresh[i] = char(i);
    const qint64 faults = minorFaults() - before;
    QVERIFY2(faults >= 8192, qPrintable(QString::number(faults))); // 16384 pages, some huge
    const Memory now = memoryOf(0); // one reading: resident memory may grow between two
    QVERIFY(now.rssKiB >= 64 * 1024);
    QVERIFY(now.hwmKiB >= now.rssKiB);
    QVERIFY(fresh[4096] == char(4096));
}

void TestBenchSupport::memoryControllerCarriesEveryTransfer_data() {
    QTest::addColumn<int>("generation");
    QTest::addColumn<bool>("restore");
    QTest::addColumn<int>("length");
    QTest::addColumn<QByteArray>("clockedFrom");
    QTest::newRow("backup, 2nd gen.")
        << 2 << false << int(kSecondGenerationLength) << QByteArray("@?");
    QTest::newRow("backup, 1st gen.") << 1 << false << 5001 << QByteArray("B");
    QTest::newRow("backup, 1st gen., one byte") << 1 << false << 1 << QByteArray("B");
    QTest::newRow("restore, 2nd gen.")
        << 2 << true << int(kSecondGenerationLength) << QByteArray("@M");
    QTest::newRow("restore, 1st gen.") << 1 << true << 5001 << QByteArray("R");
}

// The floor figures are only worth something if the real engines run their whole exchange
// against the in-memory controller, and if its clock covers that exchange and nothing else.
void TestBenchSupport::memoryControllerCarriesEveryTransfer() {
    QFETCH(int, generation);
    QFETCH(bool, restore);
    QFETCH(int, length);
    QFETCH(QByteArray, clockedFrom);
    const QByteArray image = patterned(length);
    MemoryController controller(generation, image);
    SilentView view;
    ConfigImage held;
    if (restore) {
        held.ConfigData = QByteArray(1, '\0') + image;
        held.ConfigLength = length;
    }
    Transfers transfers(controller, controller, view, held);

    QElapsedTimer wall;
    wall.start();
    const qint64 before = monoNs();
    if (restore)
        transfers.mnuRestore_Click();
    else
        transfers.mnuBackup_Click();

    QCOMPARE(view.warnings, QStringList());
    if (restore) {
        QCOMPARE(controller.received(), image);
    } else {
        QCOMPARE(held.ControllerType, qint16(generation));
        QCOMPARE(held.ConfigLength, length);
        QCOMPARE(held.ConfigData.mid(1), image);
    }
    QVERIFY(!controller.portOpen());
    // The second generation's probe waits 4 s on the clock; the memory clock jumps them.
    QVERIFY2(wall.elapsed() < 2000, qPrintable(QString::number(wall.elapsed())));
    // The clock starts at the command this generation answers, not at the probe before it.
    QCOMPARE(controller.startCommand(), clockedFrom);
    QVERIFY(controller.startNs() >= before);
    QVERIFY(controller.lastInputNs() >= controller.startNs());
    QVERIFY(controller.lastInputNs() <= monoNs());
}

void TestBenchSupport::stampedCommClocksTheExchange() {
    PtyPair pty;
    QVERIFY(pty.ok());
    qputenv("STOWLINE_COM1", pty.path().toLocal8Bit());
    StampedComm port;
    port.setCommPort(1);
    port.setInputLen(1);
    QVERIFY(port.setPortOpen(true));
    port.arm(QByteArrayLiteral("@?"), 3);

    QVERIFY(port.Output(QByteArrayLiteral("B")));
    QCOMPARE(port.startNs(), qint64(-1)); // not the command it waits for
    const qint64 beforeStart = monoNs();
    QVERIFY(port.Output(QByteArrayLiteral("@?")));
    const qint64 start = port.startNs();
    QVERIFY(start >= beforeStart);
    QVERIFY(port.Output(QByteArrayLiteral("@?")));
    QCOMPARE(port.startNs(), start); // the first one counts
    QCOMPARE(port.outputBytes(), qint64(5));
    QCOMPARE(pty.receive(5), QByteArrayLiteral("B@?@?"));

    QCOMPARE(port.Input(), QByteArray()); // nothing waits: no read counted
    QVERIFY(pty.send(QByteArrayLiteral("xyz")));
    QElapsedTimer t;
    t.start();
    while (port.InBufferCount() < 3 && t.elapsed() < 2000)
        QCoreApplication::processEvents();
    QCOMPARE(port.Input(), QByteArrayLiteral("x"));
    QCOMPARE(port.Input(), QByteArrayLiteral("y"));
    QCOMPARE(port.lastInputNs(), qint64(-1)); // before the third read nothing is stamped
    const qint64 beforeLast = monoNs();
    QCOMPARE(port.Input(), QByteArrayLiteral("z"));
    QVERIFY(port.lastInputNs() >= beforeLast);
    QCOMPARE(port.inputs(), qint64(3));

    port.arm(QByteArrayLiteral("R"), 0);
    QCOMPARE(port.startNs(), qint64(-1));
    QCOMPARE(port.inputs(), qint64(0));
    QCOMPARE(port.outputBytes(), qint64(0));
    port.setPortOpen(false);
    qunsetenv("STOWLINE_COM1");
}

void TestBenchSupport::loopProbeSeesABlockedLoop() {
    LoopProbe probe;
    probe.start();
    // The loop is held up once for 40 ms, as a copy that never yields would hold it. A probe
    // that measured from its start instead of from its last tick would see 90 ms.
    QTimer::singleShot(50, [] {
        QElapsedTimer busy;
        busy.start();
        while (busy.elapsed() < 40) {
        }
    });
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < 150)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    probe.stop();
    QVERIFY2(probe.maxGapNs() >= 40'000'000, qPrintable(QString::number(probe.maxGapNs())));
    QVERIFY2(probe.maxGapNs() < 80'000'000, qPrintable(QString::number(probe.maxGapNs())));
}

void TestBenchSupport::medianOf_data() {
    QTest::addColumn<QList<double>>("values");
    QTest::addColumn<double>("expected");
    QTest::newRow("odd count, unsorted") << QList<double>{5, 1, 3} << 3.0;
    QTest::newRow("even count: the middle two") << QList<double>{4, 1, 3, 2} << 2.5;
    QTest::newRow("an outlier does not move it") << QList<double>{1, 1, 1000} << 1.0;
    QTest::newRow("nothing measured") << QList<double>{} << 0.0;
}

void TestBenchSupport::medianOf() {
    QFETCH(QList<double>, values);
    QFETCH(double, expected);
    QCOMPARE(median(std::vector<double>(values.begin(), values.end())), expected);
}

void TestBenchSupport::valuesFormat_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("unit");
    QTest::addColumn<QString>("expected");
    QTest::newRow("ratio above 100") << 846.3 << "x"
                                     << "846 x";
    QTest::newRow("ratio near the limit keeps two decimals") << 1.196 << "x"
                                                             << "1.20 x";
    QTest::newRow("tens keep one decimal") << 31.04 << "ms"
                                           << "31.0 ms";
    QTest::newRow("below one keeps three") << 0.0474 << "s"
                                           << "0.047 s";
    QTest::newRow("tiny keeps four") << 0.0065 << "%"
                                     << "0.0065 %";
    QTest::newRow("not a number") << double(NAN) << "x"
                                  << "n/a";
}

void TestBenchSupport::valuesFormat() {
    QFETCH(double, value);
    QFETCH(QString, unit);
    QFETCH(QString, expected);
    QCOMPARE(formatValue(value, unit), expected);
}

void TestBenchSupport::verdicts_data() {
    QTest::addColumn<double>("value");
    QTest::addColumn<double>("limit");
    QTest::addColumn<bool>("measured");
    QTest::addColumn<QString>("expected");
    QTest::newRow("under the limit") << 4.0 << 5.0 << true << "met";
    QTest::newRow("at the limit") << 5.0 << 5.0 << true << "met";
    QTest::newRow("over it, with its explanation")
        << 5.01 << 5.0 << true << "**missed** ([why](#why))";
    QTest::newRow("a failed run is never met") << 1.0 << 5.0 << false << "**not measured**";
    QTest::newRow("NaN is never met") << double(NAN) << 5.0 << true << "**missed** ([why](#why))";
}

void TestBenchSupport::verdicts() {
    QFETCH(double, value);
    QFETCH(double, limit);
    QFETCH(bool, measured);
    QFETCH(QString, expected);
    QCOMPARE(verdictText(figure(value, limit, measured)), expected);
}

void TestBenchSupport::tableEscapesCells() {
    Figure computed = figure(1, 1.24);
    computed.limitText = QStringLiteral("<= the bare slope + 0.10 (1.24)");
    const QString table = markdownTable({figure(1, 5), figure(9, 5), computed});
    const QStringList lines = table.trimmed().split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 5); // header, rule, three rows
    for (const QString &line : lines) {
        // Every row has exactly the table's seven bars; an escaped one is no column.
        QCOMPARE(QString(line).remove(QLatin1String("\\|")).count(QLatin1Char('|')), 7);
    }
    QVERIFY(lines[2].contains(QLatin1String("a \\| b")));
    QVERIFY(lines[2].contains(QLatin1String("| met |")));
    QVERIFY(lines[2].contains(QLatin1String("| <= 5.00 ms |")));
    QVERIFY(lines[3].contains(QLatin1String("**missed**")));
    QVERIFY(lines[4].contains(QLatin1String("| <= the bare slope + 0.10 (1.24) | met |")));
}

void TestBenchSupport::logAxis_data() {
    QTest::addColumn<QList<QPointF>>("points");
    QTest::addColumn<QPointF>("xRange");
    QTest::addColumn<QPointF>("yRange");
    QTest::newRow("spread over decades")
        << QList<QPointF>{{1024, 0.02}, {186368, 7.5}} << QPointF(1000, 1e6) << QPointF(0.01, 10);
    QTest::newRow("a power of ten gets a decade of its own")
        << QList<QPointF>{{100, 1}} << QPointF(100, 1000) << QPointF(1, 10);
    QTest::newRow("zeros and nothing else give a default")
        << QList<QPointF>{{0, 0}} << QPointF(1, 10) << QPointF(1, 10);
}

void TestBenchSupport::logAxis() {
    QFETCH(QList<QPointF>, points);
    QFETCH(QPointF, xRange);
    QFETCH(QPointF, yRange);
    const QList<Series> series{{QStringLiteral("s"), Qt::black, false, points}};
    const QPointF xs = decadeRange(series, true);
    const QPointF ys = decadeRange(series, false);
    QCOMPARE(xs, xRange);
    QCOMPARE(ys, yRange);
    for (const QPointF &p : points) {
        if (p.x() <= 0)
            continue;
        const double at = logPosition(p.x(), xs.x(), xs.y());
        QVERIFY(at >= 0 && at <= 1);
    }
    QCOMPARE(logPosition(1e3, 1e2, 1e4), 0.5);
    QCOMPARE(logPosition(0, 1, 10), 0.0); // no logarithm of zero
}

void TestBenchSupport::plotIsWritten() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("plot.png"));
    const QList<Panel> panels{
        {QStringLiteral("one"),
         {{QStringLiteral("tool"), Qt::red, false, {{1024, 0.01}, {186368, 1.5}}},
          {QStringLiteral("reference"), Qt::blue, true, {{1024, 0.001}, {186368, 0.002}}}}},
        {QStringLiteral("two"), {{QStringLiteral("save"), Qt::green, false, {{65536, 1e-4}}}}}};
    QVERIFY(writePlot(file, panels, QStringLiteral("caption")));
    QImage image(file);
    QVERIFY(!image.isNull());
    QCOMPARE(image.width(), 2 * 560);
    int coloured = 0;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            coloured += QColor(image.pixel(x, y)).saturation() > 100 ? 1 : 0;
    QVERIFY2(coloured > 100, "no curve drawn");
    QVERIFY(!writePlot(dir.filePath(QStringLiteral("no/such/folder/plot.png")), panels, QString()));
}

QTEST_MAIN(TestBenchSupport)
#include "tst_benchsupport.moc"
