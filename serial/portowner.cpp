#include "serial/portowner.h"

#include <QFile>
#include <QSerialPort>

#ifndef Q_OS_WIN
#include <cerrno>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

PortOwner::Found PortOwner::of(const QSerialPort &port)
{
    Found found;
#ifdef Q_OS_WIN
    Q_UNUSED(port)
    found.known = true;
#else
    const int fd = int(port.handle());
    struct stat st;
    if (fd < 0) {
        found.why = QStringLiteral("the port has no descriptor");
        return found;
    }
    if (::fstat(fd, &st) != 0) {
        found.why = qt_error_string(errno);
        return found;
    }
    found.known = true;
    if (st.st_uid == 0 || st.st_uid == ::geteuid())
        return found;
    found.foreign = true;
    const passwd *owner = ::getpwuid(st.st_uid);
    found.owner = owner
        ? QStringLiteral("%1 (user %2)").arg(QString::fromLocal8Bit(owner->pw_name)).arg(st.st_uid)
        : QStringLiteral("user %1").arg(st.st_uid);
    // The terminal's name as the system finds it for this descriptor; a
    // device without one is named by its numbers.
    char name[256];
    found.device = ::ttyname_r(fd, name, sizeof name) == 0
        ? QFile::decodeName(name)
        : QStringLiteral("the device %1:%2").arg(major(st.st_rdev)).arg(minor(st.st_rdev));
#endif
    return found;
}
