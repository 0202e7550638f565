#include "daemon/stopsignal.h"

#include <QCoreApplication>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
BOOL WINAPI onConsoleEvent(DWORD)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), &QCoreApplication::quit, Qt::QueuedConnection);
    return TRUE;
}
#else
// The handler only writes a byte; the event loop reads it (the usual way
// to bring a signal into a Qt program).
int g_Pipe[2] = {-1, -1};

void onSignal(int)
{
    const char byte = 1;
    (void)::write(g_Pipe[1], &byte, 1);
}
#endif

} // namespace

StopSignal::StopSignal(QObject *parent)
    : QObject(parent)
{
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_Pipe) != 0)
        return;
    ::fcntl(g_Pipe[1], F_SETFL, O_NONBLOCK);
    auto *notifier = new QSocketNotifier(g_Pipe[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [] { QCoreApplication::quit(); });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
#endif
}
