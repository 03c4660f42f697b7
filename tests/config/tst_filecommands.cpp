#include "../app/unprivileged.h"
#include "fakecomm.h"
#include "filecommands.h"
#include "recordingview.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace {

const QString kSaveFilter = QStringLiteral("Controller Configuration Files (*.CCF) | *.CCF");
const QString kSaveFilter2 =
    QStringLiteral("Controller Configuration Files (*.SAV) | *.SAV|") + kSaveFilter;
const QString kOpenFilter =
    QStringLiteral("Controller Configuration Files (*.CCF) | *.CCF|Controller Configuration "
                   "Files(*.sav)|*.sav|All files (*)|*");

ConfigImage heldImage(qint32 length, qint16 type) {
    ConfigImage image;
    image.ConfigData = QByteArray(1, '\0') + randomBytes(length, quint32(length));
    image.ConfigLength = length;
    image.ControllerType = type;
    return image;
}

QByteArray fileBytes(const QString &path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

bool writeFile(const QString &path, const QByteArray &bytes) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

struct Run {
    ConfigImage &image;
    RecordingView view;
    explicit Run(ConfigImage &img, const QString &path = {}) : image(img) {
        view.configStatus = QStringLiteral("Before");
        view.fileStatus = QStringLiteral("Before");
        view.fileAnswers << RecordingView::FileAnswer{path, {}};
    }
    void save() { FileCommands(image, view).mnuSave_Click(); }
    void open() { FileCommands(image, view).mnuOpen_Click(); }
};

// A tmpfs of `kib` KiB over `folder`, gone again with the guard.
class SmallDisk {
public:
    SmallDisk(const QString &folder, int kib) : folder_(QFile::encodeName(folder)) {
        const QByteArray options = "size=" + QByteArray::number(kib) + "k";
        mounted = ::mount("tmpfs", folder_.constData(), "tmpfs", 0, options.constData()) == 0;
    }
    ~SmallDisk() {
        if (mounted)
            ::umount2(folder_.constData(), MNT_DETACH);
    }
    bool mounted = false;

private:
    QByteArray folder_;
};

} // namespace

class TestFileCommands : public QObject {
    Q_OBJECT
    // Long enough that every FileStatus shows only the tail of a path.
    QTemporaryDir dir{QDir::tempPath() + QLatin1Char('/') + QString(60, QLatin1Char('f')) +
                      QStringLiteral("-XXXXXX")};

private slots:
    void roundTrip_data() {
        QTest::addColumn<qint32>("held");
        QTest::addColumn<qint16>("type");
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("existing"); // size of a file already under that name
        QTest::addColumn<qint32>("saved");
        QTest::addColumn<qint16>("typeAfterOpen");
        QTest::addColumn<int>("values");
        QTest::newRow("1 byte") << 1 << qint16(1) << "one.CCF" << 0 << 1 << qint16(1) << 1;
        QTest::newRow("second generation")
            << 186368 << qint16(2) << "gen2.SAV" << 0 << 186368 << qint16(2) << 10;
        QTest::newRow("longer image cut to 186368")
            << 200000 << qint16(2) << "long.sav" << 0 << 186368 << qint16(2) << 10;
        QTest::newRow("shorter image, type unknown, all held bytes")
            << 1000 << qint16(0) << "short.ccf" << 0 << 1000 << qint16(1) << 11;
        QTest::newRow("few MiB over a longer file")
            << (3 << 20) + 7 << qint16(1) << "big.CCF" << (4 << 20) << (3 << 20) + 7 << qint16(1)
            << 10;
    }

    void roundTrip() {
        QFETCH(qint32, held);
        QFETCH(qint16, type);
        QFETCH(QString, name);
        QFETCH(int, existing);
        QFETCH(qint32, saved);
        QFETCH(qint16, typeAfterOpen);
        QFETCH(int, values);
        const QString path = dir.filePath(name);
        if (existing)
            QVERIFY(writeFile(path, QByteArray(existing, '\x77')));

        ConfigImage image = heldImage(held, type);
        Run save(image, path);
        save.save();
        const QString count = QString::number(saved);
        const QString range = "min:0|max:" + QString::number(saved - 1);
        QCOMPARE(save.view.dialogTitles, {QStringLiteral("Save Controller Configuration")});
        QCOMPARE(save.view.dialogFilters, {type == 2 ? kSaveFilter2 : kSaveFilter});
        QStringList log = save.view.log.filter(QRegularExpression("^(?!value:)"));
        // The label changes once the file is in place; a cut image shows its new size.
        QCOMPARE(log.join('|'), "busy|refresh|status:Saving Controller Configuration to file (" +
                                    count + " bytes)|" + range +
                                    (held != saved ? "|config:" + count + " bytes" : "") +
                                    "|file:" + path.right(60) + "|idle");
        QCOMPARE(save.view.progressValues().size(), values);
        QCOMPARE(save.view.progressValues().last(), 0);
        QCOMPARE(image.ConfigLength, saved);
        QCOMPARE(fileBytes(path), image.ConfigData.mid(1, saved));

        ConfigImage loaded = heldImage(5, qint16(0));
        Run open(loaded, path);
        open.open();
        QCOMPARE(open.view.dialogTitles, {QStringLiteral("Open Controller Configuration")});
        QCOMPARE(open.view.dialogFilters, {kOpenFilter});
        log = open.view.log.filter(QRegularExpression("^(?!value:)"));
        QCOMPARE(log.join('|'), "busy|refresh|status:Loading Controller Configuration from file (" +
                                    count + " bytes)|" + range + "|file:" + path.right(60) +
                                    "|config:" + count + " bytes|idle");
        QCOMPARE(open.view.progressValues(), save.view.progressValues());
        QCOMPARE(loaded.ConfigLength, saved);
        QCOMPARE(loaded.ControllerType, typeAfterOpen);
        QCOMPARE(loaded.ConfigData, QByteArray(1, '\0') + image.ConfigData.mid(1, saved));
    }

    void extension_data() {
        QTest::addColumn<QString>("title");
        QTest::addColumn<qint16>("before");
        QTest::addColumn<qint16>("after");
        QTest::addColumn<bool>("read");
        QTest::newRow("lower-case ccf") << "x.ccf" << qint16(2) << qint16(1) << true;
        QTest::newRow("upper-case CCF") << "X.CCF" << qint16(0) << qint16(1) << true;
        QTest::newRow("mixed-case Sav") << "a.Sav" << qint16(1) << qint16(2) << true;
        QTest::newRow("other extension keeps 2") << "b.bin" << qint16(2) << qint16(2) << true;
        QTest::newRow("other extension keeps 0") << "b.bin" << qint16(0) << qint16(0) << true;
        QTest::newRow("3-character name") << "abc" << qint16(1) << qint16(1) << false;
    }

    void extension() {
        QFETCH(QString, title);
        QFETCH(qint16, before);
        QFETCH(qint16, after);
        QFETCH(bool, read);
        const QString path = dir.filePath(title);
        QVERIFY(writeFile(path, "\x01\x02\x03"));
        ConfigImage image = heldImage(7, before);
        const ConfigImage previous = image;
        Run run(image, path);
        run.open();
        QCOMPARE(image.ControllerType, after);
        if (read) {
            QCOMPARE(image.ConfigData, QByteArray("\0\x01\x02\x03", 4));
            QCOMPARE(run.view.configStatus, QStringLiteral("3 bytes"));
        } else { // nothing changes, and a box says why
            QCOMPARE(run.view.log, QStringList({"busy", "status:Waiting for Command",
                                                "warning:ERROR Message|Error : Cannot open " +
                                                    path + ": the file name is too short",
                                                "idle"}));
            QCOMPARE(image.ConfigData, previous.ConfigData);
            QCOMPARE(image.ConfigLength, previous.ConfigLength);
        }
    }

    // Nothing changes: a second-generation image longer than a file holds is not cut either.
    void cancel_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<qint32>("held");
        QTest::addColumn<qint16>("type");
        QTest::newRow("save, second generation, longer image") << true << 200000 << qint16(2);
        QTest::newRow("save, type unknown, shorter image") << true << 1000 << qint16(0);
        QTest::newRow("save, first generation") << true << 200000 << qint16(1);
        QTest::newRow("open") << false << 200000 << qint16(2);
    }

    void cancel() {
        QFETCH(bool, save);
        QFETCH(qint32, held);
        QFETCH(qint16, type);
        ConfigImage image = heldImage(held, type);
        const QByteArray data = image.ConfigData;
        Run run(image);
        save ? run.save() : run.open();
        QCOMPARE(run.view.log, QStringList({"busy", "idle"}));
        QCOMPARE(image.ConfigLength, held);
        QCOMPARE(image.ControllerType, type);
        QCOMPARE(image.ConfigData, data);
    }

    // A Save that cannot finish says why and leaves the previous file, the image and the label
    // as they were, no stray files, and the bar at rest.
    void failedSaveKeepsOldFile_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<qint32>("held");
        QTest::addColumn<quint64>("sizeLimit");
        QTest::addColumn<QString>("reason");
        const QString tooLarge = QStringLiteral("File too large");
        QTest::newRow("file-size limit mid-file")
            << "limit" << 186368 << quint64(65536) << tooLarge;
        QTest::newRow("file-size limit in the last piece")
            << "limit" << 186368 << quint64(186000) << tooLarge;
        QTest::newRow("file-size limit, few bytes") << "limit" << 1000 << quint64(500) << tooLarge;
        QTest::newRow("disk full")
            << "disk full" << 186368 << quint64(0) << "No space left on device";
        QTest::newRow("read-only folder")
            << "read-only" << 186368 << quint64(0) << "Permission denied";
        QTest::newRow("missing folder")
            << "missing" << 186368 << quint64(0) << "No such file or directory";
        QTest::newRow("name of a folder")
            << "folder" << 186368 << quint64(0) << "Filename refers to a directory";
    }

    void failedSaveKeepsOldFile() {
        QFETCH(QString, how);
        QFETCH(qint32, held);
        QFETCH(quint64, sizeLimit);
        QFETCH(QString, reason);
        if (how == "read-only")
            RUN_UNPRIVILEGED();
        QTemporaryDir folder;
        std::optional<SmallDisk> disk;
        if (how == "disk full" && !disk.emplace(folder.path(), 64).mounted)
            QSKIP("cannot mount a small tmpfs here (needs root)");
        const QString path = folder.filePath(how == "missing" ? "no/such.CCF" : "keep.CCF");
        const QByteArray old = randomBytes(20000, 3);
        if (how == "folder")
            QVERIFY(QDir().mkpath(path));
        else if (how != "missing")
            QVERIFY(writeFile(path, old));
        ConfigImage image = heldImage(held, 1);
        Run run(image, path);
        if (how == "read-only")
            QVERIFY(QFile::setPermissions(folder.path(), QFile::ReadOwner | QFile::ExeOwner));
        rlimit saved{};
        QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        if (sizeLimit) {
            rlimit low = saved;
            low.rlim_cur = sizeLimit;
            QCOMPARE(setrlimit(RLIMIT_FSIZE, &low), 0);
        }
        run.save();
        setrlimit(RLIMIT_FSIZE, &saved);
        std::signal(SIGXFSZ, oldHandler);
        QFile::setPermissions(folder.path(),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);

        QCOMPARE(run.view.log.last(), QStringLiteral("idle"));
        QCOMPARE(run.view.warnings,
                 QStringList("ERROR Message|Error : Cannot save " + path + ": " + reason));
        QCOMPARE(run.view.fileStatus, QStringLiteral("Before"));
        QCOMPARE(run.view.progressValue, 0);
        QCOMPARE(image.ConfigLength, held);
        const QStringList left =
            QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left, how == "missing" ? QStringList() : QStringList{"keep.CCF"});
        if (how == "folder")
            QVERIFY(QFileInfo(path).isDir());
        else if (how != "missing")
            QCOMPARE(fileBytes(path), old);
    }

    // Every failed Open says why and changes nothing: image, length, generation, both labels.
    void failedOpen_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        const QString changed = QStringLiteral("the file changed while it was read");
        QTest::newRow("missing file") << "missing"
                                      << "the file does not exist";
        QTest::newRow("empty file") << "empty"
                                    << "the file is empty";
        QTest::newRow("folder") << "folder"
                                << "it is a folder";
        QTest::newRow("FIFO") << "fifo"
                              << "it is not a regular file";
        QTest::newRow("too large for a 32-bit length")
            << "huge"
            << "the file is too large for a configuration image";
        QTest::newRow("no memory for the image") << "nomem"
                                                 << "there is not enough memory to hold it";
        QTest::newRow("unreadable") << "unreadable"
                                    << "Permission denied";
        QTest::newRow("shorter than its size") << "short" << changed;
        QTest::newRow("shrinks after its size was taken") << "shrink late" << changed;
        QTest::newRow("grows after its size was taken") << "grow late" << changed;
    }

    void failedOpen() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        if (kind == "unreadable")
            RUN_UNPRIVILEGED();
        QString path = dir.filePath(kind + ".SAV");
        if (kind == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == "fifo") {
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "huge" || kind == "nomem") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(kind == "huge" ? (qint64(1) << 31) + 1 : qint64(1) << 30));
        } else if (kind == "short") {
            path = QStringLiteral("/sys/kernel/mm/transparent_hugepage/enabled");
            if (QFileInfo(path).size() <= fileBytes(path).size())
                QSKIP("no file reads shorter than its size here");
        } else if (kind != "missing") {
            QVERIFY(writeFile(path, kind == "empty" ? QByteArray() : randomBytes(5000)));
        }
        if (kind == "unreadable")
            QVERIFY(QFile::setPermissions(path, QFile::WriteOwner));
#if defined(__SANITIZE_ADDRESS__)
        if (kind == "nomem")
            QSKIP("the address-space limit does not mix with the sanitizer");
#endif
        ConfigImage image = heldImage(12, 1);
        const ConfigImage previous = image;
        Run run(image, path);
        // Between taking the size and reading the bytes.
        bool lateStepRan = false;
        if (kind.endsWith(QLatin1String("late")))
            run.view.onRefresh = [&] {
                lateStepRan = QFile::resize(path, kind == "grow late" ? 6000 : 100);
            };

        // A wrong Open blocks on the FIFO; a writer that opens and closes releases it.
        std::atomic<bool> done{false}, released{false};
        std::thread unblocker([&] {
            while (kind == "fifo" && !done) {
                const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK);
                if (fd >= 0) {
                    released = true;
                    ::close(fd);
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            }
        });
        rlimit savedAs{};
        getrlimit(RLIMIT_AS, &savedAs);
        if (kind == "nomem") {
            rlimit low = savedAs;
            low.rlim_cur = 0;
            QFile statm(QStringLiteral("/proc/self/statm"));
            if (statm.open(QIODevice::ReadOnly))
                low.rlim_cur =
                    rlim_t(statm.readAll().split(' ').at(0).toLongLong() * sysconf(_SC_PAGESIZE)) +
                    (rlim_t(256) << 20);
            if (low.rlim_cur == 0 || setrlimit(RLIMIT_AS, &low) != 0)
                QSKIP("cannot limit the address space");
        }
        run.open();
        setrlimit(RLIMIT_AS, &savedAs);
        done = true;
        unblocker.join();

        QVERIFY(!released);
        QCOMPARE(lateStepRan, kind.endsWith(QLatin1String("late")));
        QCOMPARE(run.view.log.last(), QStringLiteral("idle"));
        QCOMPARE(run.view.warnings,
                 QStringList("ERROR Message|Error : Cannot open " + path + ": " + reason));
        QCOMPARE(image.ControllerType, previous.ControllerType);
        QCOMPARE(run.view.fileStatus, QStringLiteral("Before"));
        QCOMPARE(run.view.configStatus, QStringLiteral("Before"));
        QCOMPARE(run.view.progressValue, 0);
        QCOMPARE(image.ConfigLength, previous.ConfigLength);
        QCOMPARE(image.ConfigData, previous.ConfigData);
    }
};

QTEST_GUILESS_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
