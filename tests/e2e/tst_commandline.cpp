// The command line as a script runs it: the real program with no display, against the
// controller simulator over a pty. One outcome per exit code: what it printed, the file it
// left, and the bytes that reached the controller.
#include "fakeport.h"
#include "link/journal.h"
#include "simprocess.h"

#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QProcess>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <memory>

namespace {

const QByteArray kImage1 = randomBytes(3000, 1), kImage2 = randomBytes(186368, 2);
const QByteArray kOld = QByteArrayLiteral("the file that was there");
const QByteArray kAcked = "BU" + QByteArray(3000, 'A');
const QByteArray kChanged = [](QByteArray bytes) { // image bytes 10 and 2000 differ
    for (int i : {9, 1999})
        bytes[i] = char(~bytes[i]);
    return bytes;
}(kImage1);

} // namespace

struct CliCase {
    QStringList sim;   // simulator options; empty: no simulator
    QStringList args;  // "{dev}": the device of Com 1 and Com 3, "{dir}": the case's folder
    QByteArray before; // the file of -o or -i before the run; null: absent
    int exit;          // 130: SIGINT once the upload or download has run 2.5 s
    QString line;      // a whole line of standard error; empty: nothing at all on it
    QByteArray after;  // the file after the run, alone in its folder; null: absent
    QByteArray rx;     // every byte the controller received; 130: of which it got a part
};
Q_DECLARE_METATYPE(CliCase)

class TestCommandLine : public QObject {
    Q_OBJECT

private slots:
    void commands_data() {
        QTest::addColumn<CliCase>("c");
        const auto row = [](const char *name, const char *sim, const char *args,
                            const QByteArray &before, int exit, const char *line,
                            const QByteArray &after, const QByteArray &rx) {
            const QStringList simArgs = QString(sim).split(' ', Qt::SkipEmptyParts),
                              words = QString(args).split(' ');
            QTest::newRow(name) << CliCase{simArgs, words, before, exit, line, after, rx};
        };
        const char *noResponse =
            "ERROR Message: Error : Controller Failed to respond, Check Communications";
        const char *backup = "backup --device {dev} -o {dir}/out.CCF";
        row("0: backup over a file with --force, port from the environment", "--generation=1",
            "backup --port 1 -o {dir}/out.CCF --force", kOld, 0,
            "Backup: 3000 bytes (first generation) from the Controller on {dev} saved to "
            "{dir}/out.CCF",
            kImage1, kAcked);
        row("0: restore, second generation, port from the settings, quiet", "--generation=2",
            "restore --port=3 -i {dir}/in.SAV -q", kImage2, 0, "", kImage2,
            "R" + littleEndian32(186368) + "@M@!" + kImage2 + char(xorOf(kImage2)));
        row("0: verify, identical", "--generation=1", "verify --device {dev} -i {dir}/in.CCF",
            kImage1, 0,
            "Verify: the Controller on {dev} holds {dir}/in.CCF, identical (3000 bytes)", kImage1,
            kAcked);
        row("0: ports as JSON", "", "ports --json", {}, 0, "", {}, {});
        row("1: backup without a file", "", "backup --port 1", {}, 1,
            "stowline: backup needs -o FILE", {}, {});
        row("2: backup on a port naming a missing device", "", "backup --port 1 -o {dir}/out.CCF",
            {}, 2, "ERROR Message: Error : Cannot open Com 1 ({dev}): No such file or directory",
            {}, {});
        row("3: backup from a controller that falls silent", "--generation=1 --stop-after=100",
            backup, {}, 3, noResponse, {}, "BU" + QByteArray(100, 'A'));
        row("4: backup with a bad checksum", "--generation=1 --bad-checksum", backup, {}, 4,
            "ERROR Message: Error : Bad Checksum", {}, kAcked);
        row("5: backup onto an existing file", "--generation=1", backup, kOld, 5,
            "ERROR Message: Error : Cannot save {dir}/out.CCF: the file exists (--force replaces "
            "it)",
            kOld, {});
        row("6: verify, different", "--generation=1", "verify --device {dev} -i {dir}/in.CCF -q",
            kChanged, 6,
            "Verify: the Controller on {dev} differs from {dir}/in.CCF: 2 bytes differ, the first "
            "at byte 10; Controller 3000 bytes, file 3000 bytes",
            kChanged, kAcked);
        // Ctrl-C in a second-generation upload: the port closed with nothing more sent, no file
        // written or replaced, nothing half-written beside it.
        // A line's pace: past the 2-s limit of a controller that fell silent.
        row("130: SIGINT during a backup over a file with --force", "--generation=2 --rate=960",
            "backup --device {dev} -o {dir}/out.SAV --force", kOld, 130,
            "Interrupted: the port is closed; nothing was written", kOld, "B@?");
        // Ctrl-C in a second-generation download: the Restore's stream cut short.
        row("130: SIGINT during a restore", "--generation=2 --rate=3000",
            "restore --device {dev} -i {dir}/in.SAV", kImage2, 130,
            "Interrupted: the port is closed; the Controller may hold an incomplete configuration",
            kImage2, "R" + littleEndian32(186368) + "@M@!" + kImage2 + char(xorOf(kImage2)));
    }

    void commands() {
        QFETCH(CliCase, c);
        QTemporaryDir dir, simDir;
        const QString rx = simDir.filePath("rx"), image = simDir.filePath("image"),
                      config = simDir.filePath("config");
        std::unique_ptr<SimProcess> sim;
        QString device = dir.filePath("ttyGone"); // no such device
        if (!c.sim.isEmpty()) { // serving kImage1, or kImage2 as the second generation
            QVERIFY(writeAll(image, c.sim.contains("--generation=2") ? kImage2 : kImage1));
            sim = std::make_unique<SimProcess>(c.sim << "--record-rx=" + rx << "--image=" + image);
            device = sim->device();
        }
        for (QString &text : c.args << c.line)
            text.replace("{dev}", device).replace("{dir}", dir.path());
        c.line = c.args.takeLast();
        const qsizetype at = std::max(c.args.indexOf("-o"), c.args.indexOf("-i"));
        const QString file = at > 0 ? c.args.value(at + 1) : QString();
        QVERIFY(c.before.isNull() || writeAll(file, c.before));
        // A script on a machine without a display: no display variables, its own settings.
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        env.insert("XDG_CONFIG_HOME", config);
        env.insert("STOWLINE_COM1", device);
        QVERIFY(QDir().mkpath(config + "/Stowline") &&
                writeAll(config + "/Stowline/Stowline.conf", "[Ports]\nCom3=" + device.toUtf8()));
        QProcess cli;
        cli.setProcessEnvironment(env);
        cli.start(qEnvironmentVariable("STOWLINE_EXE"), c.args);
        QString err;
        qsizetype atStop = -1;
        QElapsedTimer waited;
        waited.start();
        if (c.exit == 130) {
            const QLatin1String moving("Controller Configuration (186368 bytes)");
            for (; !err.contains(moving) && waited.elapsed() < 15000; cli.waitForReadyRead(100))
                err += QString::fromLocal8Bit(cli.readAllStandardError());
            QVERIFY2(err.contains(moving), qPrintable(err));
            QTest::qWait(2500);
            QVERIFY2(cli.state() == QProcess::Running, qPrintable(err)); // pid 0 is our group
            waited.start();
            ::kill(pid_t(cli.processId()), SIGINT);
            atStop = readAll(rx).size();
        }
        QVERIFY(cli.waitForFinished(60000));
        if (c.exit == 130) // the stop wakes the job at once
            QVERIFY2(waited.elapsed() < 250, qPrintable(QString::number(waited.elapsed())));
        const QString out = QString::fromLocal8Bit(cli.readAllStandardOutput());
        err += QString::fromLocal8Bit(cli.readAllStandardError());
        QVERIFY2(cli.exitStatus() == QProcess::NormalExit && cli.exitCode() == c.exit,
                 qPrintable(QString::number(cli.exitCode()) + err));
        QVERIFY2(c.line.isEmpty() ? err.isEmpty() : err.split('\n').contains(c.line),
                 qPrintable(err));
        // Standard output carries results only.
        QVERIFY2(c.args.first() == "ports" ? QJsonDocument::fromJson(out.toUtf8()).isArray()
                                           : out.isEmpty(),
                 qPrintable(out));

        // The file as expected, and nothing beside it.
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files),
                 c.after.isNull() ? QStringList() : QStringList{QFileInfo(file).fileName()});
        QVERIFY(c.after.isNull() || readAll(file) == c.after);
        // What reached the controller once it has read everything sent, and nothing after.
        for (qsizetype seen = -1; sim && readAll(rx).size() != seen; QTest::qWait(250))
            seen = readAll(rx).size();
        // After a stop only what the system had already taken drains: at most a
        // pseudo-terminal's 4 KB and the port's 512 bytes.
        const QByteArray got = readAll(rx);
        QVERIFY2(
            !sim || (c.exit == 130 ? c.rx.startsWith(got) && got.size() >= atStop &&
                                         got.size() <= atStop + 4096 + 512
                                   : got == c.rx),
            qPrintable(QStringLiteral("%1 bytes, %2 at the stop").arg(got.size()).arg(atStop)));
    }

    // One journal line a try, whose hash is that of the image moved (read, or sent); --json
    // prints the last one as it is.
    void journal_data() {
        QTest::addColumn<QString>("sim");
        QTest::addColumn<QString>("args");  // {dev}, {dir} as above
        QTest::addColumn<int>("exit");      // 130: SIGINT once the upload runs
        QTest::addColumn<QString>("lines"); // "<command> <outcome> <hash of: image|none>" a try
        QTest::newRow("backup") << "--generation=1"
                                << "backup --device {dev} -o {dir}/out.CCF" << 0
                                << "backup succeeded image";
        QTest::newRow("restore") << "--generation=1"
                                 << "restore --device {dev} -i {dir}/in.CCF" << 0
                                 << "restore succeeded image";
        QTest::newRow("verify") << "--generation=1"
                                << "verify --device {dev} -i {dir}/in.CCF" << 0
                                << "verify succeeded image";
        QTest::newRow("silent, tried twice")
            << "--generation=1 --stop-after=100 --give-up-after=1"
            << "backup --device {dev} -o {dir}/out.CCF --retries 1" << 3
            << "backup no-response none|backup no-response none";
        QTest::newRow("checksum refused")
            << "--generation=1 --bad-checksum"
            << "verify --device {dev} -i {dir}/in.CCF" << 4 << "verify refused image";
        QTest::newRow("stopped") << "--generation=2 --rate=3000"
                                 << "backup --device {dev} -o {dir}/out.SAV" << 130
                                 << "backup stopped none";
    }
    void journal() {
        QFETCH(QString, sim);
        QFETCH(QString, args);
        QFETCH(QString, lines);
        QTemporaryDir dir;
        const QByteArray image = sim.contains("--generation=2") ? kImage2 : kImage1;
        QVERIFY(writeAll(dir.filePath("in.CCF"), image));
        SimProcess controller(sim.split(' ') << "--image=" + dir.filePath("in.CCF"));
        QProcess cli;
        cli.setProcessEnvironment(scriptEnvironment(dir.path()));
        cli.start(
            qEnvironmentVariable("STOWLINE_EXE"),
            (args.replace("{dev}", controller.device()).replace("{dir}", dir.path()) + " --json")
                .split(' '));
        if (QTest::currentDataTag() == QLatin1String("stopped")) {
            QByteArray err;
            QTRY_VERIFY_WITH_TIMEOUT((err += cli.readAllStandardError()).contains("Uploading"),
                                     15000);
            QTest::qWait(500);
            ::kill(pid_t(cli.processId()), SIGINT);
        }
        QVERIFY(cli.waitForFinished(30000));
        QTEST(cli.exitCode(), "exit");

        const QList<QByteArray> written =
            readAll(dir.filePath("data/Stowline/journal.jsonl")).split('\n');
        QStringList got;
        QJsonObject last;
        for (const QByteArray &line : written.first(written.size() - 1)) {
            last = QJsonDocument::fromJson(line).object();
            const QString sha = last.value("sha256").toString();
            got << QStringList{last.value("command").toString(), last.value("outcome").toString(),
                               sha.isEmpty() ? "none"
                               : sha == QCryptographicHash::hash(image, QCryptographicHash::Sha256)
                                            .toHex()
                                   ? "image"
                                   : sha}
                       .join(' ');
        }
        QCOMPARE(got.join('|'), lines);
        QCOMPARE(written.last(), QByteArray()); // whole lines only
        const QByteArray out = cli.readAllStandardOutput();
        QCOMPARE(QJsonDocument::fromJson(out).object(), last);
        QCOMPARE(out.count('\n'), 1);
    }

private:
    static QProcessEnvironment scriptEnvironment(const QString &dir) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        for (const char *name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"})
            env.remove(QLatin1String(name));
        env.insert("XDG_CONFIG_HOME", dir + "/config");
        env.insert("XDG_DATA_HOME", dir + "/data");
        return env;
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "tst_commandline.moc"
