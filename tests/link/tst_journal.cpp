// The journal: the line of each exchange, and appends that never interleave or get lost.
#include "link/journal.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

class TestJournal : public QObject {
    Q_OBJECT

private slots:
    // A record of the job's own command gets the face's file; the adapter is found by the
    // device's node or by-id link; port 0 (a device named directly) is null.
    void entry_data() {
        QTest::addColumn<QString>("command");
        QTest::addColumn<int>("port");
        QTest::addColumn<QString>("device");
        QTest::addColumn<int>("offset"); // of the start time, seconds ahead of UTC
        QTest::addColumn<QString>("json");
        const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT1-if00-port0");
        const QString line = // adapter, command, device, file, port, time zone
            "{'adapter':%1,'bytes':3000,'command':'%2','device':'%3','face':'cli','file':%4,"
            "'generation':1,'outcome':'refused','port':%5,'seconds':1.235,'sha256':'ab12','text':"
            "'Error : Bad Checksum','time':'2026-03-01T09:30:12.345%6'}";
        QTest::newRow("restore on Com 2 by the by-id link")
            << "restore" << 2 << byId << 3600
            << line.arg("{'description':'FT232R USB UART','manufacturer':null,'serialNumber':"
                        "'FT1','vidPid':'0403:6001'}",
                        "restore", byId, "'/x/in.CCF'", "2", "+01:00");
        QTest::newRow("snapshot on a device named directly")
            << "snapshot" << 0 << "/dev/pts/7" << -19800
            << line.arg("null", "snapshot", "/dev/pts/7", "null", "null", "-05:30");
    }
    void entry() {
        QFETCH(QString, command);
        QFETCH(int, port);
        QFETCH(QString, device);
        QFETCH(int, offset);
        const ExchangeRecord r{
            command,
            "refused",
            Generation::First,
            3000,
            "ab12",
            {},
            "Error : Bad Checksum",
            QDateTime(QDate(2026, 3, 1), QTime(9, 30, 12, 345), QTimeZone(offset)),
            1.23456};
        JobResult result;
        result.exchanges = {r};
        const SerialPortEntry adapter{"/dev/ttyUSB0",
                                      "FT232R USB UART",
                                      {},
                                      "FT1",
                                      0x0403,
                                      0x6001,
                                      "/dev/serial/by-id/usb-FTDI_FT1-if00-port0"};
        const Journal::Context context{"cli", {qint16(port), device}, {adapter}, "/x/in.CCF"};
        const QList<QJsonObject> lines = Journal::entries(result, "restore", context);
        QCOMPARE(lines.size(), 1);
        QFETCH(QString, json); // ' for "
        QCOMPARE(QString::fromUtf8(QJsonDocument(lines.first()).toJson(QJsonDocument::Compact)),
                 json.replace('\'', '"'));
    }

    // Two writers at once, each line larger than a pipe's atomic write: every line whole.
    // Lines that do not parse as objects are skipped; the newest come first.
    void appendAndRead() {
        QTemporaryDir dir;
        const QString path = dir.filePath("Stowline/journal.jsonl");
        const auto writer = [&](QChar fill) {
            return QThread::create([&, fill] {
                for (int i = 0; i < 40; ++i) {
                    QString error;
                    QVERIFY(Journal::append(path, {{{"n", i}, {"text", QString(70000, fill)}}},
                                            &error));
                }
            });
        };
        std::unique_ptr<QThread> a(writer('a')), b(writer('b'));
        a->start();
        b->start();
        QVERIFY(a->wait(60000) && b->wait(60000));
        QFile file(path);
        QVERIFY(file.open(QIODevice::Append));
        file.write("{\"n\": 99, \"cut off\n[1]\nnot json\n");
        file.close();
        QString error;
        QVERIFY(Journal::append(path, {{{"n", 40}, {"text", "last"}}}, &error));

        const QList<QJsonObject> all = Journal::read(path);
        QCOMPARE(all.size(), 81);
        QCOMPARE(all.first().value("text").toString(), QStringLiteral("last"));
        for (const QJsonObject &line : all.mid(1)) {
            const QString text = line.value("text").toString();
            QVERIFY(text.size() == 70000 && text.count(text.at(0)) == 70000);
        }
        QCOMPARE(Journal::read(path, 2).last().value("n").toInt(), 39);
        QVERIFY(Journal::read(dir.filePath("none")).isEmpty());
        // A journal that cannot be written says why.
        QVERIFY(!Journal::append(path + "/below", {{{"n", 0}}}, &error) && !error.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestJournal)
#include "tst_journal.moc"
