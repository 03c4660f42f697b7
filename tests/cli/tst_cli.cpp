// The command line's plain code: which arguments it takes, how progress reads and when it is
// written, and how a difference is counted.
#include "cli.h"

#include <QtTest>

using Cli::Command;

Q_DECLARE_METATYPE(Cli::Command)
Q_DECLARE_METATYPE(Cli::ProgressMeter::Style)

class TestCli : public QObject {
    Q_OBJECT

private slots:
    void parse_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<bool>("forCli");   // the command line rather than the window
        QTest::addColumn<QString>("error"); // part of the usage error; empty: accepted
        QTest::addColumn<Command>("command");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("device");
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("flags"); // f force, q quiet, j json

        const auto ok = [](const char *name, const QStringList &args, Command c, int port,
                           const QString &device, const QString &file, const char *flags = "") {
            QTest::newRow(name) << args << true << QString() << c << port << device << file
                                << QString::fromLatin1(flags);
        };
        const auto bad = [](const char *name, const QStringList &args, const char *error) {
            QTest::newRow(name) << args << true << QString::fromLatin1(error) << Command::Help << 0
                                << QString() << QString() << QString();
        };
        ok("backup port", {"backup", "--port", "2", "-o", "a.CCF"}, Command::Backup, 2, {},
           "a.CCF");
        ok("backup all forms", {"backup", "--port=4", "--output=a b.SAV", "--force", "-q"},
           Command::Backup, 4, {}, "a b.SAV", "fq");
        ok("restore device", {"restore", "--device", "/dev/ttyUSB0", "-i", "x.SAV"},
           Command::Restore, 0, "/dev/ttyUSB0", "x.SAV");
        ok("verify device=", {"verify", "--input", "x.CCF", "--device=COM7", "--quiet"},
           Command::Verify, 0, "COM7", "x.CCF", "q");
        ok("ports json", {"ports", "--json"}, Command::Ports, 0, {}, {}, "j");
        ok("help after errors", {"backup", "--bogus", "--help"}, Command::Help, 0, {}, {});
        ok("version", {"--version"}, Command::Version, 0, {}, {});
        ok("file named -h", {"restore", "-i", "-h", "--port", "1"}, Command::Restore, 1, {}, "-h");
        bad("port and device", {"backup", "--port", "1", "--device", "/dev/x", "-o", "a"},
            "one --port or one --device");
        bad("no port", {"restore", "-i", "a.CCF"}, "needs --port N or --device PATH");
        bad("port 0", {"backup", "--port", "0", "-o", "a"}, "1 to 255");
        bad("port not a number", {"backup", "--port", "COM1", "-o", "a"}, "1 to 255");
        bad("no output", {"backup", "--port", "1"}, "needs -o FILE");
        bad("output on restore", {"restore", "--port", "1", "-o", "a"}, "'-o' is not an option");
        bad("force on verify", {"verify", "--port", "1", "-i", "a", "--force"},
            "'--force' is not an option");
        bad("port on ports", {"ports", "--port", "1"}, "'--port' is not an option of ports");
        bad("value missing", {"backup", "--port", "1", "-o"}, "-o needs a value");
        bad("two files", {"restore", "--port", "1", "-i", "a", "-i", "b"}, "one file");

        for (const QStringList &args : {QStringList{}, QStringList{"config.SAV"},
                                        QStringList{"--port", "1"}, QStringList{"Backup"}})
            QTest::newRow(qPrintable("window: " + args.join(' ')))
                << args << false << QString() << Command::Help << 0 << QString() << QString()
                << QString();
    }
    void parse() {
        QFETCH(QStringList, args);
        QFETCH(bool, forCli);
        QFETCH(QString, error);
        QCOMPARE(Cli::wantsCommandLine(args), forCli);
        if (!forCli)
            return;
        const Cli::Options o = Cli::parse(args);
        if (!error.isEmpty()) {
            QVERIFY2(o.error.contains(error), qPrintable(o.error));
            return;
        }
        QCOMPARE(o.error, QString());
        QTEST(o.command, "command");
        QTEST(int(o.port), "port");
        QTEST(o.device, "device");
        QTEST(o.file, "file");
        QString flags;
        flags += o.force ? "f" : "";
        flags += o.quiet ? "q" : "";
        flags += o.json ? "j" : "";
        QTEST(flags, "flags");
    }

    void compare_data() {
        QTest::addColumn<QByteArray>("controller");
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<qint64>("differing");
        QTest::addColumn<qint64>("first");
        QTest::newRow("identical") << QByteArray("abcdef") << QByteArray("abcdef") << 0LL << 0LL;
        QTest::newRow("first byte") << QByteArray("xbcdef") << QByteArray("abcdef") << 1LL << 1LL;
        QTest::newRow("two, last") << QByteArray("abXdeY") << QByteArray("abcdef") << 2LL << 3LL;
        QTest::newRow("file shorter") << QByteArray("abcdef") << QByteArray("abcd") << 2LL << 5LL;
        QTest::newRow("controller shorter and different")
            << QByteArray("aXc") << QByteArray("abcdef") << 4LL << 2LL;
        QTest::newRow("zero bytes count")
            << QByteArray(3, '\0') << QByteArray("\0\0\1", 3) << 1LL << 3LL;
    }
    void compare() {
        QFETCH(QByteArray, controller);
        QFETCH(QByteArray, file);
        const Cli::Difference d = Cli::compare(controller, file);
        QTEST(d.differing, "differing");
        QTEST(d.first, "first");
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
        QTest::newRow("end") << 186368LL << 186368LL << 194.0
                             << "100%  186368 bytes  961 B/s  0:00 left";
    }
    void progressText() {
        QFETCH(qint64, value);
        QFETCH(qint64, max);
        QFETCH(double, seconds);
        QTEST(Cli::progressText(value, 0, max, qint64(seconds * 1e9)), "text");
    }

    // 1000 values over 10 s, one every 10 ms: how many writes each style makes.
    void meter_data() {
        QTest::addColumn<Cli::ProgressMeter::Style>("style");
        QTest::addColumn<int>("writes");
        QTest::addColumn<int>("lineEnds");
        QTest::newRow("lines: one per tenth") << Cli::ProgressMeter::Style::Lines << 10 << 10;
        // Every percent, never more than five a second, and one newline that closes it.
        QTest::newRow("terminal: every percent") << Cli::ProgressMeter::Style::Terminal << 101 << 1;
        QTest::newRow("quiet") << Cli::ProgressMeter::Style::Silent << 0 << 0;
    }
    void meter() {
        QFETCH(Cli::ProgressMeter::Style, style);
        Cli::ProgressMeter meter(style);
        meter.range(0, 999, 0);
        int writes = 0;
        QString all;
        for (qint64 v = 0; v <= 999; ++v) {
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
