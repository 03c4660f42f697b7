// The controller simulator, driven over its pseudo-terminal as the tool would drive it.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
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

QString simulatorPath() {
    const QString fromEnv = qEnvironmentVariable("STOWLINE_SIM");
    if (!fromEnv.isEmpty())
        return fromEnv;
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString &candidate : {dir + "/../tools/stowline-sim", dir + "/stowline-sim"}) {
        if (QFile::exists(candidate))
            return candidate;
    }
    return QStringLiteral("stowline-sim");
}

QByteArray patterned(int size, int step) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i)
        bytes[i] = char((i * step + i / 251) & 0xFF);
    return bytes;
}

char xorOf(const QByteArray &bytes) {
    char sum = 0;
    for (const char b : bytes)
        sum = char(sum ^ b);
    return sum;
}

QByteArray lengthBytes(quint32 n) {
    QByteArray bytes;
    for (int shift = 0; shift < 32; shift += 8)
        bytes += char((n >> shift) & 0xFF);
    return bytes;
}

QByteArray fileBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// One simulator process and a raw termios client on its device.
class Sim {
public:
    ~Sim() {
        if (fd_ >= 0)
            ::close(fd_);
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(2000);
        }
    }

    bool start(const QStringList &args) {
        process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process_.start(simulatorPath(), QStringList(args) << QStringLiteral("--quiet"));
        if (!process_.waitForStarted(5000))
            return false;
        while (!process_.canReadLine()) {
            if (!process_.waitForReadyRead(5000))
                return false;
        }
        device = QString::fromLocal8Bit(process_.readLine()).trimmed();
        fd_ = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        return fd_ >= 0 && setBaud(B9600);
    }

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
        qsizetype done = 0;
        while (done < bytes.size()) {
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
                ::read(fd_, buffer, size_t(std::min<qsizetype>(count - bytes.size(), 65536)));
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

    int finish(int signal = SIGTERM) {
        if (process_.state() != QProcess::NotRunning)
            ::kill(pid_t(process_.processId()), signal);
        if (!process_.waitForFinished(5000))
            return -1;
        return process_.exitStatus() == QProcess::NormalExit ? process_.exitCode() : -1;
    }

    void closeClient() {
        ::close(fd_);
        fd_ = -1;
    }

    QProcess &process() { return process_; }

    QString device;
    bool hungUp = false;

private:
    QProcess process_;
    int fd_ = -1;
};

} // namespace

class SimulatorTest : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;

    QString path(const QString &name) const { return dir_.filePath(name); }

    QString imageFile(const QString &name, const QByteArray &bytes) {
        QFile f(path(name));
        if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
            return QString();
        return f.fileName();
    }

private slots:
    void firstGenerationBackup_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<int>("checksum"); // -1: none comes

        const QByteArray len3 = lengthBytes(3);
        QTest::newRow("abc") << QStringList() << len3 << QByteArray("abc") << 0x60;
        QTest::newRow("bad checksum")
            << QStringList{"--bad-checksum"} << len3 << QByteArray("abc") << 0x9F;
        QTest::newRow("announced shorter")
            << QStringList{"--length=2"} << lengthBytes(2) << QByteArray("ab") << ('a' ^ 'b');
        QTest::newRow("announced longer: silent when the image runs out")
            << QStringList{"--length=5"} << lengthBytes(5) << QByteArray("abc") << -1;
        QTest::newRow("silent checksum")
            << QStringList{"--silent-at=checksum"} << len3 << QByteArray("abc") << -1;
        QTest::newRow("stop after one byte")
            << QStringList{"--stop-after=1"} << len3 << QByteArray("a") << -1;
        QTest::newRow("silent upload")
            << QStringList{"--silent-at=upload"} << len3 << QByteArray() << -1;
        QTest::newRow("garbage before the length")
            << QStringList{"--garbage=xy"} << QByteArray("xy") + len3 << QByteArray("abc") << 0x60;
    }
    void firstGenerationBackup() {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, reply);
        QFETCH(QByteArray, data);
        QFETCH(int, checksum);
        Sim sim;
        QVERIFY(sim.start(options << "--image=" + imageFile("abc.img", "abc")));

        sim.send("B");
        QCOMPARE(sim.read(reply.size()), reply);
        sim.send("U");
        for (int k = 0; k < data.size(); ++k) {
            QCOMPARE(sim.read(1), data.mid(k, 1));
            // Lock-step: nothing more until the byte is acknowledged.
            if (k == 0)
                QVERIFY(sim.quietFor(50));
            sim.send("A");
        }
        if (checksum >= 0)
            QCOMPARE(sim.read(1), QByteArray(1, char(checksum)));
        QVERIFY(sim.quietFor(150));
    }

    void firstGenerationBackupOfAGeneratedImage() {
        Sim sim;
        QVERIFY(sim.start({"--generate=1000", "--seed=7"}));
        sim.send("B");
        QCOMPARE(sim.read(4), lengthBytes(1000));
        sim.send("U");
        QByteArray image;
        for (int k = 0; k < 1000; ++k) {
            image += sim.read(1);
            sim.send("A");
        }
        QCOMPARE(image.size(), 1000);
        QCOMPARE(sim.read(1), QByteArray(1, xorOf(image)));
        // Another exchange serves the same bytes.
        sim.send("BU");
        QCOMPARE(sim.read(5), lengthBytes(1000) + image.left(1));
    }

    void firstGenerationRestore_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("uReply"); // empty: no "U" comes
        QTest::addColumn<int>("checksum");      // -1: none comes

        QTest::newRow("plain") << QStringList() << QByteArray("U") << 0x60;
        QTest::newRow("u-prefix") << QStringList{"--u-prefix=xyz"} << QByteArray("xyzU") << 0x60;
        QTest::newRow("bad checksum") << QStringList{"--bad-checksum"} << QByteArray("U") << 0x9F;
        QTest::newRow("silent checksum")
            << QStringList{"--silent-at=restore-checksum"} << QByteArray("U") << -1;
        QTest::newRow("silent u-reply") << QStringList{"--silent-at=u-reply"} << QByteArray() << -1;
    }
    void firstGenerationRestore() {
        QFETCH(QStringList, options);
        QFETCH(QByteArray, uReply);
        QFETCH(int, checksum);
        const QString recorded = path("restore1.img");
        const QString commands = path("restore1.txt");
        QFile::remove(recorded);
        QFile::remove(commands);
        Sim sim;
        QVERIFY(
            sim.start(options << "--record-image=" + recorded << "--record-commands=" + commands));

        sim.send("R" + lengthBytes(3));
        if (uReply.isEmpty()) {
            QVERIFY(sim.quietFor(200));
            QTRY_VERIFY(fileBytes(commands).startsWith("R 3 "));
            QVERIFY(!QFile::exists(recorded));
            return;
        }
        QCOMPARE(sim.read(uReply.size()), uReply);
        sim.send("abc");
        if (checksum >= 0)
            QCOMPARE(sim.read(1), QByteArray(1, char(checksum)));
        QVERIFY(sim.quietFor(150));
        QCOMPARE(fileBytes(recorded), QByteArray("abc"));
        QVERIFY(fileBytes(commands).startsWith("R 3 9600\n"));
    }

    void secondGenerationBackup_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<int>("imageBytes");
        QTest::addColumn<int>("trailing");

        QTest::newRow("one trailing byte by default") << QStringList() << kImage2 << 1;
        QTest::newRow("no trailing byte") << QStringList{"--trailing=0"} << kImage2 << 0;
        QTest::newRow("three trailing bytes") << QStringList{"--trailing=3"} << kImage2 << 3;
        QTest::newRow("stop after 1000") << QStringList{"--stop-after=1000"} << 1000 << 0;
        QTest::newRow("garbage first") << QStringList{"--garbage=zz"} << kImage2 << 1;
    }
    void secondGenerationBackup() {
        QFETCH(QStringList, options);
        QFETCH(int, imageBytes);
        QFETCH(int, trailing);
        const QByteArray image = patterned(kImage2, 13);
        const bool garbage = options.contains("--garbage=zz");
        Sim sim;
        QVERIFY(sim.start(options << "--generation=2"
                                  << "--image=" + imageFile("gen2.img", image)));

        sim.send("@?");
        if (garbage)
            QCOMPARE(sim.read(2), QByteArray("zz"));
        const QByteArray got = sim.read(kImage2 + 100, 300);
        QCOMPARE(got.size(), imageBytes + trailing);
        QVERIFY(got.left(imageBytes) == image.left(imageBytes));
        QVERIFY(!sim.hungUp);
    }

    void secondGenerationRestore_data() {
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<bool>("goodChecksum");
        QTest::addColumn<QByteArray>("mAnswer"); // empty: none comes, and the restore stops there
        QTest::addColumn<QByteArray>("verdict"); // empty: none comes

        QTest::newRow("good checksum")
            << QStringList() << true << QByteArray("K") << QByteArray("Y");
        QTest::newRow("bad checksum")
            << QStringList() << false << QByteArray("K") << QByteArray("N");
        QTest::newRow("forced verdict")
            << QStringList{"--verdict=0x41"} << true << QByteArray("K") << QByteArray("A");
        QTest::newRow("zero answer to @M")
            << QStringList{"--m-answer=00"} << true << QByteArray(1, '\0') << QByteArray("Y");
        QTest::newRow("silent verdict")
            << QStringList{"--silent-at=verdict"} << true << QByteArray("K") << QByteArray();
        QTest::newRow("silent @M")
            << QStringList{"--silent-at=m-answer"} << true << QByteArray() << QByteArray();
    }
    void secondGenerationRestore() {
        QFETCH(QStringList, options);
        QFETCH(bool, goodChecksum);
        QFETCH(QByteArray, mAnswer);
        QFETCH(QByteArray, verdict);
        const QString recorded = path("restore2.img");
        QFile::remove(recorded);
        const QByteArray image = patterned(kImage2, 5);
        Sim sim;
        QVERIFY(sim.start(options << "--generation=2"
                                  << "--record-image=" + recorded));

        sim.send("@M");
        if (mAnswer.isEmpty()) {
            QVERIFY(sim.quietFor(200));
            return;
        }
        QCOMPARE(sim.read(1), mAnswer);
        const char sum = xorOf(image);
        sim.send("@!" + image + QByteArray(1, goodChecksum ? sum : char(sum ^ 0x01)));
        if (!verdict.isEmpty())
            QCOMPARE(sim.read(1), verdict);
        QVERIFY(sim.quietFor(150));
        QTRY_VERIFY(fileBytes(recorded) == image);
    }

    void repliesOnlyToItsOwnCommands_data() {
        QTest::addColumn<int>("generation");
        QTest::addColumn<QStringList>("options");
        QTest::addColumn<QByteArray>("sent");
        QTest::addColumn<QByteArray>("reply");

        const QByteArray len3 = lengthBytes(3);
        QTest::newRow("1: silent probe")
            << 1 << QStringList{"--silent-at=probe"} << QByteArray("B") << QByteArray();
        QTest::newRow("1: short probe")
            << 1 << QStringList{"--short-probe"} << QByteArray("B") << len3.left(3);
        QTest::newRow("1: long probe")
            << 1 << QStringList{"--long-probe"} << QByteArray("B") << len3 + QByteArray(1, '\0');
        QTest::newRow("1: second-generation commands")
            << 1 << QStringList() << QByteArray("@?@M@!") << QByteArray();
        QTest::newRow("1: a new probe ends a half-done upload")
            << 1 << QStringList() << QByteArray("BUB") << len3 + "a" + len3;
        QTest::newRow("1: length bytes are no commands")
            << 1 << QStringList{"--silent-at=u-reply"} << "R" + QByteArray("BBBB") + "B" << len3;
        QTest::newRow("2: probe and restore request ignored")
            << 2 << QStringList() << "BR" + lengthBytes(3) << QByteArray();
        QTest::newRow("2: length bytes are no commands")
            << 2 << QStringList() << QByteArray("R@?@M@M") << QByteArray("K");
        QTest::newRow("2: repeated @")
            << 2 << QStringList() << QByteArray("@@M") << QByteArray("K");
        QTest::newRow("2: garbage before the answer")
            << 2 << QStringList{"--garbage=!!"} << QByteArray("@M") << QByteArray("!!K");
    }
    void repliesOnlyToItsOwnCommands() {
        QFETCH(int, generation);
        QFETCH(QStringList, options);
        QFETCH(QByteArray, sent);
        QFETCH(QByteArray, reply);
        options << QStringLiteral("--generation=%1").arg(generation);
        if (generation == 1)
            options << "--image=" + imageFile("abc.img", "abc");
        Sim sim;
        QVERIFY(sim.start(options));
        sim.send(sent);
        QCOMPARE(sim.read(reply.size() + 1, 200), reply);
    }

    void pacedStreamKeepsTheRate() {
        Sim sim;
        QVERIFY(sim.start({"--generation=2", "--allow-any-size", "--generate=480", "--trailing=0",
                           "--rate=960"}));
        QElapsedTimer timer;
        timer.start();
        sim.send("@?");
        QCOMPARE(sim.read(480).size(), 480);
        QVERIFY2(timer.elapsed() >= 400, qPrintable(QString::number(timer.elapsed())));
    }

    void recordsCommandsWithTheLineSpeed() {
        const QString commands = path("speed.txt");
        const QString rx = path("speed.rx");
        Sim sim;
        QVERIFY(
            sim.start({"--generation=2", "--record-commands=" + commands, "--record-rx=" + rx}));
        // "@M" is answered, so its answer shows the simulator has seen the bytes before it.
        QVERIFY(sim.setBaud(B57600));
        sim.send("B@M");
        QCOMPARE(sim.read(1), QByteArray("K"));
        QVERIFY(sim.setBaud(B9600));
        sim.send("xB@M");
        QCOMPARE(sim.read(1), QByteArray("K"));
        QTRY_COMPARE(fileBytes(commands), QByteArray("B 57600\n@M 57600\nB 9600\n@M 9600\n"));
        QTRY_COMPARE(fileBytes(rx), QByteArray("B@MxB@M"));
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
            << QStringList{"--hangup-after=2"} << "R" + lengthBytes(5) + "abcde" << 1
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
        Sim sim;
        QVERIFY(sim.start(options << "--record-image=" + image << "--link=" + link));
        sim.send(sent);
        QCOMPARE(sim.read(received + 10, 3000).size(), received);
        QVERIFY(sim.hungUp);
        QVERIFY(sim.process().waitForFinished(3000));
        QCOMPARE(sim.process().exitCode(), 3);
        QVERIFY(!QFileInfo::exists(link) && !QFileInfo(link).isSymLink());
        if (!recorded.isEmpty())
            QCOMPARE(fileBytes(image), recorded);
    }

    void abandonedRestoreKeepsWhatCameAndServesTheNextCommand() {
        const QString image = path("abandoned.img");
        Sim sim;
        QVERIFY(sim.start({"--image=" + imageFile("abc.img", "abc"), "--give-up-after=0.3",
                           "--record-image=" + image}));
        sim.send("R" + lengthBytes(10));
        QCOMPARE(sim.read(1), QByteArray("U"));
        sim.send("abc");
        QTRY_COMPARE(fileBytes(image), QByteArray("abc"));
        sim.send("B");
        QCOMPARE(sim.read(4), lengthBytes(3));
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
        Sim sim;
        QVERIFY(sim.start({"--link=" + link, "--path-file=" + pathFile}));
        QCOMPARE(QFileInfo(link).symLinkTarget(), sim.device);
        QCOMPARE(fileBytes(pathFile), sim.device.toLocal8Bit() + "\n");
        sim.closeClient(); // the line stays up while the tool has the port closed
        QCOMPARE(sim.finish(signal), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
    }

    void onceExitsWhenTheToolLetsGo() {
        Sim sim;
        QVERIFY(sim.start({"--once", "--image=" + imageFile("abc.img", "abc")}));
        sim.send("BUAAA");
        QCOMPARE(sim.read(8), lengthBytes(3) + "abc" + char(0x60));
        QVERIFY(!sim.process().waitForFinished(200)); // the port is still open
        sim.closeClient();
        QVERIFY(sim.process().waitForFinished(3000));
        QCOMPARE(sim.process().exitCode(), 0);
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
        QProcess process;
        process.start(simulatorPath(), options);
        QVERIFY(process.waitForFinished(5000));
        QCOMPARE(process.exitCode(), 2);
        QVERIFY(process.readAllStandardOutput().isEmpty());
    }
};

QTEST_GUILESS_MAIN(SimulatorTest)
#include "tst_simulator.moc"
