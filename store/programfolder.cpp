#include "store/programfolder.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#ifdef Q_OS_LINUX
#include <climits>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_LINUX
// The executable's folder as the kernel names it, byte for byte; empty when
// /proc is not there.
QByteArray nativeFolder()
{
    char target[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", target, sizeof target);
    if (n <= 0 || n >= ssize_t(sizeof target))
        return QByteArray();
    QByteArray exe(target, int(n));
    const int slash = exe.lastIndexOf('/');
    return slash <= 0 ? QByteArray("/") : exe.left(slash);
}
#endif

} // namespace

QString ProgramFolder::path(QString *error)
{
#ifdef Q_OS_LINUX
    const QByteArray native = nativeFolder();
    if (!native.isEmpty()) {
        const QString folder = QFile::decodeName(native);
        if (QFile::encodeName(folder) != native) {
            *error = QStringLiteral("the program folder \"%1\" has a name that is not valid in "
                                    "this system's file name encoding; settings are neither read "
                                    "nor saved (rename the folder, or run rfcard in a locale of "
                                    "that encoding)")
                         .arg(folder);
            return QString();
        }
        return folder;
    }
#endif
    if (!QCoreApplication::instance()) {
        *error = QStringLiteral("the program folder is not known");
        return QString();
    }
    return QCoreApplication::applicationDirPath();
}

bool ProgramFolder::enter()
{
#ifdef Q_OS_LINUX
    const QByteArray native = nativeFolder();
    if (!native.isEmpty())
        return ::chdir(native.constData()) == 0;
#endif
    return QDir::setCurrent(QCoreApplication::applicationDirPath());
}
