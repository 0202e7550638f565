#include "store/settingsfile.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QStringList>

#include <algorithm>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#endif

namespace {

#ifndef Q_OS_WIN

constexpr int MaxLinkHops = 8;

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
}

QByteArray native(const QString &path)
{
    return QFile::encodeName(path);
}

QString lastError()
{
    return SettingsFile::systemError();
}

QString kindOf(mode_t mode)
{
    if (S_ISDIR(mode))
        return QStringLiteral("a folder");
    if (S_ISFIFO(mode))
        return QStringLiteral("a FIFO");
    if (S_ISSOCK(mode))
        return QStringLiteral("a socket");
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return QStringLiteral("a device");
    if (S_ISLNK(mode))
        return QStringLiteral("a link");
    return QStringLiteral("not a regular file");
}

bool writeAll(int fd, const QByteArray &bytes)
{
    const char *at = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, at, size_t(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            if (n == 0)
                errno = EIO;
            return false;
        }
        at += n;
        left -= n;
    }
    return true;
}

// Makes a rename or a new entry in `folder` last a power cut.
bool syncFolder(const QString &folder)
{
    const int fd = ::open(native(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    // Some file systems cannot sync a folder and say so with EINVAL; their
    // renames are as durable as they get.
    const bool ok = ::fsync(fd) == 0 || errno == EINVAL;
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return ok;
}

// Writes a new file that must not exist yet: O_EXCL never follows a link.
bool writeNewFile(const QString &path, const QByteArray &bytes, int mode, QString *error)
{
    const QByteArray name = native(path);
    const int fd = ::open(
        name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (fd < 0) {
        *error = QStringLiteral("cannot create \"%1\": %2").arg(path, lastError());
        if (errno == EACCES || errno == EROFS)
            *error += QStringLiteral(" (the folder is not writable)");
        return false;
    }
    const char *step = nullptr;
    if (::fchmod(fd, mode_t(mode)) != 0)
        step = "set the mode of";
    else if (!writeAll(fd, bytes))
        step = "write";
    else if (::fsync(fd) != 0)
        step = "sync";
    const int saved = errno;
    if (::close(fd) != 0 && !step)
        step = "close";
    else
        errno = saved;
    if (step) {
        *error = QStringLiteral("cannot %1 \"%2\": %3")
                     .arg(QString::fromLatin1(step), path, lastError());
        ::unlink(name.constData());
        return false;
    }
    return true;
}

#endif

} // namespace

#ifndef Q_OS_WIN

QString SettingsFile::resolve(const QString &path, QString *error)
{
    QString current = QFileInfo(path).absoluteFilePath();
    for (int hop = 0; hop < MaxLinkHops; ++hop) {
        struct stat st;
        if (::lstat(native(current).constData(), &st) != 0) {
            if (errno == ENOENT)
                return current; // not there yet: the first save makes it
            *error = QStringLiteral("\"%1\" cannot be examined: %2").arg(current, lastError());
            return QString();
        }
        if (!S_ISLNK(st.st_mode))
            return current;
        // Only a link that root or the user running this put there is
        // followed: in a folder others may write, anybody else's link could
        // point this run at a file of the user's own.
        if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
            *error = QStringLiteral("\"%1\" is a link owned by user %2, neither root nor you; "
                                    "not followed")
                         .arg(current)
                         .arg(st.st_uid);
            return QString();
        }
        char target[PATH_MAX];
        const ssize_t n = ::readlink(native(current).constData(), target, sizeof target - 1);
        if (n < 0) {
            *error = QStringLiteral("link \"%1\" cannot be read: %2").arg(current, lastError());
            return QString();
        }
        const QByteArray raw(target, int(n));
        const QString to = QFile::decodeName(raw);
        if (QFile::encodeName(to) != raw) {
            *error = QStringLiteral("link \"%1\" leads to a name that is not valid in this "
                                    "system's file name encoding; not followed")
                         .arg(current);
            return QString();
        }
        current = QDir::cleanPath(QDir(folderOf(current)).absoluteFilePath(to));
    }
    *error = QStringLiteral("\"%1\": too many links").arg(path);
    return QString();
}

SettingsFile::Content SettingsFile::read(const QString &path, qint64 maxSize)
{
    Content content;
    const int fd = ::open(
        native(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return content;
        content.exists = true;
        // Another operator's folder of mode 0700 refuses to be opened at
        // all: say what it is and whose, not only that it cannot be read.
        const QString cause = lastError();
        const QString odd = oddEntry(path);
        content.error = !odd.isEmpty() ? QStringLiteral("is %1").arg(odd)
            : errno == ELOOP           ? QStringLiteral("is a link that was not expected here")
                                       : QStringLiteral("cannot be read: %1").arg(cause);
        return content;
    }
    content.exists = true;
    struct stat st;
    if (::fstat(fd, &st) != 0) {
        content.error = QStringLiteral("cannot be read: %1").arg(lastError());
    } else if (!S_ISREG(st.st_mode)) {
        content.error = QStringLiteral("is %1").arg(oddEntry(path));
    } else {
        content.regular = true;
        content.mode = int(st.st_mode & 07777);
        if (::access(native(path).constData(), W_OK) != 0)
            content.notWritable = lastError();
        QByteArray bytes;
        char chunk[65536];
        while (st.st_size <= maxSize && bytes.size() <= maxSize) {
            const ssize_t n = ::read(fd, chunk, sizeof chunk);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                content.error = QStringLiteral("cannot be read: %1").arg(lastError());
                break;
            }
            if (n == 0)
                break;
            bytes.append(chunk, int(n));
        }
        // The size is checked again after reading: the file may have grown.
        content.tooLarge = st.st_size > maxSize || bytes.size() > maxSize;
        if (content.tooLarge)
            content.error = QStringLiteral("larger than %1 bytes").arg(maxSize);
        else if (content.error.isEmpty())
            content.bytes = bytes;
    }
    ::close(fd);
    return content;
}

bool SettingsFile::replace(
    const QString &path, const QByteArray &bytes, int mode, QString *error, QStringList *notes)
{
    QString temp = path + QStringLiteral(".tmp");
    // Under the lock nobody else is writing a temporary file: one that is
    // there was left by a run that was killed. What cannot be removed
    // (a folder, or another's entry in a sticky folder) is left alone.
    const QByteArray fixed = native(temp);
    struct stat st;
    if (::unlink(fixed.constData()) != 0 && ::lstat(fixed.constData(), &st) == 0) {
        const QString other = unusedName(temp);
        notes->append(QStringLiteral("\"%1\" is %2 and was left alone; saved through \"%3\"")
                          .arg(temp, kindOf(st.st_mode), other));
        temp = other;
    }
    if (!writeNewFile(temp, bytes, mode, error))
        return false;
    if (::rename(native(temp).constData(), native(path).constData()) != 0) {
        *error = QStringLiteral("cannot rename \"%1\" to \"%2\": %3").arg(temp, path, lastError());
        ::unlink(native(temp).constData());
        return false;
    }
    if (!syncFolder(folderOf(path)))
        notes->append(QStringLiteral("saved, but the folder of \"%1\" cannot be synced, so the "
                                     "save may not outlast a power cut: %2")
                          .arg(path, lastError()));
    return true;
}

bool SettingsFile::createNew(const QString &path, const QByteArray &bytes, int mode, QString *error)
{
    if (!writeNewFile(path, bytes, mode, error))
        return false;
    if (!syncFolder(folderOf(path))) {
        *error = QStringLiteral("cannot sync the folder of \"%1\": %2").arg(path, lastError());
        return false;
    }
    return true;
}

bool SettingsFile::linkAs(const QString &path, const QString &newPath, QString *error)
{
    if (::link(native(path).constData(), native(newPath).constData()) != 0) {
        *error = QStringLiteral("cannot link \"%1\" as \"%2\": %3").arg(path, newPath, lastError());
        return false;
    }
    if (!syncFolder(folderOf(newPath))) {
        *error = QStringLiteral("cannot sync the folder of \"%1\": %2").arg(newPath, lastError());
        return false;
    }
    return true;
}

int SettingsFile::modeFor(const QString &folder, int oldMode)
{
    if (oldMode < 0) {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        oldMode = 0666 & ~int(mask);
    }
    int mode = oldMode & 0666;
    struct stat st;
    if (::stat(native(folder).constData(), &st) != 0)
        return mode & 0660;
    // Others reach the file only through the folder: no more for them than
    // it gives them.
    if (!(st.st_mode & S_IXOTH))
        mode &= ~0007;
    else
        mode &= ~(((~st.st_mode) & (S_IROTH | S_IWOTH)));
    if (st.st_mode & S_IWGRP)
        mode |= S_IRGRP | S_IWGRP;
    return mode;
}

bool SettingsFile::removeEntry(const QString &path)
{
    return ::unlink(native(path).constData()) == 0;
}

bool SettingsFile::exists(const QString &path)
{
    struct stat st;
    return ::lstat(native(path).constData(), &st) == 0 || errno != ENOENT;
}

QString SettingsFile::ownerName(uint uid)
{
    const passwd *user = ::getpwuid(uid_t(uid));
    return user ? QStringLiteral("%1 (user %2)").arg(QString::fromLocal8Bit(user->pw_name)).arg(uid)
                : QStringLiteral("user %1").arg(uid);
}

QString SettingsFile::oddEntry(const QString &path)
{
    struct stat st;
    if (::lstat(native(path).constData(), &st) != 0 || S_ISREG(st.st_mode))
        return QString();
    return QStringLiteral("%1, not a regular file (owned by %2; %3)")
        .arg(kindOf(st.st_mode), ownerName(st.st_uid), whoMayRemove(path, st.st_uid));
}

QString SettingsFile::whoMayRemove(const QString &path, uint owner)
{
    struct stat folder;
    if (::stat(native(folderOf(path)).constData(), &folder) != 0)
        return QStringLiteral("whoever may write its folder may remove it");
    if (folder.st_mode & S_IWOTH)
        return QStringLiteral("anybody may remove it");
    if ((folder.st_mode & S_IWGRP) && !(folder.st_mode & S_ISVTX)) {
        const group *g = ::getgrgid(folder.st_gid);
        return QStringLiteral("any member of the group %1 may remove it")
            .arg(g ? QString::fromLocal8Bit(g->gr_name) : QString::number(folder.st_gid));
    }
    // In a sticky folder its owner too; else the folder's owner, and root.
    QStringList who;
    if ((folder.st_mode & S_ISVTX) && owner != 0 && owner != folder.st_uid)
        who << ownerName(owner);
    if (folder.st_uid != 0)
        who << QStringLiteral("the folder's owner %1").arg(ownerName(folder.st_uid));
    who << QStringLiteral("root");
    const QString last = who.takeLast();
    return (who.isEmpty() ? last : who.join(QStringLiteral(", ")) + QStringLiteral(" or ") + last)
        + QStringLiteral(" may remove it");
}

QString SettingsFile::systemError()
{
    return qt_error_string(errno);
}

qint64 SettingsFile::modifiedAt(const QString &path)
{
    struct stat st;
    if (::lstat(native(path).constData(), &st) != 0)
        return -1;
    return qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

#else // Q_OS_WIN

namespace {

// How long a save keeps trying to replace a file that a reader holds open.
constexpr int ReplaceRetryMs = 2000;

std::wstring wide(const QString &path)
{
    return QDir::toNativeSeparators(path).toStdWString();
}

QString lastError()
{
    return SettingsFile::systemError();
}

bool writeNewFileWin(const QString &path, const QByteArray &bytes, QString *error)
{
    const HANDLE h = CreateFileW(
        wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        *error = QStringLiteral("cannot create \"%1\": %2").arg(path, lastError());
        return false;
    }
    const char *step = nullptr;
    qint64 done = 0;
    while (!step && done < bytes.size()) {
        DWORD n = 0;
        const DWORD chunk = DWORD(std::min<qint64>(bytes.size() - done, 1 << 20));
        if (!WriteFile(h, bytes.constData() + done, chunk, &n, nullptr) || n == 0)
            step = "write";
        done += n;
    }
    if (!step && !FlushFileBuffers(h))
        step = "sync";
    const DWORD saved = GetLastError();
    if (!CloseHandle(h) && !step)
        step = "close";
    else
        SetLastError(saved);
    if (step) {
        *error = QStringLiteral("cannot %1 \"%2\": %3")
                     .arg(QString::fromLatin1(step), path, lastError());
        DeleteFileW(wide(path).c_str());
        return false;
    }
    return true;
}

} // namespace

// Windows keeps links (reparse points) rare and owner-checked by its own ACLs;
// the settings file is taken where it is and never opened through one.
QString SettingsFile::resolve(const QString &path, QString *error)
{
    const QString absolute = QFileInfo(path).absoluteFilePath();
    const DWORD attributes = GetFileAttributesW(wide(absolute).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        *error = QStringLiteral("\"%1\" is a link; not followed").arg(absolute);
        return QString();
    }
    return absolute;
}

SettingsFile::Content SettingsFile::read(const QString &path, qint64 maxSize)
{
    Content content;
    const HANDLE h = CreateFileW(wide(path).c_str(), GENERIC_READ,
        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
        FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        const DWORD code = GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND)
            return content;
        content.exists = true;
        content.error = QStringLiteral("cannot be read: %1").arg(lastError());
        return content;
    }
    content.exists = true;
    BY_HANDLE_FILE_INFORMATION info;
    LARGE_INTEGER size;
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info)
        || (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))) {
        content.error = QStringLiteral("is not a regular file");
    } else if (!GetFileSizeEx(h, &size)) {
        content.error = QStringLiteral("cannot be read: %1").arg(lastError());
    } else if (size.QuadPart > maxSize) {
        content.regular = true;
        content.tooLarge = true;
        content.error = QStringLiteral("larger than %1 bytes").arg(maxSize);
    } else {
        content.regular = true;
        content.mode = 0666;
        if (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY)
            content.notWritable = QStringLiteral("it is read-only");
        QByteArray bytes(int(size.QuadPart), Qt::Uninitialized);
        DWORD got = 0;
        if (!ReadFile(h, bytes.data(), DWORD(bytes.size()), &got, nullptr))
            content.error = QStringLiteral("cannot be read: %1").arg(lastError());
        bytes.truncate(int(got));
        content.bytes = bytes;
    }
    CloseHandle(h);
    return content;
}

bool SettingsFile::replace(
    const QString &path, const QByteArray &bytes, int, QString *error, QStringList *notes)
{
    QString temp = path + QStringLiteral(".tmp");
    if (!DeleteFileW(wide(temp).c_str()) && exists(temp)) {
        const QString other = unusedName(temp);
        notes->append(QStringLiteral("\"%1\" cannot be removed and was left alone; saved through "
                                     "\"%2\"")
                          .arg(temp, other));
        temp = other;
    }
    if (!writeNewFileWin(temp, bytes, error))
        return false;
    // Windows refuses to replace a file that another process has open, and
    // every run reads the settings without the lock when it starts: such a
    // reader holds the file for a moment only, so the rename is tried again.
    const QDeadlineTimer deadline(ReplaceRetryMs);
    while (!MoveFileExW(wide(temp).c_str(), wide(path).c_str(),
        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        const DWORD code = GetLastError();
        if ((code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION)
            || deadline.hasExpired()) {
            SetLastError(code);
            *error
                = QStringLiteral("cannot rename \"%1\" to \"%2\": %3").arg(temp, path, lastError());
            DeleteFileW(wide(temp).c_str());
            return false;
        }
        Sleep(5);
    }
    return true;
}

bool SettingsFile::createNew(const QString &path, const QByteArray &bytes, int, QString *error)
{
    return writeNewFileWin(path, bytes, error);
}

bool SettingsFile::linkAs(const QString &path, const QString &newPath, QString *error)
{
    if (!CreateHardLinkW(wide(newPath).c_str(), wide(path).c_str(), nullptr)) {
        *error = QStringLiteral("cannot link \"%1\" as \"%2\": %3").arg(path, newPath, lastError());
        return false;
    }
    return true;
}

int SettingsFile::modeFor(const QString &, int)
{
    return 0666; // Windows has no mode bits: the folder's ACL decides
}

bool SettingsFile::removeEntry(const QString &path)
{
    return DeleteFileW(wide(path).c_str()) != 0;
}

bool SettingsFile::exists(const QString &path)
{
    return GetFileAttributesW(wide(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

QString SettingsFile::ownerName(uint uid)
{
    return QStringLiteral("user %1").arg(uid); // no numeric owners on Windows
}

QString SettingsFile::oddEntry(const QString &path)
{
    const DWORD attributes = GetFileAttributesW(wide(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES
        || !(attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return QString();
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? QStringLiteral("a folder, not a regular file")
                                                   : QStringLiteral("a link, not a regular file");
}

QString SettingsFile::whoMayRemove(const QString &, uint)
{
    return QStringLiteral("whoever the folder's permissions allow may remove it");
}

QString SettingsFile::systemError()
{
    const DWORD code = GetLastError();
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = n > 0 ? QString::fromWCharArray(text, int(n)).trimmed()
                                  : QStringLiteral("error %1").arg(code);
    LocalFree(text);
    return message;
}

qint64 SettingsFile::modifiedAt(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() ? info.lastModified().toMSecsSinceEpoch() * 1000000 : -1;
}

#endif // Q_OS_WIN

QString SettingsFile::unusedName(const QString &base)
{
    for (;;) {
        const QString name
            = base + QLatin1Char('.') + QString::number(QRandomGenerator::global()->generate(), 36);
        if (!exists(name))
            return name;
    }
}
