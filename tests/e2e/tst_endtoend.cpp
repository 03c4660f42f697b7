// The real window against the controller simulator over a pseudo-terminal. Transfers that
// succeed or meet a controller fault are rows of the fault matrix.
#include "faultmatrix.h"

#include <QSettings>
#include <QTimer>

class EndToEndTest : public QObject {
    Q_OBJECT

private slots:
    // Closing the window mid-transfer asks once, stops the transfer, closes the port and still
    // writes the settings.
    void closingDuringATransferStopsIt() {
        QSettings store(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Stowline"),
                        QStringLiteral("Stowline"));
        store.clear();
        store.sync();
        Session s;
        QVERIFY(s.start({QStringLiteral("--generation=2"), QStringLiteral("--rate=960")}));
        s.dialogs.questionAnswers << true;
        QTimer::singleShot(6000, s.window.get(), [&] { s.window->close(); });
        QElapsedTimer timer;
        timer.start();
        s.window->mnuBackup->trigger();
        QVERIFY(timer.elapsed() < 8000);
        QCOMPARE(s.dialogs.asked.size(), 1);
        QVERIFY(s.dialogs.asked.first().startsWith(QLatin1String("question:")));
        QVERIFY(!s.window->MSComm1->portOpen());
        QTRY_VERIFY(!s.window->isVisible());
        store.sync();
        QCOMPARE(store.value(QStringLiteral("Settings/Com1")).toString(), QStringLiteral("True"));
    }
};

QTEST_MAIN(EndToEndTest)
#include "tst_endtoend.moc"
