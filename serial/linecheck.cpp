#include "serial/linecheck.h"

#include <QFile>
#include <QSerialPort>

#ifndef Q_OS_WIN
#include <poll.h>
#include <sys/stat.h>
#endif

bool LineCheck::lost(const QSerialPort &port, const QString &location)
{
#ifdef Q_OS_WIN
    Q_UNUSED(location)
    return port.error() == QSerialPort::ResourceError;
#else
    const int fd = int(port.handle());
    if (fd < 0)
        return true;
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 0) < 0 || (p.revents & (POLLHUP | POLLERR | POLLNVAL)))
        return true;
    struct stat open;
    struct stat named;
    if (::fstat(fd, &open) != 0 || ::stat(QFile::encodeName(location).constData(), &named) != 0)
        return true;
    return open.st_rdev != named.st_rdev || open.st_ino != named.st_ino
        || open.st_dev != named.st_dev;
#endif
}
