#include "daemon/listenfds.h"

#include <QFile>
#include <QHostAddress>
#include <QStringList>

#ifndef Q_OS_WIN
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

QList<ListenFds::Socket> ListenFds::take()
{
    QList<Socket> sockets;
#ifndef Q_OS_WIN
    constexpr int First = 3; // SD_LISTEN_FDS_START
    bool ok = false;
    const qint64 pid = qEnvironmentVariable("LISTEN_PID").toLongLong(&ok);
    const int count = qEnvironmentVariableIntValue("LISTEN_FDS");
    const QStringList names = qEnvironmentVariable("LISTEN_FDNAMES").split(QLatin1Char(':'));
    for (const char *name : {"LISTEN_PID", "LISTEN_FDS", "LISTEN_FDNAMES"})
        qunsetenv(name);
    if (!ok || pid != ::getpid() || count <= 0 || count > 64)
        return sockets;
    for (int fd = First; fd < First + count; ++fd) {
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
        sockaddr_storage address{};
        socklen_t size = sizeof address;
        if (::getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            continue;
        Socket s{fd, address.ss_family == AF_UNIX, names.value(fd - First), QString()};
        if (s.local) {
            const auto *un = reinterpret_cast<const sockaddr_un *>(&address);
            s.address = QFile::decodeName(un->sun_path);
        } else if (address.ss_family == AF_INET || address.ss_family == AF_INET6) {
            QHostAddress host(reinterpret_cast<const sockaddr *>(&address));
            const quint16 port = address.ss_family == AF_INET
                ? ntohs(reinterpret_cast<const sockaddr_in *>(&address)->sin_port)
                : ntohs(reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port);
            s.address = QStringLiteral("%1:%2").arg(host.toString()).arg(port);
        } else {
            continue;
        }
        sockets << s;
    }
#endif
    return sockets;
}
