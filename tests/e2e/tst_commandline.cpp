// The command line as a script runs it: the real program with no display, against the
// controller simulator over a pty. Each command with each outcome that gives an exit code;
// what it printed, the file it left, and the bytes that reached the controller.
#include "fakecomm.h"
#include "simprocess.h"

#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

namespace {

constexpr int kN1 = 3000;
const QByteArray kImage1 = randomBytes(kN1, 1);
const QByteArray kImage2 = randomBytes(186368, 2);
const QByteArray kOld = QByteArrayLiteral("the file that was there");
const QByteArray kChanged = [] { // image bytes 10 and 2000 differ
    QByteArray bytes = kImage1;
    bytes[9] = char(~bytes[9]);
    bytes[1999] = char(~bytes[1999]);
    return bytes;
}();

QByteArray acked(int n) {
    return "BU" + QByteArray(n, 'A');
}

} // namespace

struct CliCase {
    QStringList sim{};   // simulator options; empty: no simulator
    QByteArray served{}; // the image the simulator serves
    QStringList args{};  // "{dev}": the simulator's device, "{dir}": the case's folder
    QString portVia{};   // "env": STOWLINE_COM1 names the device; "settings": Ports/Com3 does
    QString inName{};    // a file in the folder before the run
    QByteArray inBytes{};
    int exit = 0;
    QString line{}; // a whole line of standard error; empty: nothing at all on it
    QString outName{};
    QByteArray outBytes{}; // null: the file must not exist
    QByteArray rx{};       // every byte the controller received
};
Q_DECLARE_METATYPE(CliCase)

class TestCommandLine : public QObject {
    Q_OBJECT

    struct Run {
        QTemporaryDir dir, simDir;
        std::unique_ptr<SimProcess> sim;
        QProcess cli;
        QString device;

        QString path(const QString &name) const { return dir.filePath(name); }
        QString rxPath() const { return simDir.filePath(QStringLiteral("rx.bin")); }

        bool start(const CliCase &c) {
            if (!c.sim.isEmpty()) {
                QStringList args = c.sim;
                args << QStringLiteral("--record-rx=") + rxPath();
                if (!c.served.isEmpty()) {
                    const QString image = simDir.filePath(QStringLiteral("image.bin"));
                    if (!writeAll(image, c.served))
                        return false;
                    args << QStringLiteral("--image=") + image;
                }
                sim = std::make_unique<SimProcess>(args);
                device = sim->device();
                if (device.isEmpty())
                    return false;
            } else {
                device = path(QStringLiteral("ttyGone")); // no such device
            }
            if (!c.inName.isEmpty() && !c.inBytes.isNull() && !writeAll(path(c.inName), c.inBytes))
                return false;
            // A script on a machine without a display: no display variables, its own settings.
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
                env.remove(QLatin1String(name));
            const QString config = simDir.filePath(QStringLiteral("config"));
            env.insert(QStringLiteral("XDG_CONFIG_HOME"), config);
            env.remove(QStringLiteral("STOWLINE_COM1"));
            if (c.portVia == QLatin1String("env"))
                env.insert(QStringLiteral("STOWLINE_COM1"), device);
            if (c.portVia == QLatin1String("settings")) {
                QDir().mkpath(config + QStringLiteral("/Stowline"));
                if (!writeAll(config + QStringLiteral("/Stowline/Stowline.conf"),
                              "[Ports]\nCom3=" + device.toLocal8Bit() + "\n"))
                    return false;
            }
            cli.setProcessEnvironment(env);
            cli.start(qEnvironmentVariable("STOWLINE_EXE"), expand(c.args));
            return cli.waitForStarted(5000);
        }
        QStringList expand(const QStringList &args) const {
            QStringList out;
            for (QString a : args)
                out << a.replace(QLatin1String("{dev}"), device)
                           .replace(QLatin1String("{dir}"), dir.path());
            return out;
        }
        // What reached the controller once it has read everything sent, and nothing after.
        QByteArray received(qsizetype expected) {
            QElapsedTimer waited;
            waited.start();
            while (readAll(rxPath()).size() < expected && waited.elapsed() < 20000)
                QTest::qWait(50);
            QTest::qWait(250);
            return readAll(rxPath());
        }
    };

private slots:
    void commands_data() {
        QTest::addColumn<CliCase>("c");
        const QStringList gen1{"--generation=1"}, gen2{"--generation=2"};
        const auto row = [](const char *name, const QStringList &sim, const QByteArray &served,
                            const QStringList &args, const char *portVia, const char *inName,
                            const QByteArray &inBytes, int exit, const QString &line,
                            const char *outName, const QByteArray &outBytes, const QByteArray &rx) {
            QTest::newRow(name) << CliCase{sim,  served, args,    portVia,  inName, inBytes,
                                           exit, line,   outName, outBytes, rx};
        };
        const QString noResponse =
            QStringLiteral("ERROR Message: Error : Controller Failed to respond, Check "
                           "Communications");

        // backup
        row("backup, port from the environment", gen1, kImage1,
            {"backup", "--port", "1", "-o", "{dir}/out.CCF"}, "env", {}, {}, 0,
            "Backup: 3000 bytes (first generation) from the Controller on {dev} saved to "
            "{dir}/out.CCF",
            "out.CCF", kImage1, acked(kN1));
        row("backup, second generation, port from the settings, quiet", gen2, kImage2,
            {"backup", "--port=3", "-o", "{dir}/out.SAV", "--quiet"}, "settings", {}, {}, 0, {},
            "out.SAV", kImage2, "B@?");
        row("backup onto an existing file", gen1, kImage1,
            {"backup", "--device", "{dev}", "-o", "{dir}/out.CCF"}, {}, "out.CCF", kOld, 5,
            "ERROR Message: Error : Cannot save {dir}/out.CCF: the file exists (--force "
            "replaces it)",
            "out.CCF", kOld, {});
        row("backup replacing a file with --force", gen1, kImage1,
            {"backup", "--device", "{dev}", "-o", "{dir}/out.CCF", "--force"}, "", "out.CCF", kOld,
            0,
            "Backup: 3000 bytes (first generation) from the Controller on {dev} saved to "
            "{dir}/out.CCF",
            "out.CCF", kImage1, acked(kN1));
        row("backup into a missing folder", gen1, kImage1,
            {"backup", "--device", "{dev}", "-o", "{dir}/none/out.CCF"}, {}, {}, {}, 5,
            "ERROR Message: Error : Cannot save {dir}/none/out.CCF: No such file or directory",
            "none", {}, {});
        row("backup from a missing device", {}, {},
            {"backup", "--device", "{dev}", "-o", "{dir}/out.CCF"}, {}, {}, {}, 2,
            "ERROR Message: Error : Cannot open {dev}: No such file or directory", "out.CCF", {},
            {});
        row("backup from a controller that falls silent", gen1 + QStringList{"--stop-after=100"},
            kImage1, {"backup", "--device", "{dev}", "-o", "{dir}/out.CCF"}, {}, {}, {}, 3,
            noResponse, "out.CCF", {}, acked(100));
        row("backup with a bad checksum", gen1 + QStringList{"--bad-checksum"}, kImage1,
            {"backup", "--device", "{dev}", "-o", "{dir}/out.CCF"}, {}, {}, {}, 4,
            "ERROR Message: Error : Bad Checksum", "out.CCF", {}, acked(kN1));
        row("backup without a file", {}, {}, {"backup", "--port", "1"}, {}, {}, {}, 1,
            "stowline: backup needs -o FILE", {}, {}, {});

        // restore
        row("restore, first generation", gen1, {}, {"restore", "--port", "1", "-i", "{dir}/in.CCF"},
            "env", "in.CCF", kImage1, 0,
            "Restore: 3000 bytes from {dir}/in.CCF written to the Controller on {dev}", "in.CCF",
            kImage1, "R" + littleEndian32(kN1) + kImage1);
        row("restore, second generation", gen2, {},
            {"restore", "--device", "{dev}", "-i", "{dir}/in.SAV", "-q"}, {}, "in.SAV", kImage2, 0,
            {}, "in.SAV", kImage2,
            "R" + littleEndian32(186368) + "@M@!" + kImage2 + char(xorOf(kImage2)));
        row("restore of a missing file", gen1, {},
            {"restore", "--device", "{dev}", "-i", "{dir}/in.CCF"}, {}, {}, {}, 5,
            "ERROR Message: Error : Cannot open {dir}/in.CCF: the file does not exist", "in.CCF",
            {}, {});
        row("restore of a wrong length to the second generation", gen2, {},
            {"restore", "--device", "{dev}", "-i", "{dir}/in.SAV"}, {}, "in.SAV", kImage1, 4,
            "ERROR Message: Error : Incorrect File Length", "in.SAV", kImage1,
            "R" + littleEndian32(kN1));
        row("restore with no answer to @M", gen2 + QStringList{"--silent-at=m-answer"}, {},
            {"restore", "--device", "{dev}", "-i", "{dir}/in.SAV"}, {}, "in.SAV", kImage2, 3,
            noResponse, "in.SAV", kImage2, "R" + littleEndian32(186368) + "@M");

        // verify
        row("verify, identical", gen1, kImage1,
            {"verify", "--device", "{dev}", "-i", "{dir}/in.CCF"}, {}, "in.CCF", kImage1, 0,
            "Verify: the Controller on {dev} holds {dir}/in.CCF, identical (3000 bytes)", "in.CCF",
            kImage1, acked(kN1));
        row("verify, different", gen1, kImage1,
            {"verify", "--device", "{dev}", "-i", "{dir}/in.CCF", "-q"}, {}, "in.CCF", kChanged, 6,
            "Verify: the Controller on {dev} differs from {dir}/in.CCF: 2 bytes differ, the "
            "first at byte 10; Controller 3000 bytes, file 3000 bytes",
            "in.CCF", kChanged, acked(kN1));
        row("verify on a port naming a missing device", {}, {},
            {"verify", "--port", "1", "-i", "{dir}/in.CCF"}, "env", "in.CCF", kImage1, 2,
            "ERROR Message: Error : Cannot open Com 1 ({dev}): No such file or directory", "in.CCF",
            kImage1, {});
        row("verify of a silent second generation", gen2 + QStringList{"--stop-after=0"}, kImage2,
            {"verify", "--device", "{dev}", "-i", "{dir}/in.SAV"}, {}, "in.SAV", kImage2, 3,
            noResponse, "in.SAV", kImage2, "B@?");

        // results on standard output
        row("ports as JSON", {}, {}, {"ports", "--json"}, {}, {}, {}, 0, {}, {}, {}, {});
    }

    void commands() {
        QFETCH(CliCase, c);
        Run r;
        QVERIFY(r.start(c));
        QVERIFY(r.cli.waitForFinished(60000));
        const QString out = QString::fromLocal8Bit(r.cli.readAllStandardOutput());
        const QString err = QString::fromLocal8Bit(r.cli.readAllStandardError());
        QVERIFY2(r.cli.exitStatus() == QProcess::NormalExit, qPrintable(err));
        QVERIFY2(r.cli.exitCode() == c.exit, qPrintable(QString::number(r.cli.exitCode()) + err));

        const QString line = r.expand({c.line}).first();
        if (line.isEmpty())
            QVERIFY2(err.isEmpty(), qPrintable(err));
        else
            QVERIFY2(err.split(QLatin1Char('\n')).contains(line), qPrintable(err));
        // Standard output carries results only.
        if (c.args.first() == QLatin1String("ports"))
            QVERIFY2(QJsonDocument::fromJson(out.toUtf8()).isArray(), qPrintable(out));
        else
            QCOMPARE(out, QString());

        // The file as expected, and no half-written one beside it.
        if (!c.outName.isEmpty()) {
            QCOMPARE(QFileInfo::exists(r.path(c.outName)), !c.outBytes.isNull());
            if (!c.outBytes.isNull())
                QCOMPARE(readAll(r.path(c.outName)), c.outBytes);
        }
        const QStringList left = QDir(r.dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot);
        QVERIFY2(left.size() <= 1, qPrintable(left.join(' ')));

        if (r.sim) {
            const QByteArray rx = r.received(c.rx.size());
            QCOMPARE(rx.size(), c.rx.size());
            QVERIFY(rx == c.rx);
        }
    }

    // Ctrl-C in the middle of a second-generation upload: the program ends at once, the port
    // is closed with nothing more sent, and no file is written or replaced.
    void interrupt_data() {
        QTest::addColumn<int>("signal");
        QTest::addColumn<bool>("oldFile");
        QTest::newRow("SIGINT over an old file with --force") << int(SIGINT) << true;
        QTest::newRow("SIGINT, no file before") << int(SIGINT) << false;
        QTest::newRow("SIGTERM") << int(SIGTERM) << false;
    }
    void interrupt() {
        QFETCH(int, signal);
        QFETCH(bool, oldFile);
        const CliCase c{.sim = {"--generation=2", "--rate=3000"},
                        .args = {"backup", "--device", "{dev}", "-o", "{dir}/out.SAV", "--force"},
                        .inName = oldFile ? "out.SAV" : "",
                        .inBytes = oldFile ? kOld : QByteArray()};
        Run r;
        QVERIFY(r.start(c));
        QString err;
        QElapsedTimer waited;
        waited.start();
        const QLatin1String uploading("Uploading Controller Configuration (186368 bytes)");
        while (!err.contains(uploading) && waited.elapsed() < 15000) {
            r.cli.waitForReadyRead(100);
            err += QString::fromLocal8Bit(r.cli.readAllStandardError());
        }
        QVERIFY2(err.contains(uploading), qPrintable(err));
        QTest::qWait(1000); // some 3000 bytes in
        QElapsedTimer took;
        took.start();
        ::kill(pid_t(r.cli.processId()), signal);
        QVERIFY(r.cli.waitForFinished(5000));
        QVERIFY2(took.elapsed() < 1000, qPrintable(QString::number(took.elapsed())));
        QCOMPARE(r.cli.exitCode(), 130);
        err += QString::fromLocal8Bit(r.cli.readAllStandardError());
        QVERIFY2(
            err.contains(QLatin1String("Interrupted: the port is closed; nothing was written")),
            qPrintable(err));
        QCOMPARE(QDir(r.dir.path()).entryList(QDir::Files),
                 oldFile ? QStringList{"out.SAV"} : QStringList());
        if (oldFile)
            QCOMPARE(readAll(r.path(QStringLiteral("out.SAV"))), kOld);
        QCOMPARE(r.received(3), QByteArray("B@?"));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
