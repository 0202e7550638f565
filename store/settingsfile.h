#ifndef SETTINGSFILE_H
#define SETTINGSFILE_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// The file operations of the settings store, made safe for a settings folder
// that several operators share (and so may plant links, FIFOs or devices
// in): nothing here follows a link it was not meant to, blocks on a special
// file, reads without bound, widens the mode of an existing file or leaves a
// half-written file behind. One branch for POSIX systems, one for Windows.
class SettingsFile {
public:
    struct Content {
        bool exists = false;
        bool regular = false; // exists and is a regular file
        bool tooLarge = false; // regular, but over the size limit (bytes left empty)
        QString notWritable; // why the running user may not write it, if so
        QByteArray bytes;
        QString error; // empty: read in full (or missing)
        int mode = -1; // permission bits, when it exists
    };

    // Where the settings named by `path` really are: the path itself, or the
    // target of a symbolic link that root or the running user owns (the
    // shared install links the program's folder to a data folder). A link
    // anybody else owns is refused. The result is absolute.
    static QString resolve(const QString &path, QString *error);

    // Reads a regular file of at most `maxSize` bytes without blocking on a
    // FIFO or device and without following a link put in its place.
    static Content read(const QString &path, qint64 maxSize);

    // Replaces `path` with `bytes` through "<path>.tmp": written, synced,
    // renamed over the old file and the folder synced. On any failure the
    // old file is left as it was, the temporary file is removed and `error`
    // says which step failed and why. Callers hold the settings lock, which
    // is what makes the one temporary name safe. Something at that name that
    // cannot be removed (a folder) is left alone and a name of its own is
    // used; `notes` says so, and says when the file was replaced but the
    // folder could not be synced.
    static bool replace(
        const QString &path, const QByteArray &bytes, int mode, QString *error, QStringList *notes);

    // Writes `bytes` to a new file `path`, which must not exist yet, and
    // syncs it to disk.
    static bool createNew(const QString &path, const QByteArray &bytes, int mode, QString *error);

    // Gives the regular file `path` a second name `newPath` (which must not
    // exist yet) and syncs the folder. With the file always replaced by
    // rename, never rewritten in place, the second name keeps its content.
    static bool linkAs(const QString &path, const QString &newPath, QString *error);

    // The mode a saved file gets in `folder`: that of the file it replaces
    // (`oldMode`), or for a new file what the user's umask allows, limited to
    // read and write bits, with nothing for others that the folder does not
    // give them, and with group read and write in a folder the group may
    // write to (a folder shared by operators, whose next run may be another
    // member's). So nobody's chmod on the file can lock the group out
    // through another's save, or give the file a set-id bit.
    static int modeFor(const QString &folder, int oldMode = -1);

    // A name beside `base` ("<base>.<random>") that nothing has yet.
    static QString unusedName(const QString &base);
    // Removes a directory entry without following it (a file or a link).
    static bool removeEntry(const QString &path);
    // Whether something, of whatever kind, is at `path` (links not followed).
    static bool exists(const QString &path);
    // A user's name ("user 1000" when the system has none for the number).
    static QString ownerName(uint uid);
    // What is at `path` when it is not a regular file (links not followed),
    // with its owner and who may remove it: "a folder, not a regular file
    // (owned by alice (user 1001); any member of the group dialout may
    // remove it)". Empty for a regular file or nothing.
    static QString oddEntry(const QString &path);
    // Who may remove an entry from the folder of `path`, which is owned by
    // `owner`: the folder's group, its owner, root.
    static QString whoMayRemove(const QString &path, uint owner);
    // Why the last system call failed, in the system's own words (errno, or
    // GetLastError on Windows, whose codes Qt's errno table would misread).
    static QString systemError();
    // Nanoseconds since the epoch of the last change, -1 when not there.
    static qint64 modifiedAt(const QString &path);
};

#endif // SETTINGSFILE_H
