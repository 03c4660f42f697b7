#include "cli/commandline.h"
#include "cli/platform.h"
#include "cli/run.h"
#include "window/mainwindow.h"

#include <QApplication>
#include <cstdio>

int main(int argc, char *argv[]) {
    // A command word runs without a window (and without a display); anything else opens it,
    // when there is a display to show it on.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    switch (Cli::start(args, CliPlatform::displayAvailable(args))) {
    case Cli::Start::CommandLine:
        return Cli::run(argc, argv);
    case Cli::Start::NoDisplay:
        std::fprintf(stderr, "stowline: the window needs a display, and there is none\n"
                             "The commands run without one: try 'stowline --help'.\n");
        return Cli::Usage;
    case Cli::Start::Window:
        break;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stowline"));
    QApplication::setOrganizationName(QStringLiteral("Stowline"));
    QApplication::setApplicationVersion(QStringLiteral(STOWLINE_VERSION_TEXT));
    // Lets the desktop match the window to its launcher and icon (the Wayland app id).
    QGuiApplication::setDesktopFileName(QStringLiteral("org.stowline.Stowline"));
    // Qt has taken its own options out; what is left may name one file to open.
    const QStringList files = QApplication::arguments().mid(1);
    if (files.size() > 1 || (files.size() == 1 && files.first().startsWith(QLatin1Char('-')))) {
        std::fprintf(stderr, "Usage: stowline [FILE]\nTry 'stowline --help'.\n");
        return 1;
    }
    auto *window = new MainWindow;
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->load();
    window->show();
    if (!files.isEmpty())
        window->openFile(files.first());
    return QApplication::exec();
}
