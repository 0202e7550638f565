#ifndef FILELOCK_H
#define FILELOCK_H

#include <QString>

// An exclusive advisory lock on a lock file that is never removed. The
// operating system releases it when its holder exits or is killed, so a run
// that dies holding it delays nobody, and whatever the file contains (empty,
// garbage, an old process number) does not matter. The lock file must be a
// regular file; a link, FIFO or device in its place is refused at once. A
// lock file removed or replaced while a run waits on it is not trusted: the
// run takes the lock of the file the name leads to then.
class FileLock {
public:
    FileLock() = default;
    ~FileLock();
    FileLock(const FileLock &) = delete;
    FileLock &operator=(const FileLock &) = delete;

    // Tries until `timeoutMs` have passed. On failure `error` names the
    // cause: the file cannot be made or opened, or the process holding it.
    bool lock(const QString &path, int mode, int timeoutMs, QString *error);
    void unlock();

private:
    // Opens (or makes) the lock file; refuses anything but a regular file.
    bool open(const QString &path, int mode, QString *error);

#ifdef Q_OS_WIN
    void *m_Handle = nullptr;
#else
    int m_Fd = -1;
    // The process holding the lock on the file open as `fd`, 0 if unknown.
    static qint64 holder(int fd);
#endif
};

#endif // FILELOCK_H
