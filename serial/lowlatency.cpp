#include "serial/lowlatency.h"

#include <QSerialPort>
#include <QString>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <csignal>
#endif

#ifdef Q_OS_LINUX
namespace {

// The ports whose flag this process changed, where a signal handler can
// reach them: a process ended by Ctrl+C, a script's time-out, a closed
// terminal or a closed pipe never runs the port's destructor, and the
// adapter would stay at 1 ms until it is plugged in again.
constexpr int MaxPorts = 4;
volatile sig_atomic_t g_Fd[MaxPorts] = {-1, -1, -1, -1};
volatile sig_atomic_t g_Saved[MaxPorts] = {};

const int Signals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};
struct sigaction g_Previous[sizeof Signals / sizeof Signals[0]];
bool g_Installed = false;

void putBack(int fd, int saved)
{
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags = (serial.flags & ~ASYNC_LOW_LATENCY) | (saved & ASYNC_LOW_LATENCY);
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
}

// Async-signal-safe: system calls only. The flags go back, then the signal
// does what it did before (a handler of the program's, or ending it).
void onSignal(int signal)
{
    for (int i = 0; i < MaxPorts; ++i) {
        if (g_Fd[i] >= 0)
            putBack(g_Fd[i], g_Saved[i]);
    }
    for (size_t i = 0; i < sizeof Signals / sizeof Signals[0]; ++i) {
        if (Signals[i] != signal)
            continue;
        const struct sigaction &before = g_Previous[i];
        if (!(before.sa_flags & SA_SIGINFO) && before.sa_handler != SIG_DFL
            && before.sa_handler != SIG_IGN) {
            before.sa_handler(signal);
            return;
        }
        ::sigaction(signal, &before, nullptr);
        ::raise(signal);
    }
}

void installHandlers()
{
    if (g_Installed)
        return;
    g_Installed = true;
    for (size_t i = 0; i < sizeof Signals / sizeof Signals[0]; ++i) {
        ::sigaction(Signals[i], nullptr, &g_Previous[i]);
        // Calls the signal interrupts are restarted as they were before
        // (rfcardd's stop handler asks for that; its serial thread's reads
        // must not fail on a signal meant for the main loop).
        struct sigaction action = {};
        action.sa_handler = onSignal;
        action.sa_mask = g_Previous[i].sa_mask;
        action.sa_flags = g_Previous[i].sa_flags & SA_RESTART;
        // A signal the program (or nohup) ignores stays ignored.
        if (!(g_Previous[i].sa_flags & SA_SIGINFO) && g_Previous[i].sa_handler == SIG_IGN)
            continue;
        ::sigaction(Signals[i], &action, nullptr);
    }
}

void remember(int fd, int saved)
{
    for (int i = 0; i < MaxPorts; ++i) {
        if (g_Fd[i] < 0) {
            g_Saved[i] = saved;
            g_Fd[i] = fd;
            return;
        }
    }
}

void forget(int fd)
{
    for (int i = 0; i < MaxPorts; ++i) {
        if (g_Fd[i] == fd)
            g_Fd[i] = -1;
    }
}

} // namespace
#endif

bool LowLatency::request(QSerialPort &port, int *saved)
{
#ifdef Q_OS_LINUX
    const int fd = port.handle();
    if (fd < 0 || qEnvironmentVariable("RFCARD_LOW_LATENCY") == QLatin1String("0"))
        return false;
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) != 0 || (serial.flags & ASYNC_LOW_LATENCY))
        return false;
    *saved = serial.flags;
    installHandlers();
    remember(fd, *saved);
    serial.flags |= ASYNC_LOW_LATENCY;
    if (::ioctl(fd, TIOCSSERIAL, &serial) == 0)
        return true;
    forget(fd);
    return false;
#else
    Q_UNUSED(port)
    Q_UNUSED(saved)
    return false;
#endif
}

void LowLatency::restore(QSerialPort &port, int saved)
{
#ifdef Q_OS_LINUX
    const int fd = port.handle();
    putBack(fd, saved);
    forget(fd);
#else
    Q_UNUSED(port)
    Q_UNUSED(saved)
#endif
}
