#include "cli.h"
#include "clirun.h"
#include "module1.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    // A command word runs without a window (and without a display); anything else opens it.
    QStringList args;
    for (int i = 1; i < argc; ++i)
        args << QString::fromLocal8Bit(argv[i]);
    if (Cli::wantsCommandLine(args))
        return Cli::run(argc, argv);

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stowline"));
    QApplication::setOrganizationName(QStringLiteral("Stowline"));
    QApplication::setApplicationVersion(QStringLiteral(STOWLINE_VERSION_TEXT));
    Module1::Main();
    return QApplication::exec();
}
