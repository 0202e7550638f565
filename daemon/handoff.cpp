#include "daemon/handoff.h"

#include <QFile>

#ifndef Q_OS_WIN
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

#ifndef Q_OS_WIN

bool Handoff::send(const QString &path, qintptr socket, const QByteArray &tag, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    sockaddr_un address{};
    if (name.size() >= int(sizeof address.sun_path)) {
        *error = QStringLiteral("%1: too long a name").arg(path);
        return false;
    }
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    const int card = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (card < 0 || ::connect(card, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0) {
        *error = QStringLiteral("%1: %2").arg(path, qt_error_string(errno));
        if (card >= 0)
            ::close(card);
        return false;
    }
    iovec data{const_cast<char *>(tag.constData()), size_t(tag.size())};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr *rights = CMSG_FIRSTHDR(&message);
    rights->cmsg_level = SOL_SOCKET;
    rights->cmsg_type = SCM_RIGHTS;
    rights->cmsg_len = CMSG_LEN(sizeof(int));
    const int passed = int(socket);
    std::memcpy(CMSG_DATA(rights), &passed, sizeof passed);
    const bool sent = ::sendmsg(card, &message, MSG_NOSIGNAL) == ssize_t(tag.size());
    if (!sent)
        *error = QStringLiteral("%1: %2").arg(path, qt_error_string(errno));
    ::close(card);
    return sent;
}

qintptr Handoff::receive(qintptr connection, QByteArray *tag)
{
    char bytes[64];
    iovec data{bytes, sizeof bytes};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(int))] = {};
    msghdr message{};
    message.msg_iov = &data;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    const ssize_t n = ::recvmsg(int(connection), &message, MSG_CMSG_CLOEXEC);
    const cmsghdr *rights = n > 0 ? CMSG_FIRSTHDR(&message) : nullptr;
    if (!rights || rights->cmsg_level != SOL_SOCKET || rights->cmsg_type != SCM_RIGHTS
        || rights->cmsg_len != CMSG_LEN(sizeof(int)))
        return -1;
    int fd = -1;
    std::memcpy(&fd, CMSG_DATA(rights), sizeof fd);
    *tag = QByteArray(bytes, int(n));
    return fd;
}

QByteArray Handoff::peek(qintptr socket, int most)
{
    QByteArray bytes(most, '\0');
    const ssize_t n = ::recv(int(socket), bytes.data(), size_t(most), MSG_PEEK | MSG_DONTWAIT);
    bytes.resize(n > 0 ? int(n) : 0);
    return bytes;
}

void Handoff::close(qintptr socket)
{
    ::close(int(socket));
}

#else // Q_OS_WIN

bool Handoff::send(const QString &, qintptr, const QByteArray &, QString *error)
{
    *error = QStringLiteral("no front on Windows: rfcardd serves its card itself");
    return false;
}

qintptr Handoff::receive(qintptr, QByteArray *)
{
    return -1;
}

QByteArray Handoff::peek(qintptr, int)
{
    return QByteArray();
}

void Handoff::close(qintptr) { }

#endif // Q_OS_WIN
