// Unsent output is dropped before the port closes on every failure path, so a controller that
// holds CTS low cannot keep the close waiting; a transfer that succeeds lets every byte out.
#include "transferrig.h"

namespace {

// The rig's port, with discards and closes logged in the order they come.
class DiscardLog : public CommControl {
public:
    explicit DiscardLog(FakeComm &fake) : f(fake) {}
    FakeComm &f;
    QStringList log;

    void setCommPort(qint16 p) override { f.setCommPort(p); }
    void setSettings(const QString &s) override { f.setSettings(s); }
    void setRTSEnable(bool on) override { f.setRTSEnable(on); }
    void setHandshaking(qint32 m) override { f.setHandshaking(m); }
    void setInBufferSize(qint16 s) override { f.setInBufferSize(s); }
    void setInBufferCount(qint16 c) override { f.setInBufferCount(c); }
    void setInputLen(qint16 l) override { f.setInputLen(l); }
    void setInputMode(qint32 m) override { f.setInputMode(m); }
    bool setPortOpen(bool open) override {
        log << (open ? QStringLiteral("open") : QStringLiteral("close"));
        return f.setPortOpen(open);
    }
    bool portOpen() const override { return f.portOpen(); }
    QString deviceName() const override { return f.deviceName(); }
    QString openError() const override { return f.openError(); }
    qint16 InBufferCount() override { return f.InBufferCount(); }
    bool Output(const QByteArray &bytes) override { return f.Output(bytes); }
    QByteArray Input() override { return f.Input(); }
    void discardOutput() override { log << QStringLiteral("discard"); }
};

} // namespace

class TestDiscard : public QObject {
    Q_OBJECT
private slots:
    void discardBeforeClose_data() {
        QTest::addColumn<bool>("backup");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<bool>("failed");
        for (const char *fault :
             {"none", "byte missing", "no checksum", "bad checksum", "stop", "lost device"})
            QTest::addRow("Backup, %s", fault) << true << fault << (qstrcmp(fault, "none") != 0);
        for (const char *fault : {"none", "no checksum", "bad checksum", "stop", "lost device"})
            QTest::addRow("Restore, %s", fault) << false << fault << (qstrcmp(fault, "none") != 0);
    }
    void discardBeforeClose() {
        QFETCH(bool, backup);
        QFETCH(QString, fault);
        QFETCH(bool, failed);
        Rig rig(randomBytes(300, 5));
        DiscardLog port(rig.fake);
        Transfers transfers(port, rig.fake, rig.view, rig.image);
        FirstGenController controller(randomBytes(300, 6));
        if (fault == "byte missing")
            controller.sendOnly = 100;
        else if (fault == "no checksum")
            (backup ? controller.sendChecksum : controller.answerChecksum) = false;
        else if (fault == "bad checksum")
            (backup ? controller.checksumOverride : controller.checksumReplyOverride) = 0x5A;
        controller.attach(rig.fake);
        rig.fake.onTick = [&] {
            if (rig.fake.written.size() < 150)
                return;
            if (fault == "stop")
                rig.view.stop = true;
            else if (fault == "lost device" && !rig.fake.isLost())
                rig.fake.loseDevice();
        };
        backup ? transfers.mnuBackup_Click() : transfers.mnuRestore_Click();

        QCOMPARE(port.log.first(), QStringLiteral("open"));
        QCOMPARE(port.log.last(), QStringLiteral("close"));
        if (failed)
            QCOMPARE(port.log.mid(port.log.size() - 2),
                     QStringList({QStringLiteral("discard"), QStringLiteral("close")}));
        else
            QVERIFY2(!port.log.contains(QStringLiteral("discard")), qPrintable(port.log.join(',')));
        QCOMPARE(transfers.lastOutcome() == TransferOutcome::Succeeded, !failed);
    }
};

QTEST_GUILESS_MAIN(TestDiscard)
#include "tst_discard.moc"
