#include "serial/lowlatency.h"

#include <QSerialPort>
#include <QString>

#ifdef Q_OS_LINUX
#include <linux/serial.h>
#include <sys/ioctl.h>
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
    serial.flags |= ASYNC_LOW_LATENCY;
    return ::ioctl(fd, TIOCSSERIAL, &serial) == 0;
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
    serial_struct serial{};
    if (::ioctl(fd, TIOCGSERIAL, &serial) == 0) {
        serial.flags = (serial.flags & ~ASYNC_LOW_LATENCY) | (saved & ASYNC_LOW_LATENCY);
        ::ioctl(fd, TIOCSSERIAL, &serial);
    }
#else
    Q_UNUSED(port)
    Q_UNUSED(saved)
#endif
}
