// Save and Open on real files: what the view shows on the way, and failures that say why and
// change nothing.
#include "config/configfile.h"
#include "fakeport.h"
#include "recorder.h"
#include "simprocess.h"

#include <QtTest>
#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

namespace {

bool same(const HeldImage &a, const HeldImage &b) {
    return a.bytes == b.bytes && a.generation == b.generation && a.unsavedBackup == b.unsavedBackup;
}

// One command on an image of `length` random bytes, read from a controller and not saved yet,
// its file dialog answered with `path` (empty: Cancel).
struct Run {
    HeldImage image;
    Recorder view;
    Run(qint32 length, Generation generation, const QString &path) {
        image.bytes = randomBytes(length, quint32(length));
        image.generation = generation;
        image.unsavedBackup = true;
        view.configStatus = view.filePath = QStringLiteral("Before");
        view.fileAnswers << path;
    }
    void save() { FileCommands(image, view).save(); }
    void open() { FileCommands(image, view).open(); }
    QString logWithoutValues() const {
        return view.log.filter(QRegularExpression("^(?!value:)")).join('|');
    }
};

} // namespace

class TestFileCommands : public QObject {
    Q_OBJECT
    QTemporaryDir dir;

private slots:
    // Each Save lands over a longer file of the same name.
    void roundTrip_data() {
        QTest::addColumn<qint32>("held");
        QTest::addColumn<Generation>("generation");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::addColumn<qint32>("saved");
        QTest::addColumn<int>("values");
        const auto row = [](const char *tag, qint32 held, Generation generation, const char *typed,
                            const char *written, qint32 saved, int values) {
            QTest::newRow(tag) << held << generation << QString(typed) << QString(written) << saved
                               << values;
        };
        const auto first = Generation::First, unknown = Generation::Unknown;
        row("1 byte, bare name", 1, first, "one", "one.CCF", 1, 1);
        row("second generation cut to 186368, bare name", 200000, Generation::Second, "long",
            "long.SAV", 186368, 10);
        row("generation unknown: all held bytes", 1000, unknown, "short.ccf", "short.ccf", 1000,
            11);
        row("generation unknown, long: all held bytes", 250000, unknown, "whole.SAV", "whole.SAV",
            250000, 11);
        row("few MiB", (3 << 20) + 7, first, "big.CCF", "big.CCF", (3 << 20) + 7, 10);
    }
    void roundTrip() {
        QFETCH(qint32, held);
        QFETCH(Generation, generation);
        QFETCH(QString, typed);
        QFETCH(QString, written);
        QFETCH(qint32, saved);
        QFETCH(int, values);
        const QString path = dir.filePath(written);
        QVERIFY(writeAll(path, QByteArray(saved + 1000, '\x77')));

        Run save(held, generation, dir.filePath(typed));
        save.save();
        const QString count = QString::number(saved);
        const QString range = "range:0.." + QString::number(saved - 1);
        // A Save that cuts a longer image shows the length now held.
        const QString cut = saved < held ? "|config:" + count + " bytes" : QString();
        QCOMPARE(save.logWithoutValues(),
                 "busy|refresh|status:Saving Controller Configuration to file (" + count +
                     " bytes)|" + range + cut + "|file:" + path + "|idle");
        QCOMPARE(save.view.progressValues().size(), values);
        QCOMPARE(save.view.progressValues().last(), 0);
        QCOMPARE(save.image.length(), saved);
        QVERIFY(!save.image.unsavedBackup);
        QCOMPARE(readAll(path), save.image.bytes);

        Run open(5, Generation::Second, path);
        open.open();
        QCOMPARE(open.logWithoutValues(),
                 "busy|refresh|status:Loading Controller Configuration from file (" + count +
                     " bytes)|" + range + "|file:" + path + "|config:" + count + " bytes|idle");
        QCOMPARE(open.view.progressValues(), save.view.progressValues());
        QCOMPARE(open.image.bytes, save.image.bytes);
        QVERIFY(!open.image.unsavedBackup);
    }

    // Open takes the generation from the name every time, whatever was held before.
    void openGeneration_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<Generation>("generation");
        QTest::newRow(".CCF") << "x.CCF" << Generation::First;
        QTest::newRow(".ccf") << "x.ccf" << Generation::First;
        QTest::newRow(".Sav") << "x.Sav" << Generation::Second;
        QTest::newRow("other extension") << "x.SAV.bin" << Generation::Unknown;
        QTest::newRow("name shorter than an extension") << "ab" << Generation::Unknown;
    }
    void openGeneration() {
        QFETCH(QString, name);
        const QString path = dir.filePath(name);
        QVERIFY(writeAll(path, "abc"));
        for (Generation before : {Generation::First, Generation::Second}) {
            Run run(5, before, path);
            run.open();
            QCOMPARE(run.view.warnings, QStringList());
            QCOMPARE(run.image.bytes, QByteArray("abc"));
            QTEST(run.image.generation, "generation");
        }
    }

    // Cancel: nothing happens but the busy spell; a longer image is not cut.
    void cancelChangesNothing() {
        for (bool saving : {true, false}) {
            Run run(200000, Generation::Second, QString());
            const HeldImage before = run.image;
            saving ? run.save() : run.open();
            QCOMPARE(run.view.log, QStringList({"busy", "idle"}));
            QVERIFY(same(run.image, before));
        }
    }

    // A Save or Open that fails says why and changes nothing: not the image, the labels, the
    // bar, nor the file already under that name; a Save leaves no stray files.
    void failure_data() {
        QTest::addColumn<QString>("how");
        QTest::addColumn<qint32>("held");
        QTest::addColumn<quint64>("sizeLimit"); // of files written
        QTest::addColumn<QString>("reason");    // empty: the system's own words
        const auto row = [](const char *how, qint32 held, quint64 limit, const char *reason) {
            QTest::newRow(how) << how << held << limit << reason;
        };
        row("save, file-size limit mid-file", 186368, 65536, "");
        row("save, file-size limit in the last piece", 186368, 186000, "");
        row("save, file-size limit, bytes still buffered", 1000, 500, "");
        row("save, missing folder", 186368, 0, "");
        row("save, name of a folder", 186368, 0, "");
        row("open, empty file", 12, 0, "the file is empty");
        row("open, huge", 12, 0, "the file is too large for a configuration image");
        row("open, no memory for it", 12, 0, "there is not enough memory to hold it");
        row("open, vanishes after its size was taken", 12, 0, "");
        row("open, shrinks after its size was taken", 12, 0, "");
        row("open, grows after its size was taken", 12, 0, "the file changed while it was read");
    }
    void failure() {
        QFETCH(QString, how);
        QFETCH(qint32, held);
        QFETCH(quint64, sizeLimit);
        QFETCH(QString, reason);
        const bool saving = how.startsWith("save"), nomem = how.contains("memory");
        const bool missing = how.contains("missing"), isFolder = how.endsWith("a folder");
#if defined(__SANITIZE_ADDRESS__)
        if (nomem)
            QSKIP("the address-space limit does not mix with the sanitizer");
#endif
        QTemporaryDir folder;
        const QString path = folder.filePath(missing ? "no/such.SAV" : "keep.SAV");
        const QByteArray old = how.contains("empty") ? QByteArray() : randomBytes(20000, 3);
        if (isFolder)
            QVERIFY(QDir().mkpath(path));
        else if (!missing)
            QVERIFY(writeAll(path, old));
        if (how.contains("huge") || nomem)
            QVERIFY(QFile::resize(path, nomem ? qint64(1) << 30 : (qint64(1) << 31) + 1));
        Run run(held, Generation::First, path);
        const HeldImage before = run.image;
        // Between taking the size and reading the bytes.
        bool lateStepRan = false;
        if (how.endsWith("taken"))
            run.view.onRefresh = [&] {
                lateStepRan = how.contains("vanishes")
                                  ? QFile::remove(path)
                                  : QFile::resize(path, how.contains("grows") ? 30000 : 100);
            };
        const auto resource = nomem ? RLIMIT_AS : RLIMIT_FSIZE;
        rlimit saved{};
        QCOMPARE(getrlimit(resource, &saved), 0);
        rlimit low = saved;
        if (sizeLimit)
            low.rlim_cur = sizeLimit;
        QFile statm(QStringLiteral("/proc/self/statm"));
        if (nomem && statm.open(QIODevice::ReadOnly)) // what is mapped now, and 256 MiB more
            low.rlim_cur =
                rlim_t(statm.readAll().split(' ').at(0).toLongLong() * sysconf(_SC_PAGESIZE)) +
                (rlim_t(256) << 20);
        if (setrlimit(resource, &low) != 0)
            QSKIP("cannot set the limit");
        const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        saving ? run.save() : run.open();
        setrlimit(resource, &saved);
        std::signal(SIGXFSZ, oldHandler);

        QCOMPARE(lateStepRan, how.endsWith("taken"));
        QCOMPARE(run.view.log.last(), QStringLiteral("idle"));
        QCOMPARE(run.view.warnings.size(), 1);
        const QString box = run.view.warnings[0];
        QVERIFY2(box.startsWith(QStringLiteral("ERROR Message|Error : Cannot %1 %2: ")
                                    .arg(saving ? "save" : "open", path)),
                 qPrintable(box));
        QVERIFY2(reason.isEmpty() || box.endsWith(": " + reason), qPrintable(box));
        QVERIFY(same(run.image, before));
        QCOMPARE(run.view.filePath, QStringLiteral("Before"));
        QCOMPARE(run.view.configStatus, QStringLiteral("Before"));
        QCOMPARE(run.view.progressValue, 0);
        if (!saving)
            return;
        const QStringList left =
            QDir(folder.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot);
        QCOMPARE(left, missing ? QStringList() : QStringList{"keep.SAV"});
        QVERIFY(isFolder ? QFileInfo(path).isDir() : missing || readAll(path) == old);
    }
};

QTEST_GUILESS_MAIN(TestFileCommands)
#include "tst_filecommands.moc"
