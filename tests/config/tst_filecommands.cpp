#include "fakecomm.h"
#include "filecommands.h"
#include "recordingview.h"
#include "simprocess.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>
#include <csignal>
#include <fcntl.h>
#include <optional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kSaveFilter = QStringLiteral("Controller Configuration Files (*.CCF) | *.CCF");
// A second-generation image is offered as one first.
const QString kSaveFilter2 =
    QStringLiteral("Controller Configuration Files (*.SAV) | *.SAV|") + kSaveFilter;
const QString kOpenFilter =
    QStringLiteral("Controller Configuration Files (*.CCF) | "
                   "*.CCF|Controller Configuration Files(*.sav)|*.sav|All files (*)|*");

ConfigImage heldImage(qint32 length, qint16 type) {
    ConfigImage image;
    image.ConfigData = QByteArray(1, '\0') + randomBytes(length, quint32(length));
    image.ConfigLength = length;
    image.ControllerType = type;
    return image;
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
        QTest::newRow("other extension keeps the type")
            << 1000 << qint16(2) << "keep.bin" << 0 << 1000 << qint16(0) << 11;
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
            QVERIFY(writeAll(path, QByteArray(existing, '\x77')));

        ConfigImage image = heldImage(held, type);
        Run save(image, path);
        save.save();
        const QString count = QString::number(saved);
        const QString range = "min:0|max:" + QString::number(saved - 1);
        QCOMPARE(save.view.dialogs,
                 {"Save Controller Configuration|" + (type == 2 ? kSaveFilter2 : kSaveFilter)});
        QStringList log = save.view.log.filter(QRegularExpression("^(?!value:)"));
        // A Save that cuts a longer image shows the length now held.
        const QString cut = saved < held ? "|config:" + count + " bytes" : QString();
        QCOMPARE(log.join('|'), "busy|refresh|status:Saving Controller Configuration to file (" +
                                    count + " bytes)|" + range + cut + "|file:" + path.right(60) +
                                    "|idle");
        QCOMPARE(save.view.progressValues().size(), values);
        QCOMPARE(save.view.progressValues().last(), 0);
        QCOMPARE(image.ConfigLength, saved);
        QCOMPARE(readAll(path), image.ConfigData.mid(1, saved));

        ConfigImage loaded = heldImage(5, qint16(0));
        Run open(loaded, path);
        open.open();
        QCOMPARE(open.view.dialogs, {"Open Controller Configuration|" + kOpenFilter});
        log = open.view.log.filter(QRegularExpression("^(?!value:)"));
        QCOMPARE(log.join('|'), "busy|refresh|status:Loading Controller Configuration from file (" +
                                    count + " bytes)|" + range + "|file:" + path.right(60) +
                                    "|config:" + count + " bytes|idle");
        QCOMPARE(open.view.progressValues(), save.view.progressValues());
        QCOMPARE(loaded.ConfigLength, saved);
        QCOMPARE(loaded.ControllerType, typeAfterOpen);
        QCOMPARE(loaded.ConfigData, QByteArray(1, '\0') + image.ConfigData.mid(1, saved));
    }

    // Cancel: nothing happens but the busy spell; a longer image is not cut.
    void nothingHappens_data() {
        QTest::addColumn<bool>("save");
        QTest::addColumn<QString>("name"); // empty: Cancel
        QTest::addColumn<qint16>("type");
        QTest::addColumn<qint32>("lengthAfter");
        QTest::newRow("save, second generation, longer image") << true << "" << qint16(2) << 200000;
        QTest::newRow("save, first generation") << true << "" << qint16(1) << 200000;
        QTest::newRow("open") << false << "" << qint16(2) << 200000;
    }
    void nothingHappens() {
        QFETCH(bool, save);
        QFETCH(QString, name);
        QFETCH(qint16, type);
        QFETCH(qint32, lengthAfter);
        ConfigImage image = heldImage(200000, type);
        const QByteArray data = image.ConfigData;
        QVERIFY(name.isEmpty() || writeAll(dir.filePath(name), "\x01\x02\x03"));
        Run run(image, name.isEmpty() ? QString() : dir.filePath(name));
        save ? run.save() : run.open();
        QCOMPARE(run.view.log, QStringList({"busy", "idle"}));
        QCOMPARE(image.ConfigLength, lengthAfter);
        QCOMPARE(image.ControllerType, type);
        QCOMPARE(image.ConfigData, data);
    }

    // A Save that cannot finish leaves the previous file as it was and no stray files.
    void failedSaveKeepsOldFile_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<qint32>("held");
        QTest::addColumn<quint64>("sizeLimit");
        QTest::newRow("file-size limit mid-file") << "limit" << 186368 << quint64(65536);
        QTest::newRow("file-size limit in the last piece") << "limit" << 186368 << quint64(186000);
        QTest::newRow("file-size limit, bytes still buffered") << "limit" << 1000 << quint64(500);
        QTest::newRow("disk full") << "disk full" << 186368 << quint64(0);
        QTest::newRow("missing folder") << "missing" << 186368 << quint64(0);
        QTest::newRow("name of a folder") << "folder" << 186368 << quint64(0);
    }

    void failedSaveKeepsOldFile() {
        QFETCH(QString, how);
        QFETCH(qint32, held);
        QFETCH(quint64, sizeLimit);
        QTemporaryDir folder;
        std::optional<SmallDisk> disk;
        if (how == "disk full" && !disk.emplace(folder.path(), 64).mounted)
            QSKIP("cannot mount a small tmpfs here (needs root)");
        const QString path = folder.filePath(how == "missing" ? "no/such.CCF" : "keep.CCF");
        const QByteArray old = randomBytes(20000, 3);
        if (how == "folder")
            QVERIFY(QDir().mkpath(path));
        else if (how != "missing")
            QVERIFY(writeAll(path, old));
        ConfigImage image = heldImage(held, 1);
        Run run(image, path);
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

        QCOMPARE(run.view.log.last(), QStringLiteral("idle"));
        QCOMPARE(run.view.warnings.size(), 1);
        QVERIFY(
            run.view.warnings[0].startsWith("ERROR Message|Error : Cannot save " + path + ": "));
        QCOMPARE(run.view.fileStatus, QStringLiteral("Before"));
        QCOMPARE(run.view.progressValue, 0);
        QCOMPARE(image.ConfigLength, held);
        const QStringList left =
            QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left, how == "missing" ? QStringList() : QStringList{"keep.CCF"});
        if (how == "folder")
            QVERIFY(QFileInfo(path).isDir());
        else if (how != "missing")
            QCOMPARE(readAll(path), old);
    }

    // Any Open that fails says why and leaves image, generation and both labels as they were.
    void failedOpen_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason"); // empty: the system's own words
        QTest::newRow("missing file") << "missing"
                                      << "the file does not exist";
        QTest::newRow("empty file") << "empty"
                                    << "the file is empty";
        QTest::newRow("folder") << "folder"
                                << "it is a folder";
        QTest::newRow("FIFO") << "fifo"
                              << "it is not a regular file";
        QTest::newRow("3-character name") << "abc"
                                          << "the file name is too short";
        QTest::newRow("too large for a 32-bit length")
            << "huge"
            << "the file is too large for a configuration image";
        QTest::newRow("no memory for the image") << "nomem"
                                                 << "there is not enough memory to hold it";
        QTest::newRow("vanishes after its size was taken") << "vanish late"
                                                           << "";
        QTest::newRow("shrinks after its size was taken") << "shrink late"
                                                          << "";
        QTest::newRow("grows after its size was taken") << "grow late"
                                                        << "the file changed while it was read";
    }

    void failedOpen() {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        QString path = dir.filePath(kind == "abc" ? kind : kind + ".SAV");
        if (kind == "folder") {
            QVERIFY(QDir().mkpath(path));
        } else if (kind == "fifo") {
            QCOMPARE(mkfifo(QFile::encodeName(path).constData(), 0600), 0);
        } else if (kind == "huge" || kind == "nomem") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(kind == "huge" ? (qint64(1) << 31) + 1 : qint64(1) << 30));
        } else if (kind != "missing") {
            QVERIFY(writeAll(path, kind == "empty" ? QByteArray() : randomBytes(5000)));
        }
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
                lateStepRan = kind == "vanish late"
                                  ? QFile::remove(path)
                                  : QFile::resize(path, kind == "grow late" ? 10000 : 100);
            };

        // A wrong Open blocks on the FIFO for ever: the test's time limit ends it.
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
        QCOMPARE(lateStepRan, kind.endsWith(QLatin1String("late")));
        QCOMPARE(run.view.log.last(), QStringLiteral("idle"));
        QCOMPARE(run.view.warnings.size(), 1);
        const QString box = run.view.warnings[0];
        QVERIFY2(box.startsWith("ERROR Message|Error : Cannot open " + path + ": "),
                 qPrintable(box));
        if (!reason.isEmpty())
            QVERIFY2(box.endsWith(": " + reason), qPrintable(box));
        QCOMPARE(image.ControllerType, previous.ControllerType);
        QCOMPARE(image.ConfigLength, previous.ConfigLength);
        QCOMPARE(image.ConfigData, previous.ConfigData);
        QCOMPARE(run.view.fileStatus, QStringLiteral("Before"));
        QCOMPARE(run.view.configStatus, QStringLiteral("Before"));
    }
};

QTEST_GUILESS_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
