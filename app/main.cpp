#include "module1.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char *argv[]) {
    // Answered before Qt looks for a display, so it works on a machine without one.
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::printf("stowline %s\n", STOWLINE_VERSION_TEXT);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stowline"));
    QApplication::setOrganizationName(QStringLiteral("Stowline"));
    QApplication::setApplicationVersion(QStringLiteral(STOWLINE_VERSION_TEXT));
    // Lets the desktop match the window to its launcher and icon (the Wayland app id).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.stowline.Stowline"));
    // Qt has taken its own options out; what is left may name one file to open.
    const QStringList args = QApplication::arguments().mid(1);
    if (args.size() > 1 || (args.size() == 1 && args.first().startsWith(QLatin1Char('-')))) {
        std::fprintf(stderr, "Usage: stowline [FILE]\n");
        return 1;
    }
    Module1::Main(args.value(0));
    return QApplication::exec();
}
