/* Test equipment for running rfcard.exe under Wine on a pseudo-terminal:
 * makes the modem-status ioctls succeed on a pty slave, as they do on a
 * cabled serial port. Loaded with LD_PRELOAD into the Wine processes of the
 * test only.
 *
 * What it fakes, and only this: TIOCMGET on a pty slave reports DTR, RTS,
 * CTS, DSR and CD set; TIOCMSET, TIOCMBIS and TIOCMBIC on a pty slave succeed
 * and change nothing. It calls the real ioctl first and answers only where
 * that failed with ENOTTY or EINVAL on a Unix98 pty slave (majors 136 to
 * 143); every other descriptor and request is passed through untouched.
 *
 * Why that is honest: a pty has no modem lines at all (Linux's pty driver has
 * no tiocmget), while a serial port with a cable to a powered card reports
 * exactly these lines as they are here: the host drives DTR and RTS, the far
 * end CTS, DSR and CD. Wine asks for them while it waits for input on a COM
 * port, and ends the wait at once when the call fails, so that a Windows
 * program on a pty never receives a byte that was not there before it
 * started waiting. No byte, no timing and no line setting is faked.
 *
 * Build: gcc -shared -fPIC -O2 -o modemstatus.so modemstatus.c -ldl */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdarg.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

static int pty_slave(int fd)
{
    struct stat st;
    return fstat(fd, &st) == 0 && S_ISCHR(st.st_mode) && major(st.st_rdev) >= 136
        && major(st.st_rdev) <= 143;
}

int ioctl(int fd, unsigned long request, ...)
{
    static int (*real)(int, unsigned long, ...);
    va_list args;
    va_start(args, request);
    void *arg = va_arg(args, void *);
    va_end(args);
    if (!real)
        real = (int (*)(int, unsigned long, ...))dlsym(RTLD_NEXT, "ioctl");
    int result = real(fd, request, arg);
    if (result == 0
        || (request != TIOCMGET && request != TIOCMSET && request != TIOCMBIS
            && request != TIOCMBIC))
        return result;
    int error = errno;
    if ((error != ENOTTY && error != EINVAL) || !pty_slave(fd)) {
        errno = error;
        return result;
    }
    if (request == TIOCMGET)
        *(int *)arg = TIOCM_DTR | TIOCM_RTS | TIOCM_CTS | TIOCM_DSR | TIOCM_CD;
    return 0;
}
