#include "store/filelock.h"

#include "store/settingsfile.h"

#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

#ifdef Q_OS_WIN
#include <QDir>
#include <qt_windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace {

#ifdef Q_OS_WIN
// Saves hold the lock for a few milliseconds: ask again often, so that a
// crowd of runs is served about as fast as the disk allows.
constexpr int RetryMs = 2;
#else
// A blocking wait for the lock is woken this often to look at the clock.
constexpr int TickMs = 50;

void tick(int) { }

// While it lives, SIGALRM interrupts blocking calls every TickMs (a signal
// that came just before the call is followed by the next one).
class Ticker {
public:
    Ticker()
    {
        struct sigaction action = {};
        action.sa_handler = tick; // no SA_RESTART: the wait returns EINTR
        sigemptyset(&action.sa_mask);
        sigaction(SIGALRM, &action, &m_Action);
        const timeval every = {0, TickMs * 1000};
        const itimerval timer = {every, every};
        setitimer(ITIMER_REAL, &timer, &m_Timer);
    }
    ~Ticker()
    {
        setitimer(ITIMER_REAL, &m_Timer, nullptr);
        sigaction(SIGALRM, &m_Action, nullptr);
    }

private:
    struct sigaction m_Action;
    itimerval m_Timer;
};
#endif

} // namespace

FileLock::~FileLock()
{
    unlock();
}

#ifndef Q_OS_WIN

namespace {

// Whether `fd` is still the file the name leads to (not replaced or removed).
bool stillNamed(int fd, const QByteArray &name)
{
    struct stat held;
    struct stat named;
    return ::fstat(fd, &held) == 0 && ::lstat(name.constData(), &named) == 0
        && held.st_dev == named.st_dev && held.st_ino == named.st_ino;
}

} // namespace

bool FileLock::open(const QString &path, int mode, QString *error)
{
    const QByteArray name = QFile::encodeName(path);
    // Reading is all a lock needs, so a lock file made by another operator
    // with a narrower mode still serves. O_NOFOLLOW and O_NONBLOCK: a link or
    // a FIFO put in its place neither redirects nor blocks the run.
    const int flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
    m_Fd = ::open(name.constData(), flags | O_CREAT | O_EXCL, S_IRUSR | S_IWUSR);
    if (m_Fd >= 0)
        ::fchmod(m_Fd, mode_t(mode)); // new: give it the mode the folder calls for
    else if (errno == EEXIST)
        m_Fd = ::open(name.constData(), flags);
    if (m_Fd < 0) {
        const int cause = errno;
        *error = QStringLiteral("cannot open the lock file \"%1\": %2")
                     .arg(path,
                         cause == ELOOP ? QStringLiteral("it is a link") : qt_error_string(cause));
        // The file that refused: the lock file itself, when it is there
        // (another operator may have taken its read permission away), else
        // the folder it could not be made in.
        struct stat st;
        const QString odd = SettingsFile::oddEntry(path);
        if (!odd.isEmpty())
            *error = QStringLiteral("the lock file \"%1\" is %2").arg(path, odd);
        else if (cause == EACCES && ::lstat(name.constData(), &st) == 0)
            *error += QStringLiteral(" (the lock file belongs to %1 and has mode %2; %3, and the "
                                     "next run makes a new one)")
                          .arg(SettingsFile::ownerName(st.st_uid))
                          .arg(st.st_mode & 07777, 3, 8, QLatin1Char('0'))
                          .arg(SettingsFile::whoMayRemove(path, st.st_uid));
        else if (cause == EACCES || cause == EROFS)
            *error += QStringLiteral(" (the folder is not writable)");
        return false;
    }
    struct stat st;
    if (::fstat(m_Fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        *error
            = QStringLiteral("the lock file \"%1\" is %2").arg(path, SettingsFile::oddEntry(path));
        unlock();
        return false;
    }
    return true;
}

bool FileLock::lock(const QString &path, int mode, int timeoutMs, QString *error)
{
    unlock();
    const QByteArray name = QFile::encodeName(path);
    const QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        if (!open(path, mode, error))
            return false;
        int result = ::flock(m_Fd, LOCK_EX | LOCK_NB);
        if (result != 0) {
            // Taken: wait in the kernel, which hands the lock on the moment
            // it is free, instead of asking again and again.
            const Ticker ticker;
            do
                result = ::flock(m_Fd, LOCK_EX);
            while (result != 0 && errno == EINTR && !deadline.hasExpired());
        }
        if (result != 0)
            break;
        // Whoever may write the folder may also remove or replace the lock
        // file while this run waits on it; the lock then guards nothing, as
        // the next run takes the file the name leads to now. So the lock
        // counts only if the name still leads to the locked file.
        if (stillNamed(m_Fd, name))
            return true;
        unlock();
        if (deadline.hasExpired()) {
            *error = QStringLiteral("the lock file \"%1\" was replaced again and again for %2 s")
                         .arg(path)
                         .arg(timeoutMs / 1000.0);
            return false;
        }
    }
    if (errno == EINTR) {
        const qint64 pid = holder(m_Fd);
        *error = QStringLiteral("\"%1\" was held by %2 for %3 s")
                     .arg(path,
                         pid > 0 ? QStringLiteral("process %1").arg(pid)
                                 : QStringLiteral("another process"))
                     .arg(timeoutMs / 1000.0);
    } else {
        *error = QStringLiteral("cannot lock \"%1\": %2").arg(path, qt_error_string(errno));
    }
    unlock();
    return false;
}

void FileLock::unlock()
{
    if (m_Fd >= 0)
        ::close(m_Fd); // closing the only descriptor releases the lock
    m_Fd = -1;
}

qint64 FileLock::holder(int fd)
{
    // Linux lists every lock in /proc/locks: "1: FLOCK ADVISORY WRITE <pid>
    // <major>:<minor>:<inode> 0 EOF", device numbers in hex.
    struct stat st;
    QFile locks(QStringLiteral("/proc/locks"));
    if (::fstat(fd, &st) != 0 || !locks.open(QIODevice::ReadOnly))
        return 0;
    const QByteArray id = QByteArray::number(major(st.st_dev), 16).rightJustified(2, '0') + ':'
        + QByteArray::number(minor(st.st_dev), 16).rightJustified(2, '0') + ':'
        + QByteArray::number(qulonglong(st.st_ino));
    for (const QByteArray &line : locks.readAll().split('\n')) {
        const QList<QByteArray> f = line.simplified().split(' ');
        if (f.size() >= 6 && f.at(1) == "FLOCK" && f.at(5) == id)
            return f.at(4).toLongLong();
    }
    return 0;
}

#else // Q_OS_WIN

namespace {

std::wstring wide(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

bool identify(HANDLE h, BY_HANDLE_FILE_INFORMATION *info)
{
    return GetFileInformationByHandle(h, info) != 0;
}

// Whether `held` is still the file the name leads to (not replaced or removed).
bool stillNamed(HANDLE held, const QString &path)
{
    const HANDLE named = CreateFileW(wide(path).c_str(), FILE_READ_ATTRIBUTES,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION a;
    BY_HANDLE_FILE_INFORMATION b;
    const bool same = identify(held, &a) && identify(named, &b)
        && a.dwVolumeSerialNumber == b.dwVolumeSerialNumber && a.nFileIndexHigh == b.nFileIndexHigh
        && a.nFileIndexLow == b.nFileIndexLow;
    CloseHandle(named);
    return same;
}

} // namespace

bool FileLock::open(const QString &path, int, QString *error)
{
    // FILE_FLAG_OPEN_REPARSE_POINT opens a link put in the file's place as
    // itself, so that it is seen and refused instead of followed.
    const HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("cannot open the lock file \"%1\": %2")
                     .arg(path, SettingsFile::systemError());
        return false;
    }
    m_Handle = h;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(h) != FILE_TYPE_DISK || !identify(h, &info)
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        const QString odd = SettingsFile::oddEntry(path);
        *error = QStringLiteral("the lock file \"%1\" is %2")
                     .arg(path, odd.isEmpty() ? QStringLiteral("not a regular file") : odd);
        unlock();
        return false;
    }
    return true;
}

bool FileLock::lock(const QString &path, int mode, int timeoutMs, QString *error)
{
    unlock();
    const QDeadlineTimer deadline(timeoutMs);
    while (open(path, mode, error)) {
        OVERLAPPED at = {};
        if (LockFileEx(HANDLE(m_Handle), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1,
                0, &at)) {
            // As on other systems: the lock counts only if the name still
            // leads to the locked file.
            if (stillNamed(HANDLE(m_Handle), path))
                return true;
        } else if (GetLastError() != ERROR_LOCK_VIOLATION) {
            *error
                = QStringLiteral("cannot lock \"%1\": %2").arg(path, SettingsFile::systemError());
            break;
        }
        if (deadline.hasExpired()) {
            *error = QStringLiteral("\"%1\" was held by another process for %2 s")
                         .arg(path)
                         .arg(timeoutMs / 1000.0);
            break;
        }
        unlock();
        QThread::msleep(RetryMs);
    }
    unlock();
    return false;
}

void FileLock::unlock()
{
    if (m_Handle)
        CloseHandle(HANDLE(m_Handle)); // closing the handle releases the lock
    m_Handle = nullptr;
}

#endif // Q_OS_WIN
