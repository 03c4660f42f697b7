// How long File > History takes to open over a journal of 100,000 lines: from the start of
// the dialog to its first paint, the journal read and parsed on the way.
//   bench_history [lines]   (QT_QPA_PLATFORM=offscreen or a display)
#include "window/historydialog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

namespace {

class FirstPaint : public QObject {
public:
    bool eventFilter(QObject *, QEvent *event) override {
        if (event->type() == QEvent::Paint && !painted) {
            painted = true;
            QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        }
        return false;
    }
    bool painted = false;
};

} // namespace

int main(int argc, char **argv) {
    QApplication app(argc, argv);
    const int lines = argc > 1 ? atoi(argv[1]) : 100000;
    QTemporaryDir dir;
    const QString path = dir.filePath("journal.jsonl");
    QList<QJsonObject> all;
    for (int i = 0; i < lines; ++i) {
        ExchangeRecord r{QStringLiteral("backup"),
                         QStringLiteral("succeeded"),
                         Generation::Second,
                         186368,
                         QByteArray::number(i, 16).rightJustified(64, '0'),
                         QStringLiteral("/srv/backups/A10K3XQ%1.SAV").arg(i),
                         {},
                         QDateTime::currentDateTime().addSecs(-i),
                         194.2};
        all.append(Journal::entry(r, {QStringLiteral("cli"), {0, "/dev/ttyUSB0"}, {}, {}}));
    }
    QString error;
    if (!Journal::append(path, all, &error))
        return std::fprintf(stderr, "%s\n", qPrintable(error)), 1;

    QElapsedTimer clock;
    clock.start();
    HistoryDialog dialog(path, nullptr);
    const qint64 built = clock.elapsed();
    FirstPaint watch;
    dialog.installEventFilter(&watch);
    dialog.show();
    app.exec();
    const qint64 painted = clock.elapsed();
    clock.restart();
    dialog.findChild<QTableView *>()->model()->sort(6, Qt::AscendingOrder);
    // key=value lines, as bench/run.sh collects them for the report.
    std::printf("history-lines=%d\nhistory-built=%lld\nhistory-open=%lld\nhistory-sort=%lld\n",
                lines, built, painted, clock.elapsed());
    return 0;
}
