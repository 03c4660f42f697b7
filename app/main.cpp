#include "module1.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Stowline"));
    QApplication::setOrganizationName(QStringLiteral("Stowline"));
    QApplication::setApplicationVersion(QStringLiteral(STOWLINE_VERSION_TEXT));
    Module1::Main();
    return QApplication::exec();
}
