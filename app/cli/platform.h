#pragma once

#include "link/stoptoken.h"

#include <QString>
#include <QStringList>

// What the command line needs of the system: its standard streams, and a stop request from
// Ctrl-C, SIGINT or SIGTERM.
namespace CliPlatform {

// A program built for the window has no console on Windows: take the one it was started from.
void attachConsole();
bool stderrIsTerminal();
// Whether the window could be shown: without a display, Qt's platform plugin ends the program.
// Qt's -platform option and a QT_QPA_PLATFORM that needs none (offscreen) count as one.
bool displayAvailable(const QStringList &args);
void writeOut(const QString &text);
void writeOutBytes(const QByteArray &bytes); // as they are: UTF-8 stays UTF-8 on every system
void writeErr(const QString &text);

} // namespace CliPlatform

// Turns the interrupt signals into a stop request on the token while it lives: the handler
// only requests the stop, which wakes a job asleep in a wait at once. A second interrupt ends
// the program the system's way.
class InterruptWatch {
public:
    explicit InterruptWatch(StopToken &stop);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch &) = delete;
    InterruptWatch &operator=(const InterruptWatch &) = delete;
};
