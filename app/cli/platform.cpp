#include "cli/platform.h"

#include <atomic>
#include <cstdio>

#ifdef Q_OS_WIN
#include <QCoreApplication>
#include <io.h>
#include <windows.h>
#else
#include <csignal>
#include <unistd.h>
#endif

namespace {

std::atomic<StopToken *> g_stop{nullptr};
std::atomic<bool> g_interrupted{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

#ifdef Q_OS_WIN
BOOL WINAPI onConsoleEvent(DWORD) {
    if (g_interrupted.exchange(true))
        return FALSE; // the second Ctrl-C ends the program at once
    if (StopToken *stop = g_stop.load())
        stop->request();
    return TRUE;
}
#else
void onInterrupt(int) {
    g_interrupted.store(true);
    if (StopToken *stop = g_stop.load())
        stop->request();
}
#endif

void writeTo(FILE *stream, const QString &text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}

} // namespace

void CliPlatform::attachConsole() {
#ifdef Q_OS_WIN
    // Streams the caller redirected are inherited and already work; the others go to the
    // console the program was started from, if any.
    const bool outMissing = GetFileType(GetStdHandle(STD_OUTPUT_HANDLE)) == FILE_TYPE_UNKNOWN;
    const bool errMissing = GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_UNKNOWN;
    if ((outMissing || errMissing) && AttachConsole(ATTACH_PARENT_PROCESS)) {
        FILE *reopened = nullptr;
        if (outMissing)
            freopen_s(&reopened, "CONOUT$", "w", stdout);
        if (errMissing)
            freopen_s(&reopened, "CONOUT$", "w", stderr);
    }
#endif
}

bool CliPlatform::stderrIsTerminal() {
#ifdef Q_OS_WIN
    return _isatty(_fileno(stderr)) != 0;
#else
    return ::isatty(fileno(stderr)) != 0;
#endif
}

void CliPlatform::writeOut(const QString &text) {
    writeTo(stdout, text);
}

void CliPlatform::writeErr(const QString &text) {
    writeTo(stderr, text);
}

void CliPlatform::writeOutBytes(const QByteArray &bytes) {
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stdout);
    std::fflush(stdout);
}

bool CliPlatform::displayAvailable(const QStringList &args) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_DARWIN)
    const QString platform = qEnvironmentVariable("QT_QPA_PLATFORM");
    if (args.contains(QLatin1String("-platform")) ||
        (!platform.isEmpty() && !platform.startsWith(QLatin1String("xcb")) &&
         !platform.startsWith(QLatin1String("wayland"))))
        return true;
    return !qEnvironmentVariable("DISPLAY").isEmpty() ||
           !qEnvironmentVariable("WAYLAND_DISPLAY").isEmpty();
#else
    Q_UNUSED(args);
    return true;
#endif
}

InterruptWatch::InterruptWatch(StopToken &stop) {
    g_interrupted.store(false);
    g_stop.store(&stop);
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    struct sigaction action = {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART; // the second interrupt ends the program
    ::sigaction(SIGINT, &action, nullptr);
    ::sigaction(SIGTERM, &action, nullptr);
#endif
}

InterruptWatch::~InterruptWatch() {
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
#else
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
#endif
    g_stop.store(nullptr);
}
