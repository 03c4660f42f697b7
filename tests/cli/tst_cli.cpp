// The command line's plain code: which arguments it takes, how progress reads and when it is
// written, and how a difference is counted.
#include "app/cli/commandline.h"

#include <QtTest>

Q_DECLARE_METATYPE(Cli::ProgressMeter::Style)

namespace {

QString summary(const Cli::Options &o) {
    if (!o.error.isEmpty())
        return QStringLiteral("error: ") + o.error;
    static const char *const names[] = {"backup", "restore", "verify", "ports", "help", "version"};
    return QStringLiteral("%1 port=%2 device=%3 file=%4%5%6")
        .arg(QLatin1String(names[int(o.command)]))
        .arg(o.port)
        .arg(o.device, o.file, QLatin1String(o.force ? " force" : ""),
             QLatin1String(o.quiet ? " quiet" : ""));
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void parse_data() {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("want"); // "window", "no display", options, or usage error part
        QTest::addColumn<bool>("display");
        const auto row = [](const char *args, const char *want, bool display = true) {
            QTest::newRow(QByteArray(*args ? args : "no arguments") +
                          (display ? "" : ", no display"))
                << QString::fromUtf8(args) << QString::fromUtf8(want) << display;
        };
        row("backup --port=4 --output=a.SAV --force -q",
            "backup port=4 device= file=a.SAV force quiet");
        row("verify --input x.CCF --device=COM7 --quiet",
            "verify port=0 device=COM7 file=x.CCF quiet");
        row("restore -i -h --port 1", "restore port=1 device= file=-h");
        row("backup --bogus --help", "help port=0 device= file=");
        row("", "window");
        row("config.SAV", "window");
        row("frobnicate", "(the commands are backup, restore, verify and ports)", false);
        row("/dev/null", "no display", false); // a file to open
        row("", "no display", false);
    }
    void parse() {
        QFETCH(QString, args);
        QFETCH(QString, want);
        QFETCH(bool, display);
        const QStringList list = args.split(' ', Qt::SkipEmptyParts);
        const Cli::Start start = Cli::start(list, display);
        const QString got = start == Cli::Start::Window      ? QStringLiteral("window")
                            : start == Cli::Start::NoDisplay ? QStringLiteral("no display")
                                                             : summary(Cli::parse(list));
        QVERIFY2(got == want || (got.startsWith(QLatin1String("error: ")) && got.contains(want)),
                 qPrintable(got));
    }

    void progressText_data() {
        QTest::addColumn<qint64>("value");
        QTest::addColumn<qint64>("max");
        QTest::addColumn<double>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("too early for a rate") << 960LL << 186368LL << 0.2 << "  0%  960 bytes";
        QTest::newRow("9600 baud")
            << 93184LL << 186368LL << 97.0667 << " 50%  93184 bytes  960 B/s  1:37 left";
        QTest::newRow("hours") << 1000LL << 4000000LL << 10.0
                               << "  0%  1000 bytes  100 B/s  11:06:30 left";
    }
    void progressText() {
        QFETCH(qint64, value);
        QFETCH(qint64, max);
        QFETCH(double, seconds);
        QTEST(Cli::progressText(value, 0, max, qint64(seconds * 1e9)), "text");
    }

    // 1000 values over 10 s, one every 10 ms: how many writes each style makes. A status line
    // (at the first value in a second-generation upload) never ends the meter.
    void meter_data() {
        QTest::addColumn<Cli::ProgressMeter::Style>("style");
        QTest::addColumn<int>("statusAt"); // -1: none
        QTest::addColumn<int>("writes");
        QTest::addColumn<int>("lineEnds");
        using S = Cli::ProgressMeter::Style;
        QTest::newRow("lines: one per tenth") << S::Lines << -1 << 10 << 10;
        QTest::newRow("lines: status first") << S::Lines << 0 << 10 << 11;
        // Every percent, never more than five a second, and one newline that closes it.
        QTest::newRow("terminal: every percent") << S::Terminal << -1 << 101 << 1;
        QTest::newRow("terminal: status midway") << S::Terminal << 500 << 101 << 3;
    }
    void meter() {
        QFETCH(Cli::ProgressMeter::Style, style);
        QFETCH(int, statusAt);
        Cli::ProgressMeter meter(style);
        meter.range(0, 999, 0);
        int writes = 0;
        QString all;
        for (qint64 v = 0; v <= 999; ++v) {
            if (v == statusAt)
                all += meter.line(QStringLiteral("Uploading"));
            const QString text = meter.update(v, v * 10'000'000);
            writes += text.isEmpty() ? 0 : 1;
            all += text;
        }
        all += meter.end();
        QCOMPARE(meter.end(), QString()); // a closed line is not closed twice
        QTEST(writes, "writes");
        QTEST(int(all.count(QLatin1Char('\n'))), "lineEnds");
        // On a terminal every write redraws the one line in place.
        QCOMPARE(int(all.count(QLatin1Char('\r'))),
                 style == Cli::ProgressMeter::Style::Terminal ? writes : 0);
    }
};

QTEST_APPLESS_MAIN(TestCli)
#include "tst_cli.moc"
