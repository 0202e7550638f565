#include "strict/servicesocket.h"

#ifndef Q_OS_WIN
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#endif

#ifdef Q_OS_WIN

ServiceSocket::ServiceSocket() = default;
ServiceSocket::~ServiceSocket() = default;

bool ServiceSocket::connectTo(const QString &path, int timeoutMs)
{
    m_Socket.connectToServer(path);
    if (m_Socket.waitForConnected(timeoutMs))
        return true;
    m_Denied = m_Socket.error() == QLocalSocket::SocketAccessError;
    m_Error = m_Socket.errorString();
    return false;
}

bool ServiceSocket::ask(const QByteArray &line, QByteArray *answer, int timeoutMs)
{
    m_Socket.write(line + '\n');
    while (!m_Socket.canReadLine()) {
        if (m_Socket.state() != QLocalSocket::ConnectedState
            || !m_Socket.waitForReadyRead(timeoutMs)) {
            m_Error = m_Socket.errorString();
            return false;
        }
    }
    *answer = m_Socket.readLine().trimmed();
    return true;
}

#else

namespace {

// Waits up to timeoutMs for `events` on the descriptor; 0 when the time ran
// out, -1 on an error (errno says which).
int waitFor(int fd, short events, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (;;) {
        pollfd p{fd, events, 0};
        const int left = int(qMax<qint64>(0, timeoutMs - timer.elapsed()));
        const int n = ::poll(&p, 1, left);
        if (n >= 0 || errno != EINTR)
            return n;
    }
}

} // namespace

ServiceSocket::ServiceSocket() = default;

ServiceSocket::~ServiceSocket()
{
    if (m_Fd >= 0)
        ::close(m_Fd);
}

// The reason, worded as Qt's local socket words it: rfcard-strict reached
// the service through it before, and said these words.
void ServiceSocket::failed(const char *where, int error)
{
    QString why;
    switch (error) {
    case ECONNREFUSED:
    case EINVAL:
        why = QStringLiteral("Connection refused");
        break;
    case ENOENT:
    case ENAMETOOLONG:
        why = QStringLiteral("Invalid name");
        break;
    case EACCES:
    case EPERM:
        why = QStringLiteral("Socket access error");
        m_Denied = true;
        break;
    case ETIMEDOUT:
    case EAGAIN:
        why = QStringLiteral("Socket operation timed out");
        break;
    case EPIPE:
    case ECONNRESET:
        why = QStringLiteral("Remote closed");
        break;
    default:
        why = QStringLiteral("Unknown error %1").arg(error);
    }
    m_Error = QLatin1String(where) + QStringLiteral(": ") + why;
}

bool ServiceSocket::connectTo(const QString &path, int timeoutMs)
{
    const char *where = "QLocalSocket::connectToServer";
    const QByteArray name = QFile::encodeName(
        path.startsWith(QLatin1Char('/')) ? path : QDir::tempPath() + QLatin1Char('/') + path);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (size_t(name.size()) >= sizeof address.sun_path) {
        failed(where, ENAMETOOLONG);
        return false;
    }
    std::memcpy(address.sun_path, name.constData(), size_t(name.size()));
    m_Fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (m_Fd < 0) {
        failed(where, errno);
        return false;
    }
    // A listener whose queue is full refuses at once (EAGAIN): tried again
    // until the time is up.
    QElapsedTimer timer;
    timer.start();
    while (::connect(m_Fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0) {
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error == EAGAIN && timer.elapsed() < timeoutMs) {
            ::poll(nullptr, 0, 10);
            continue;
        }
        if (error == EINPROGRESS && waitFor(m_Fd, POLLOUT, timeoutMs) > 0) {
            int result = 0;
            socklen_t length = sizeof result;
            if (::getsockopt(m_Fd, SOL_SOCKET, SO_ERROR, &result, &length) == 0 && result == 0)
                return true;
            failed(where, result);
        } else {
            failed(where, error == EINPROGRESS ? ETIMEDOUT : error);
        }
        ::close(m_Fd);
        m_Fd = -1;
        return false;
    }
    return true;
}

bool ServiceSocket::ask(const QByteArray &line, QByteArray *answer, int timeoutMs)
{
    const char *where = "QLocalSocket";
    const QByteArray message = line + '\n';
    for (qsizetype sent = 0; sent < message.size();) {
        const ssize_t n
            = ::send(m_Fd, message.constData() + sent, size_t(message.size() - sent), MSG_NOSIGNAL);
        if (n > 0) {
            sent += n;
        } else if (errno == EAGAIN) {
            if (waitFor(m_Fd, POLLOUT, timeoutMs) <= 0) {
                failed(where, ETIMEDOUT);
                return false;
            }
        } else if (errno != EINTR) {
            failed(where, errno);
            return false;
        }
    }
    int end = m_Received.indexOf('\n');
    while (end < 0) {
        const int ready = waitFor(m_Fd, POLLIN, timeoutMs);
        if (ready <= 0) {
            failed(where, ready == 0 ? ETIMEDOUT : errno);
            return false;
        }
        char buffer[4096];
        const ssize_t n = ::recv(m_Fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            failed(where, n == 0 ? EPIPE : errno);
            return false;
        }
        if (n > 0) {
            m_Received.append(buffer, int(n));
            end = m_Received.indexOf('\n');
        }
    }
    *answer = m_Received.left(end + 1).trimmed();
    m_Received.remove(0, end + 1);
    return true;
}

#endif // Q_OS_WIN
