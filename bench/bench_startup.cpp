// Start-up of the tool as app/main.cpp runs it, with a watch on the main window's first paint.
// Prints CLOCK_MONOTONIC stamps, so the process that started this one can measure from the
// moment it started it:
//   main_ns=  entering main (the system has loaded the program and its libraries)
//   paint_ns= the first Paint event of the main window
//   shown_ns= the first turn of the event loop after it (the frame is out)
// then, after IDLE_MS of idling (default 1000), the resident memory: rss_kib= hwm_kib=.
#include "frmmain.h"
#include "harness.h"
#include "module1.h"

#include <QApplication>
#include <QEvent>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class FirstPaint : public QObject {
public:
    qint64 paintNs = -1;
    qint64 shownNs = -1;
    int idleMs = 1000;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && paintNs < 0) {
            paintNs = bench::monoNs();
            QTimer::singleShot(0, this, [this] {
                shownNs = bench::monoNs();
                QTimer::singleShot(idleMs, this, [this] { finish(); });
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void finish() {
        const bench::Memory memory = bench::memoryOf(0);
        std::printf("paint_ns=%lld shown_ns=%lld rss_kib=%lld hwm_kib=%lld\n",
                    static_cast<long long>(paintNs), static_cast<long long>(shownNs),
                    static_cast<long long>(memory.rssKiB), static_cast<long long>(memory.hwmKiB));
        std::fflush(stdout);
        QCoreApplication::quit();
    }
};

} // namespace

int main(int argc, char *argv[]) {
    const qint64 mainNs = bench::monoNs();
    std::printf("main_ns=%lld ", static_cast<long long>(mainNs));

    // From here as in app/main.cpp.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stowline"));
    QApplication::setOrganizationName(QStringLiteral("Stowline"));
    QApplication::setApplicationVersion(QStringLiteral(STOWLINE_VERSION_TEXT));
    QWidget *window = Module1::Main();

    FirstPaint watch;
    watch.idleMs =
        qEnvironmentVariableIsSet("IDLE_MS") ? qEnvironmentVariableIntValue("IDLE_MS") : 1000;
    window->installEventFilter(&watch);
    // A window that never paints must not hang the benchmark.
    QTimer::singleShot(20000, &app, [] { QCoreApplication::exit(1); });
    return QApplication::exec();
}
