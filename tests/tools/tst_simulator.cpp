// The controller simulator, driven over its pseudo-terminal as the tool would drive it.
#include "../e2e/simprocess.h"
#include "fakecomm.h"

#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

constexpr int kImage2 = 186368;
const QByteArray kAbc("abc");
const QByteArray kLen3 = littleEndian32(3);
const QByteArray kGen2Image = randomBytes(kImage2, 13);

// A raw termios client on the simulator's device.
class Sim {
public:
    explicit Sim(const QStringList &args) : process(args) {
        fd_ =
            ::open(QFile::encodeName(process.device()).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    }
    ~Sim() { closeClient(); }
    bool ok() { return fd_ >= 0 && setBaud(B9600); }

    bool setBaud(speed_t speed) {
        termios t{};
        if (::tcgetattr(fd_, &t) != 0)
            return false;
        ::cfmakeraw(&t);
        ::cfsetispeed(&t, speed);
        ::cfsetospeed(&t, speed);
        return ::tcsetattr(fd_, TCSANOW, &t) == 0;
    }

    void send(const QByteArray &bytes) {
        for (qsizetype done = 0; done < bytes.size();) {
            const ssize_t n = ::write(fd_, bytes.constData() + done, size_t(bytes.size() - done));
            if (n > 0) {
                done += n;
            } else if (n < 0 && errno == EAGAIN) {
                pollfd p{fd_, POLLOUT, 0};
                ::poll(&p, 1, 1000);
            } else {
                return;
            }
        }
    }

    // Up to `count` bytes; fewer when the line stays quiet for `quietMs` or hangs up.
    QByteArray read(qsizetype count, int quietMs = 2000) {
        QByteArray bytes;
        char buffer[65536];
        while (bytes.size() < count) {
            pollfd p{fd_, POLLIN, 0};
            if (::poll(&p, 1, quietMs) <= 0)
                break;
            const ssize_t n =
                ::read(fd_, buffer, size_t(qMin<qsizetype>(count - bytes.size(), 65536)));
            if (n > 0) {
                bytes.append(buffer, n);
            } else if (n == 0 || errno != EAGAIN) {
                hungUp = true;
                break;
            }
        }
        return bytes;
    }
    bool quietFor(int ms) { return read(1, ms).isEmpty(); }

    void closeClient() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

    SimProcess process;
    bool hungUp = false;

private:
    int fd_ = -1;
};

} // namespace

class SimulatorTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString path(const QString &name) const { return dir_.filePath(name); }
    QString imageFile(const QByteArray &bytes) {
        const QString file = path(QStringLiteral("image-%1.img").arg(bytes.size()));
        return writeAll(file, bytes) ? file : QString();
    }

private slots:
    // The image served is "abc" for the first generation and kGen2Image for the second.
    void exchange_data() {
        QTest::addColumn<int>("generation");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");    // and nothing more
        QTest::addColumn<QByteArray>("recorded"); // the image it keeps; null: not looked at

        const auto row = [](const char *name, int generation, const QStringList &options,
                            const QByteArray &sent, const QByteArray &reply,
                            const QByteArray &recorded = {}) {
            QTest::newRow(name) << generation << options << sent << reply << recorded;
        };
        const QByteArray zero(1, '\0');
        row("1: backup", 1, {}, "BUAAA", kLen3 + kAbc + '\x60');
        row("1: announced shorter", 1, {"--length=2"}, "BUAA",
            littleEndian32(2) + "ab" + char('a' ^ 'b'));
        row("1: announced longer: silent when the image runs out", 1, {"--length=5"}, "BUAAA",
            littleEndian32(5) + kAbc);
        row("1: restore", 1, {}, "R" + kLen3 + kAbc, "U\x60", kAbc);
        row("1: prefix before U", 1, {"--u-prefix=xyz"}, "R" + kLen3 + kAbc, "xyzU\x60", kAbc);
        row("1: short probe", 1, {"--short-probe"}, "B", kLen3.left(3));
        row("1: long probe", 1, {"--long-probe"}, "B", kLen3 + zero);
        row("1: second-generation commands", 1, {}, "@?@M@!", "");
        row("1: a new probe ends a half-done upload", 1, {}, "BUB", kLen3 + "a" + kLen3);
        row("1: length bytes are no commands", 1, {"--silent-at=u-reply"}, "RBBBBB", kLen3);

        const QByteArray sum(1, char(xorOf(kGen2Image)));
        const QByteArray restore2 = "@M@!" + kGen2Image;
        row("2: backup, one trailing zero", 2, {}, "@?", kGen2Image + zero);
        row("2: no trailing byte", 2, {"--trailing=0"}, "@?", kGen2Image);
        row("2: three trailing bytes", 2, {"--trailing=3"}, "@?", kGen2Image + zero + zero + zero);
        row("2: restore, good checksum", 2, {}, restore2 + sum, "KY", kGen2Image);
        row("2: restore, bad checksum", 2, {}, restore2 + char(sum[0] ^ 1), "KN", kGen2Image);
        row("2: zero answer to @M", 2, {"--m-answer=00"}, "@M", zero);
        row("2: forced verdict", 2, {"--verdict=0x41"}, restore2 + sum, "KA");
        row("2: probe and restore request ignored", 2, {}, "BR" + kLen3, "");
        row("2: length bytes are no commands", 2, {}, "R@?@M@M", "K");
        row("2: repeated @", 2, {}, "@@M", "K");
    }
    void exchange() {
        QFETCH(int, generation);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, recorded);
        const QString record = path(QStringLiteral("recorded.img"));
        QFile::remove(record);
        Sim sim(options << QStringLiteral("--generation=%1").arg(generation)
                        << "--image=" + imageFile(generation == 1 ? kAbc : kGen2Image)
                        << "--record-image=" + record);
        QVERIFY(sim.ok());
        sim.send(sent);
        QCOMPARE(sim.read(reply.size() + 1, 300), reply);
        if (!recorded.isNull())
            QTRY_COMPARE(readAll(record), recorded);
    }

    void uploadsOneByteForEachAcknowledgement() {
        Sim sim({"--generate=1000", "--seed=7"});
        QVERIFY(sim.ok());
        sim.send("B");
        QCOMPARE(sim.read(4), littleEndian32(1000));
        sim.send("U");
        QByteArray image;
        for (int k = 0; k < 1000; ++k) {
            image += sim.read(1);
            if (k == 0)
                QVERIFY(sim.quietFor(50));
            sim.send("A");
        }
        QCOMPARE(image.size(), 1000);
        QCOMPARE(sim.read(1), QByteArray(1, char(xorOf(image))));
        // Another exchange serves the same bytes.
        sim.send("BU");
        QCOMPARE(sim.read(5), littleEndian32(1000) + image.left(1));
    }

    void pacedStreamKeepsTheRate() {
        Sim sim(
            {"--generation=2", "--allow-any-size", "--generate=480", "--trailing=0", "--rate=960"});
        QVERIFY(sim.ok());
        QElapsedTimer timer;
        timer.start();
        sim.send("@?");
        QCOMPARE(sim.read(480).size(), 480);
        QVERIFY2(timer.elapsed() >= 400, qPrintable(QString::number(timer.elapsed())));
    }

    void recordsCommandsWithTheLineSpeed() {
        const QString commands = path("speed.txt");
        const QString rx = path("speed.rx");
        Sim sim({"--generation=2", "--record-commands=" + commands, "--record-rx=" + rx});
        QVERIFY(sim.ok());
        // "@M" is answered, so its answer shows the simulator has seen the bytes before it.
        QVERIFY(sim.setBaud(B57600));
        sim.send("B@M");
        QCOMPARE(sim.read(1), QByteArray("K"));
        QVERIFY(sim.setBaud(B9600));
        sim.send("xB@M");
        QCOMPARE(sim.read(1), QByteArray("K"));
        QTRY_COMPARE(readAll(commands), QByteArray("B 57600\n@M 57600\nB 9600\n@M 9600\n"));
        QTRY_COMPARE(readAll(rx), QByteArray("B@MxB@M"));
    }

    void hangsUpAfterImageBytes_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<int>("received");        // bytes the client gets before the hang-up
        QTest::addColumn<QByteArray>("recorded"); // partial image kept by the simulator

        QTest::newRow("second-generation upload")
            << QStringList{"--generation=2", "--hangup-after=1000"} << QByteArray("@?") << 1000
            << QByteArray();
        QTest::newRow("first-generation upload") << QStringList{"--generate=9", "--hangup-after=1"}
                                                 << QByteArray("BU") << 5 << QByteArray();
        QTest::newRow("first-generation restore")
            << QStringList{"--hangup-after=2"} << "R" + littleEndian32(5) + "abcde" << 1
            << QByteArray("ab");
    }
    void hangsUpAfterImageBytes() {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, sent);
        QFETCH(int, received);
        QFETCH(QByteArray, recorded);
        const QString image = path("partial.img");
        QFile::remove(image);
        const QString link = path("hangup-link");
        Sim sim(options << "--record-image=" + image << "--link=" + link);
        QVERIFY(sim.ok());
        sim.send(sent);
        QCOMPARE(sim.read(received + 10, 3000).size(), received);
        QVERIFY(sim.hungUp);
        QVERIFY(sim.process.process().waitForFinished(3000));
        QCOMPARE(sim.process.process().exitCode(), 3);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
        if (!recorded.isEmpty())
            QCOMPARE(readAll(image), recorded);
    }

    void abandonedRestoreKeepsWhatCameAndServesTheNextCommand() {
        const QString image = path("abandoned.img");
        Sim sim({"--image=" + imageFile(kAbc), "--give-up-after=0.3", "--record-image=" + image});
        QVERIFY(sim.ok());
        sim.send("R" + littleEndian32(10));
        QCOMPARE(sim.read(1), QByteArray("U"));
        sim.send(kAbc);
        QTRY_COMPARE(readAll(image), kAbc);
        sim.send("B");
        QCOMPARE(sim.read(4), kLen3);
    }

    void stopsCleanly_data() {
        QTest::addColumn<int>("signal");
        QTest::newRow("SIGTERM") << int(SIGTERM);
        QTest::newRow("SIGINT") << int(SIGINT);
    }
    void stopsCleanly() {
        QFETCH(int, signal);
        const QString link = path("com1");
        const QString pathFile = path("device.txt");
        Sim sim({"--link=" + link, "--path-file=" + pathFile});
        QVERIFY(sim.ok());
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.process.device());
        QCOMPARE(readAll(pathFile), sim.process.device().toLocal8Bit() + "\n");
        sim.closeClient(); // the line stays up while the tool has the port closed
        QProcess &process = sim.process.process();
        ::kill(pid_t(process.processId()), signal);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void onceExitsWhenTheToolLetsGo() {
        Sim sim({"--once", "--image=" + imageFile(kAbc)});
        QVERIFY(sim.ok());
        sim.send("BUAAA");
        QCOMPARE(sim.read(8), kLen3 + kAbc + char(0x60));
        QVERIFY(!sim.process.process().waitForFinished(200)); // the port is still open
        sim.closeClient();
        QVERIFY(sim.process.process().waitForFinished(3000));
        QCOMPARE(sim.process.process().exitCode(), 0);
    }

    void refusesBadStarts_data() {
        QTest::addColumn<QStringList>("options");
        QTest::newRow("second generation, wrong size")
            << QStringList{"--generation=2", "--generate=1000"};
        QTest::newRow("unknown generation") << QStringList{"--generation=3"};
        QTest::newRow("bad hex") << QStringList{"--verdict=xyz"};
        QTest::newRow("unknown step") << QStringList{"--silent-at=nowhere"};
        QTest::newRow("missing image") << QStringList{"--image=/nonexistent/stowline.img"};
        QTest::newRow("unknown option") << QStringList{"--colour=red"};
    }
    void refusesBadStarts() {
        QFETCH(QStringList, options);
        SimProcess sim(options);
        QVERIFY(sim.device().isEmpty());
        sim.process().waitForFinished(5000); // false when it has ended already
        QCOMPARE(sim.process().state(), QProcess::NotRunning);
        QCOMPARE(sim.process().exitCode(), 2);
        QVERIFY(sim.process().readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(SimulatorTest)
#include "tst_simulator.moc"
