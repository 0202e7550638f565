#include "daemon/nativesocket.h"

#ifdef Q_OS_WIN
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <fcntl.h>
#endif

#ifdef Q_OS_WIN

bool NativeSocket::setNonBlocking(qintptr socket)
{
    u_long on = 1;
    return ::ioctlsocket(SOCKET(socket), FIONBIO, &on) == 0;
}

qint64 NativeSocket::read(qintptr socket, char *data, qint64 size)
{
    const int n = ::recv(SOCKET(socket), data, int(qMin<qint64>(size, 1 << 30)), 0);
    if (n >= 0)
        return n;
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? WouldBlock : Failed;
}

qint64 NativeSocket::write(qintptr socket, const char *data, qint64 size)
{
    const int n = ::send(SOCKET(socket), data, int(qMin<qint64>(size, 1 << 30)), 0);
    if (n >= 0)
        return n;
    return ::WSAGetLastError() == WSAEWOULDBLOCK ? WouldBlock : Failed;
}

void NativeSocket::shutdownWrite(qintptr socket)
{
    ::shutdown(SOCKET(socket), SD_SEND);
}

void NativeSocket::close(qintptr socket)
{
    ::closesocket(SOCKET(socket));
}

#else

bool NativeSocket::setNonBlocking(qintptr socket)
{
    const int flags = ::fcntl(int(socket), F_GETFL);
    return flags >= 0 && ::fcntl(int(socket), F_SETFL, flags | O_NONBLOCK) == 0;
}

qint64 NativeSocket::read(qintptr socket, char *data, qint64 size)
{
    for (;;) {
        const ssize_t n = ::recv(int(socket), data, size_t(size), 0);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? WouldBlock : Failed;
    }
}

qint64 NativeSocket::write(qintptr socket, const char *data, qint64 size)
{
    for (;;) {
        // A client that has gone must not end the service with SIGPIPE.
        const ssize_t n = ::send(int(socket), data, size_t(size), MSG_NOSIGNAL);
        if (n >= 0)
            return n;
        if (errno == EINTR)
            continue;
        return errno == EAGAIN || errno == EWOULDBLOCK ? WouldBlock : Failed;
    }
}

void NativeSocket::shutdownWrite(qintptr socket)
{
    ::shutdown(int(socket), SHUT_WR);
}

void NativeSocket::close(qintptr socket)
{
    ::close(int(socket));
}

#endif

namespace {

QHostAddress addressOf(qintptr socket, quint16 *port, bool peer)
{
    sockaddr_storage address{};
#ifdef Q_OS_WIN
    int size = sizeof address;
    const auto name = peer ? ::getpeername : ::getsockname;
    if (name(SOCKET(socket), reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return QHostAddress();
#else
    socklen_t size = sizeof address;
    const auto name = peer ? ::getpeername : ::getsockname;
    if (name(int(socket), reinterpret_cast<sockaddr *>(&address), &size) != 0)
        return QHostAddress();
#endif
    if (address.ss_family == AF_INET)
        *port = ntohs(reinterpret_cast<const sockaddr_in *>(&address)->sin_port);
    else if (address.ss_family == AF_INET6)
        *port = ntohs(reinterpret_cast<const sockaddr_in6 *>(&address)->sin6_port);
    else
        return QHostAddress();
    return QHostAddress(reinterpret_cast<const sockaddr *>(&address));
}

} // namespace

QHostAddress NativeSocket::peerAddress(qintptr socket, quint16 *port)
{
    return addressOf(socket, port, true);
}

QHostAddress NativeSocket::localAddress(qintptr socket, quint16 *port)
{
    return addressOf(socket, port, false);
}

void NativeSocket::acknowledgeAtOnce(qintptr socket)
{
#ifdef Q_OS_LINUX
    const int on = 1;
    ::setsockopt(int(socket), IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
#else
    Q_UNUSED(socket)
#endif
}

void NativeSocket::sendAtOnce(qintptr socket)
{
#ifdef Q_OS_WIN
    const char on = 1;
    ::setsockopt(SOCKET(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
#else
    const int on = 1;
    ::setsockopt(int(socket), IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
#endif
}
