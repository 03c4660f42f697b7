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
        row("frobnicate", "(the commands are backup, restore, verify, ports, history and diff)",
            false);
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

    void scriptOptions_data() {
        QTest::addColumn<QString>("args");
        QTest::addColumn<QString>("want"); // the new options, or part of the usage error
        const auto row = [](const char *args, const char *want) {
            QTest::newRow(args) << QString::fromUtf8(args) << QString::fromUtf8(want);
        };
        row("backup --serial FT1 -o a.CCF --retries 2 --json", "serial=FT1 retries=2 json");
        row("verify --device auto -i a.CCF --retries=0", "device=auto");
        row("history -n 5 --json", "newest=5 json");
        row("history", "newest=20");
        row("diff a.CCF b.CCF", "files=a.CCF,b.CCF");
        row("diff a.CCF", "diff needs two files");
        row("restore --port 1 -i a.CCF --retries 1", "'--retries' is not an option of restore");
        row("backup --port 1 --serial FT1 -o a.CCF", "give one --port, --device or --serial");
        row("backup -o a.CCF", "backup needs --port N, --device PATH or --serial SN");
    }
    void scriptOptions() {
        QFETCH(QString, args);
        QFETCH(QString, want);
        const Cli::Options o = Cli::parse(args.split(' '));
        const QString got =
            !o.error.isEmpty()
                ? o.error
                : QStringLiteral("%1%2%3%4%5%6")
                      .arg(o.serial.isEmpty() ? "" : "serial=" + o.serial + ' ',
                           o.device.isEmpty() ? "" : "device=" + o.device + ' ',
                           o.retries ? QString("retries=%1 ").arg(o.retries) : "",
                           o.command == Cli::Command::History ? QString("newest=%1 ").arg(o.newest)
                                                              : "",
                           o.files.isEmpty() ? "" : "files=" + o.files.join(',') + ' ',
                           o.json ? "json" : "")
                      .trimmed();
        QVERIFY2(o.error.isEmpty() ? got == want : got.contains(want), qPrintable(got));
    }

    // --serial and --device auto through the inventory: the one port that fits, or why none
    // does, with what is there.
    void chooseAdapter_data() {
        QTest::addColumn<QString>("args");
        QTest::addColumn<int>("adapters"); // USB adapters present: FT10, FT11, ...
        QTest::addColumn<QString>("want"); // the device, or the first line of the error
        QTest::newRow("auto, one") << "--device auto" << 1 << "/dev/ttyUSB0";
        QTest::newRow("auto, none")
            << "--device auto" << 0 << "--device auto: no USB serial adapter is present";
        QTest::newRow("auto, several")
            << "--device auto" << 2
            << "--device auto: 2 USB serial adapters are present; choose one with --serial SN";
        QTest::newRow("serial, present") << "--serial FT11" << 3 << "/dev/ttyUSB1";
        QTest::newRow("serial, absent")
            << "--serial FT9" << 2 << "--serial FT9: no port has that serial number";
        QTest::newRow("serial, on a port without USB")
            << "--serial S0" << 2
            << "--serial S0: 2 ports have that serial number; name the device with --device";
    }
    void chooseAdapter() {
        QFETCH(QString, args);
        QFETCH(int, adapters);
        const PortInventory inventory = [adapters] {
            QList<SerialPortEntry> ports{{"/dev/ttyS0", {}, {}, "S0", 0, 0, {}},
                                         {"/dev/ttyS1", {}, {}, "S0", 0, 0, {}}};
            for (int i = 0; i < adapters; ++i) {
                const QString n = QString::number(i);
                ports.append({"/dev/ttyUSB" + n, "FT232R", "FTDI", "FT1" + n, 0x0403, 0x6001, {}});
            }
            return ports;
        };
        const Cli::Options o = Cli::parse(("backup -o a.CCF " + args).split(' '));
        QString error;
        const QString device = Cli::chooseAdapter(o, inventory, &error);
        QTEST(device.isEmpty() ? error.section('\n', 0, 0) : device, "want");
        // The error lists every port there is.
        QCOMPARE(error.count('\n'), device.isEmpty() ? 3 + adapters : 0);
    }

    // A silent controller or a refused checksum is tried again, up to --retries more times;
    // anything else, or a pause called off, ends it.
    void retries_data() {
        QTest::addColumn<QString>("ends"); // of the tries the controller gives, in order
        QTest::addColumn<int>("retries");
        QTest::addColumn<int>("tries");
        QTest::newRow("silent, then read") << "silent read" << 3 << 2;
        QTest::newRow("silent beyond the retries") << "silent checksum silent read" << 2 << 3;
        QTest::newRow("no retries") << "silent read" << 0 << 1;
        QTest::newRow("refused otherwise") << "length read" << 3 << 1;
        QTest::newRow("open failed") << "open read" << 3 << 1;
        QTest::newRow("pause called off") << "silent stop read" << 3 << 2;
    }
    void retries() {
        QFETCH(QString, ends);
        QFETCH(int, retries);
        const QStringList script = ends.split(' ');
        int tries = 0, pauses = 0;
        const JobResult last = Cli::withRetries(
            retries,
            [&] {
                const QString end = script.value(tries++);
                JobResult r;
                r.outcome = end == "silent"                        ? Outcome::NoResponse
                            : end == "checksum" || end == "length" ? Outcome::Refused
                            : end == "open"                        ? Outcome::OpenFailed
                                                                   : Outcome::Succeeded;
                r.boxText = end == "checksum" ? "Error : Bad Checksum"
                            : end == "length" ? "Error : Incorrect File Length"
                                              : "";
                return r;
            },
            [&](const JobResult &) { return script.value(tries + pauses++ - 1) != "stop"; });
        QTEST(tries, "tries");
        QCOMPARE(pauses, tries - 1 + (script.value(tries) == "stop" ? 1 : 0));
        QCOMPARE(Cli::worthRetrying(last), tries == retries + 1 || script.value(tries) == "stop");
    }

    // diff's report, and the stretches verify prints: offsets from 1, the bytes past the
    // shorter image's end one stretch with any that runs into them, 20 at most.
    void diffText_data() {
        QTest::addColumn<QByteArray>("b"); // against 40 bytes of "a"
        QTest::addColumn<QString>("text");
        const QByteArray a(40, 'a');
        const auto with = [&a](std::initializer_list<int> at, qsizetype size = 40) {
            QByteArray b = a.left(size) + QByteArray(qMax<qsizetype>(size - 40, 0), 'x');
            for (int i : at)
                b[i - 1] = 'b';
            return b;
        };
        const QString head = QStringLiteral("A: 40 bytes\nB: %1 bytes\n");
        QTest::newRow("identical") << a << head.arg(40) + "identical\n";
        QTest::newRow("one byte") << with({1})
                                  << head.arg(40) + "1 byte differs\n  1\u20131 (1 byte)\n";
        QTest::newRow("runs and a longer end")
            << with({3, 4, 5, 9, 40}, 42)
            << head.arg(42) + "7 bytes differ\n  3\u20135 (3 bytes)\n  9\u20139 (1 byte)\n"
                              "  40\u201342 (3 bytes)\n";
        QTest::newRow("shorter") << with({}, 38)
                                 << head.arg(38) + "2 bytes differ\n  39\u201340 (2 bytes)\n";
        QByteArray many = a;
        for (int i = 0; i < 40; i += 2)
            many[i] = 'b';
        QTest::newRow("more than 20 stretches")
            << many + "x"
            << head.arg(41) + "21 bytes differ\n" + runs20() + "  and more after these\n";
    }
    void diffText() {
        QFETCH(QByteArray, b);
        QTEST(Cli::diffText("A", QByteArray(40, 'a'), "B", b), "text");
    }

private:
    static QString runs20() {
        QString text;
        for (int i = 1; i < 40; i += 2)
            text += QStringLiteral("  %1\u2013%1 (1 byte)\n").arg(i);
        return text;
    }
    // ---- end of journal, scripts and many adapters ----------------------------------------
};

QTEST_APPLESS_MAIN(TestCli)
#include "tst_cli.moc"
