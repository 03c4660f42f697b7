// Start-up of the window as app/main.cpp runs it, with a watch on the main window's first paint.
// Prints CLOCK_MONOTONIC stamps, so the process that started this one can time from its spawn:
// paint_ns= the first Paint event of the main window, shown_ns= the event-loop turn after it
// (the frame is out); then, after a second of idling, the resident memory: rss_kib= hwm_kib=.
#include "window/mainwindow.h"

#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>
#include <ctime>

namespace {

long long monoNs() {
    timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1'000'000'000 + ts.tv_nsec;
}

QByteArray statusField(const QByteArray &status, const char *name) {
    const qsizetype at = status.indexOf(name);
    return at < 0 ? QByteArray("-1")
                  : status.mid(at + qstrlen(name)).simplified().split(' ').value(0);
}

class FirstPaint : public QObject {
protected:
    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Paint && paintNs_ < 0) {
            paintNs_ = monoNs();
            QTimer::singleShot(0, this, [this] {
                std::printf("paint_ns=%lld shown_ns=%lld ", paintNs_, monoNs());
                QTimer::singleShot(1000, this, [] {
                    QFile f(QStringLiteral("/proc/self/status"));
                    const QByteArray s = f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
                    std::printf("rss_kib=%s hwm_kib=%s\n", statusField(s, "VmRSS:").constData(),
                                statusField(s, "VmHWM:").constData());
                    std::fflush(stdout);
                    QCoreApplication::quit();
                });
            });
        }
        return QObject::eventFilter(watched, event);
    }

private:
    long long paintNs_ = -1;
};

} // namespace

int main(int argc, char *argv[]) {
    // From here as in app/main.cpp.
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stowline"));
    QApplication::setOrganizationName(QStringLiteral("Stowline"));
    QApplication::setApplicationVersion(QStringLiteral(STOWLINE_VERSION_TEXT));
    QGuiApplication::setDesktopFileName(QStringLiteral("org.stowline.Stowline"));
    auto *window = new MainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->load();
    window->show();

    FirstPaint watch;
    window->installEventFilter(&watch);
    QTimer::singleShot(20000, &app, [] { QCoreApplication::exit(1); }); // never painted
    return QApplication::exec();
}
