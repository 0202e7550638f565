#include "daemon/localsocketpath.h"

#include <QFile>
#include <QLocalSocket>

#ifndef Q_OS_WIN
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#ifndef Q_OS_WIN

bool LocalSocketPath::claim(const QString &path, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    struct stat st;
    if (::lstat(name.constData(), &st) != 0) {
        if (errno == ENOENT)
            return true;
        *error = QStringLiteral("%1: %2").arg(path, qt_error_string(errno));
        return false;
    }
    if (!S_ISSOCK(st.st_mode) || st.st_uid != ::geteuid()) {
        *error = QStringLiteral("%1 exists and is not a socket of this user's").arg(path);
        return false;
    }
    QLocalSocket probe;
    probe.connectToServer(path);
    if (probe.waitForConnected(1000)) {
        *error = QStringLiteral("%1 is in use: a server listens on it").arg(path);
        return false;
    }
    if (::unlink(name.constData()) != 0) {
        *error = QStringLiteral("%1 cannot be removed: %2").arg(path, qt_error_string(errno));
        return false;
    }
    return true;
}

qint64 LocalSocketPath::peerUid(qintptr socket)
{
#ifdef SO_PEERCRED
    ucred cred{};
    socklen_t size = sizeof cred;
    if (::getsockopt(int(socket), SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0)
        return cred.uid;
#else
    Q_UNUSED(socket)
#endif
    return -1;
}

bool LocalSocketPath::privileged(qint64 uid)
{
    return uid == 0 || uid == qint64(::geteuid());
}

QString LocalSocketPath::peer(qintptr socket, const QString &path)
{
#ifdef SO_PEERCRED
    ucred cred{};
    socklen_t size = sizeof cred;
    if (::getsockopt(int(socket), SOL_SOCKET, SO_PEERCRED, &cred, &size) == 0) {
        const passwd *user = ::getpwuid(cred.uid);
        return QStringLiteral("uid %1 (%2) on %3")
            .arg(cred.uid)
            .arg(user ? QString::fromLocal8Bit(user->pw_name) : QStringLiteral("?"), path);
    }
#else
    Q_UNUSED(socket)
#endif
    return path;
}

#else // Q_OS_WIN

bool LocalSocketPath::claim(const QString &, QString *)
{
    return true;
}

QString LocalSocketPath::peer(qintptr, const QString &path)
{
    return path;
}

qint64 LocalSocketPath::peerUid(qintptr)
{
    return -1;
}

bool LocalSocketPath::privileged(qint64)
{
    return false;
}

#endif // Q_OS_WIN
