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
#include <optional>
#include <sys/mount.h>
#include <sys/resource.h>
#include <unistd.h>

namespace {

const QString kSaveFilter = QStringLiteral("Controller Configuration Files (*.CCF) | *.CCF");
const QString kOpenFilter = QStringLiteral("Controller Configuration Files (*.CCF) | "
                                           "*.CCF|Controller Configuration Files(*.sav)|*.sav");

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
        QCOMPARE(save.view.dialogs, {"Save Controller Configuration|" + kSaveFilter});
        QStringList log = save.view.log.filter(QRegularExpression("^(?!value:)"));
        QCOMPARE(log.join('|'), "busy|file:" + path.right(60) +
                                    "|refresh|status:Saving Controller Configuration to file (" +
                                    count + " bytes)|" + range + "|idle");
        QCOMPARE(save.view.progressValues().size(), values);
        QCOMPARE(save.view.progressValues().last(), 0);
        QCOMPARE(image.ConfigLength, saved);
        QCOMPARE(readAll(path), image.ConfigData.mid(1, saved));

        ConfigImage loaded = heldImage(5, qint16(0));
        Run open(loaded, path);
        open.open();
        QCOMPARE(open.view.dialogs, {"Open Controller Configuration|" + kOpenFilter});
        log = open.view.log.filter(QRegularExpression("^(?!value:)"));
        QCOMPARE(log.join('|'), "busy|file:" + path.right(60) +
                                    "|config:None|refresh|status:Loading Controller "
                                    "Configuration from file (" +
                                    count + " bytes)|" + range + "|config:" + count +
                                    " bytes|idle");
        QCOMPARE(open.view.progressValues(), save.view.progressValues());
        QCOMPARE(loaded.ConfigLength, saved);
        QCOMPARE(loaded.ControllerType, typeAfterOpen);
        QCOMPARE(loaded.ConfigData, QByteArray(1, '\0') + image.ConfigData.mid(1, saved));
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
        QCOMPARE(run.view.fileStatus, path.right(60));
        QCOMPARE(image.ConfigLength, held);
        const QStringList left =
            QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left, how == "missing" ? QStringList() : QStringList{"keep.CCF"});
        if (how == "folder")
            QVERIFY(QFileInfo(path).isDir());
        else if (how != "missing")
            QCOMPARE(readAll(path), old);
    }

    // keepsImage: the previous image survives; otherwise no image is held afterwards.
    void failedOpen_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("keepsImage");
        // Missing, empty, folder, FIFO and unreadable files are the Open fuzz harness's rows.
        QTest::newRow("too large for a 32-bit length") << "huge" << true;
        QTest::newRow("no memory for the image") << "nomem" << true;
        QTest::newRow("vanishes after its size was taken") << "vanish late" << false;
        QTest::newRow("shrinks after its size was taken") << "shrink late" << false;
    }

    void failedOpen() {
        QFETCH(QString, kind);
        QFETCH(bool, keepsImage);
        QString path = dir.filePath(kind + ".SAV");
        if (kind == "huge" || kind == "nomem") {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QVERIFY(file.resize(kind == "huge" ? (qint64(1) << 31) + 1 : qint64(1) << 30));
        } else {
            QVERIFY(writeAll(path, randomBytes(5000)));
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
                lateStepRan =
                    kind == "vanish late" ? QFile::remove(path) : QFile::resize(path, 100);
            };

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
        QCOMPARE(image.ControllerType, qint16(2));
        QCOMPARE(run.view.fileStatus, path.right(60));
        QCOMPARE(run.view.configStatus, keepsImage ? "Before" : "None");
        QCOMPARE(image.ConfigLength, keepsImage ? previous.ConfigLength : 0);
        if (keepsImage)
            QCOMPARE(image.ConfigData, previous.ConfigData);
    }
};

QTEST_GUILESS_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
