#include "serial/portdiagnosis.h"

#include "serial/portname.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#endif

#ifndef Q_OS_WIN

namespace {

// Where Qt Serial Port opens a port name, as an absolute path (a relative
// one starts from the current folder, which a run makes rfcard's own).
QString systemLocation(const QString &name)
{
    return QFileInfo(PortName::systemLocation(name)).absoluteFilePath();
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISREG(mode))
        return QStringLiteral("a plain file");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISBLK(mode))
        return QStringLiteral("a block device");
    return QStringLiteral("not a device");
}

// Whether the character device is a terminal line of some driver (a UART,
// a USB serial adapter, a pseudo-terminal): /proc/tty/drivers lists each
// driver's major number and its range of minors. /dev/null and its kind are
// devices too, held open by half the system: "busy" would be a lie.
bool isTerminalLine(dev_t device)
{
    QFile drivers(QStringLiteral("/proc/tty/drivers"));
    if (!drivers.open(QIODevice::ReadOnly))
        return true; // no way to tell: let the other checks speak
    for (const QByteArray &line : drivers.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() < 4 || f.at(2).toUInt() != major(device))
            continue;
        const QList<QByteArray> minors = f.at(3).split('-');
        const uint low = minors.at(0).toUInt();
        const uint high = minors.size() > 1 ? minors.at(1).toUInt() : low;
        if (minor(device) >= low && minor(device) <= high)
            return true;
    }
    return false;
}

QString groupName(gid_t gid)
{
    const group *g = ::getgrgid(gid);
    return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);
}

bool inGroup(gid_t gid)
{
    if (::getegid() == gid)
        return true;
    gid_t groups[256];
    const int n = ::getgroups(256, groups);
    for (int i = 0; i < n; ++i) {
        if (groups[i] == gid)
            return true;
    }
    return false;
}

// Whether the user is listed in the group's entry (an addition that takes
// effect only at the next login).
bool listedIn(gid_t gid)
{
    const passwd *me = ::getpwuid(::geteuid());
    const group *g = ::getgrgid(gid);
    if (!me || !g)
        return false;
    for (char **member = g->gr_mem; *member; ++member) {
        if (qstrcmp(*member, me->pw_name) == 0)
            return true;
    }
    return false;
}

QString permissionHint(const QString &path, const struct stat &st)
{
    QStringList who;
    if ((st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP))
        who << QStringLiteral("the group %1").arg(groupName(st.st_gid));
    if ((st.st_mode & (S_IROTH | S_IWOTH)) == (S_IROTH | S_IWOTH))
        who << QStringLiteral("everybody");
    const passwd *owner = ::getpwuid(st.st_uid);
    QString text
        = QStringLiteral("permission denied: %1 may be opened by its owner %2")
              .arg(path,
                  owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(st.st_uid));
    if (who.isEmpty())
        return text + QStringLiteral(" only");
    text += QStringLiteral(" and %1").arg(who.join(QStringLiteral(" and ")));
    if (!who.constFirst().startsWith(QLatin1String("the group")))
        return text;
    const QString group = groupName(st.st_gid);
    if (listedIn(st.st_gid))
        return text
            + QStringLiteral("; you were added to %1 but have not logged in again since")
                  .arg(group);
    if (!inGroup(st.st_gid))
        return text
            + QStringLiteral("; you are not in it (sudo usermod -aG %1 $USER, then log in "
                             "again)")
                  .arg(group);
    return text;
}

QString processName(const QString &pid)
{
    QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
    return comm.open(QIODevice::ReadOnly) ? QString::fromLocal8Bit(comm.readAll().trimmed())
                                          : QStringLiteral("?");
}

// The process named in the lock file Qt Serial Port keeps for the port (as
// rfcard's own Qt does), if it still runs: "LCK..ttyUSB0" in the first of
// Qt's lock folders that has it, with the holder's process number first.
QString lockHolder(const QString &path)
{
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *folder : {"/var/lock", "/etc/locks", "/var/spool/locks", "/var/spool/uucp",
             "/tmp", "/var/tmp", "/var/lock/lockdev", "/run/lock"}) {
        QFile lock(QString::fromLatin1(folder) + QStringLiteral("/LCK..") + name);
        if (!lock.open(QIODevice::ReadOnly))
            continue;
        const QString pid = QString::fromLatin1(lock.readLine().trimmed());
        if (!pid.isEmpty() && QFileInfo::exists(QStringLiteral("/proc/") + pid))
            return pid;
    }
    return QString();
}

// A lock file for the port that names no running process but that Qt could
// not take over: another user's in a sticky folder (anyone may write
// /run/lock), which only they and root may remove. Empty when there is none.
QString plantedLock(const QString &path)
{
    QString name = path.startsWith(QLatin1String("/dev/")) ? path.mid(5) : path;
    name.replace(QLatin1Char('/'), QLatin1Char('_'));
    for (const char *folder : {"/var/lock", "/run/lock", "/tmp", "/var/tmp"}) {
        const QString lock = QString::fromLatin1(folder) + QStringLiteral("/LCK..") + name;
        struct stat st;
        struct stat dir;
        if (::lstat(QFile::encodeName(lock).constData(), &st) != 0 || ::stat(folder, &dir) != 0
            || st.st_uid == ::geteuid())
            continue;
        const passwd *owner = ::getpwuid(st.st_uid);
        const QString who = owner ? QString::fromLocal8Bit(owner->pw_name)
                                  : QStringLiteral("user %1").arg(st.st_uid);
        return QStringLiteral("%1 is kept by the lock file %2, which %3 left and which names no "
                              "running process; %4 may remove it (sudo rm %2)")
            .arg(path, lock, who,
                (dir.st_mode & S_ISVTX) ? QStringLiteral("only %1 or root").arg(who)
                                        : QStringLiteral("root"));
    }
    return QString();
}

// The processes that have `path` open, as /proc lists them (all of them for
// root, one's own otherwise).
QStringList openedBy(const QString &path)
{
    const QString target = QFileInfo(path).canonicalFilePath();
    QStringList found;
    const QStringList pids = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : pids) {
        bool number = false;
        pid.toLongLong(&number);
        if (!number || pid.toLongLong() == ::getpid())
            continue;
        const QString fds = QStringLiteral("/proc/%1/fd").arg(pid);
        for (const QString &fd : QDir(fds).entryList(QDir::System | QDir::NoDotAndDotDot)) {
            if (QFile::symLinkTarget(fds + QLatin1Char('/') + fd) != target)
                continue;
            found << pid;
            break;
        }
    }
    return found;
}

QString named(const QString &pid)
{
    return QStringLiteral("%1 (%2)").arg(pid, processName(pid));
}

} // namespace

QString PortDiagnosis::explain(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("no port was named (an empty --com?)");
    const QString path = systemLocation(name);
    struct stat st;
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) {
        if (errno != ENOENT)
            return QStringLiteral("%1 cannot be examined: %2").arg(path, qt_error_string(errno));
        QString text = QStringLiteral("%1 does not exist").arg(path);
        if (name.startsWith(QLatin1String("COM"), Qt::CaseInsensitive))
            text += QStringLiteral(" (COM names are Windows'; here a port is a device such as "
                                   "/dev/ttyUSB0)");
        QStringList present = QDir(QStringLiteral("/dev/serial/by-id"))
                                  .entryList(QDir::System | QDir::NoDotAndDotDot);
        for (QString &p : present)
            p.prepend(QStringLiteral("/dev/serial/by-id/"));
        present
            += QDir(QStringLiteral("/dev"))
                   .entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")}, QDir::System);
        return text
            + (present.isEmpty() ? QStringLiteral("; no USB serial adapter is plugged in")
                                 : QStringLiteral("; serial adapters here: %1")
                                       .arg(present.join(QLatin1Char(' '))));
    }
    if (!S_ISCHR(st.st_mode))
        return QStringLiteral("%1 is %2, not a serial device").arg(path, kindOf(st.st_mode));
    if (!isTerminalLine(st.st_rdev))
        return QStringLiteral("%1 is a device, but not a serial device").arg(path);
    if (::faccessat(AT_FDCWD, QFile::encodeName(path).constData(), R_OK | W_OK, AT_EACCESS) != 0
        && errno == EACCES)
        return permissionHint(path, st);
    const QString locked = lockHolder(path);
    if (!locked.isEmpty())
        return QStringLiteral("%1 is busy: process %2 holds its lock").arg(path, named(locked));
    QStringList busy = openedBy(path);
    for (QString &pid : busy)
        pid = named(pid);
    if (!busy.isEmpty())
        return QStringLiteral("%1 is busy: process %2 has it open")
            .arg(path, busy.join(QStringLiteral(", process ")));
    const QString planted = plantedLock(path);
    if (!planted.isEmpty())
        return planted;
    return QStringLiteral("%1 could not be opened and the system shows no reason: the device may "
                          "have gone, or its driver refused it")
        .arg(path);
}

QList<qint64> PortDiagnosis::holders(const QString &name)
{
    const QString path = systemLocation(name);
    QList<qint64> pids;
    for (const QString &pid : QStringList(lockHolder(path)) + openedBy(path)) {
        if (!pid.isEmpty() && !pids.contains(pid.toLongLong()))
            pids << pid.toLongLong();
    }
    return pids;
}

#else // Q_OS_WIN

QList<qint64> PortDiagnosis::holders(const QString &)
{
    return {};
}

QString PortDiagnosis::explain(const QString &name)
{
    if (name.isEmpty())
        return QStringLiteral("no port was named (an empty --com?)");
    // A COM port that failed to open a moment ago is opened again to ask
    // Windows why; ports are exclusive there, so a busy one refuses at once.
    const QString device
        = name.startsWith(QLatin1String("\\\\.\\")) ? name : QStringLiteral("\\\\.\\") + name;
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(device.utf16()),
        GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h != INVALID_HANDLE_VALUE) {
        CloseHandle(h);
        return QStringLiteral("%1 opens now: it was probably busy a moment ago").arg(name);
    }
    switch (GetLastError()) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("%1 does not exist (Device Manager lists the ports under \"Ports "
                              "(COM & LPT)\")")
            .arg(name);
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return QStringLiteral("%1 is busy: another program has it open").arg(name);
    default:
        break;
    }
    wchar_t *text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, GetLastError(), 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString why = text ? QString::fromWCharArray(text).trimmed() : QString();
    LocalFree(text);
    return QStringLiteral("%1 could not be opened: %2").arg(name, why);
}

#endif // Q_OS_WIN
