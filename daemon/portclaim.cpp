#include "daemon/portclaim.h"

#include "daemon/auditlog.h"
#include "daemon/serviceconf.h"
#include "serial/portdiagnosis.h"
#include "serial/portname.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>

#ifndef Q_OS_WIN
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#ifndef Q_OS_WIN
namespace {

const char ServiceUser[] = "rfcardd";

QString ruleOf(const QString &name)
{
    return QStringLiteral("/run/udev/rules.d/61-rfcardd-%1.rules").arg(name);
}

// The card's name as the units give it: letters, digits, "-", "_".
bool validName(const QString &name)
{
    return QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{1,64}$")).match(name).hasMatch();
}

// What the card's configuration names as its port, as a device path.
QString portOf(const QString &name, QString *error)
{
    ServiceConf conf;
    if (!validName(name)) {
        *error = QStringLiteral("\"%1\" is not a card's name").arg(name);
        return QString();
    }
    if (!conf.read(PortClaim::confPath(name), error))
        return QString();
    return PortName::systemLocation(PortName::normalized(conf.com));
}

// The udev match for a port: a link udev makes (by-id, by-path) follows the
// adapter; anything else is the kernel's name of the device it leads to.
QString matchOf(const QString &port)
{
    if (port.startsWith(QLatin1String("/dev/serial/")))
        return QStringLiteral("SYMLINK==\"%1\"").arg(port.mid(5));
    const QString canonical = QFileInfo(port).canonicalFilePath();
    return QStringLiteral("KERNEL==\"%1\"")
        .arg(QFileInfo(canonical.isEmpty() ? port : canonical).fileName());
}

void reloadUdev()
{
    if (!QFileInfo::exists(QStringLiteral("/run/udev/control")))
        return; // no udev (a container): the device present is all there is
    QProcess::execute(
        QStringLiteral("udevadm"), {QStringLiteral("control"), QStringLiteral("--reload")});
}

} // namespace
#endif

QString PortClaim::confPath(const QString &name)
{
    return QStringLiteral("/etc/rfcard/rfcardd/%1.conf").arg(name);
}

QString PortClaim::heldMarker()
{
    const QString folder = qEnvironmentVariable("RUNTIME_DIRECTORY");
    return folder.isEmpty() ? QString()
                            : folder.section(QLatin1Char(':'), 0, 0) + QStringLiteral("/port-held");
}

#ifndef Q_OS_WIN

int PortClaim::claim(const QString &name)
{
    QString error;
    const QString port = portOf(name, &error);
    if (port.isEmpty()) {
        // The service says what is wrong with the configuration.
        AuditLog::say(QStringLiteral("%1: the port is not claimed: %2").arg(name, error));
        return 0;
    }
    const passwd *user = ::getpwnam(ServiceUser);
    if (!user) {
        AuditLog::say(
            QStringLiteral("%1: there is no user %2").arg(name, QLatin1String(ServiceUser)));
        return 1;
    }
    // Only names a rule can hold as they are: no quotes, blanks or patterns.
    const QRegularExpression plain(QStringLiteral("^/dev/[A-Za-z0-9._:+@/-]+$"));
    const QString match = matchOf(port);
    const QString canonical = QFileInfo(port).canonicalFilePath();
    if (!plain.match(port).hasMatch()
        || (!canonical.isEmpty() && !plain.match(canonical).hasMatch())) {
        AuditLog::say(QStringLiteral("%1: %2 cannot be named in a udev rule").arg(name, port));
        return 1;
    }
    QDir().mkpath(QStringLiteral("/run/udev/rules.d"));
    QSaveFile rule(ruleOf(name));
    if (!rule.open(QIODevice::WriteOnly)
        || rule.write(QStringLiteral("# The port of the rfcard service %1 (%2): the service's "
                                     "alone while its socket is up.\n"
                                     "SUBSYSTEM==\"tty\", %3, OWNER=\"%4\", GROUP=\"%4\", "
                                     "MODE=\"0600\"\n")
                          .arg(name, port, match, QLatin1String(ServiceUser))
                          .toUtf8())
            < 0
        || !rule.commit()) {
        AuditLog::say(
            QStringLiteral("%1: cannot write %2: %3").arg(name, ruleOf(name), rule.errorString()));
        return 1;
    }
    reloadUdev();
    // The device there now, at once (udev applies the rule to the next one).
    const QByteArray device = QFile::encodeName(QFileInfo(port).canonicalFilePath());
    struct stat st;
    if (!device.isEmpty() && ::stat(device.constData(), &st) == 0 && S_ISCHR(st.st_mode)) {
        if (::chown(device.constData(), user->pw_uid, user->pw_gid) != 0
            || ::chmod(device.constData(), 0600) != 0) {
            AuditLog::say(QStringLiteral("%1: cannot give %2 to %3: %4")
                              .arg(name, port, QLatin1String(ServiceUser), qt_error_string(errno)));
            return 1;
        }
    }
    AuditLog::say(QStringLiteral("%1: %2 is the service's alone").arg(name, port));
    return 0;
}

int PortClaim::release(const QString &name)
{
    if (!validName(name))
        return 1;
    QFile::remove(ruleOf(name));
    reloadUdev();
    QString error;
    const QString port = portOf(name, &error);
    const QByteArray device = QFile::encodeName(QFileInfo(port).canonicalFilePath());
    const passwd *user = ::getpwnam(ServiceUser);
    const group *dialout = ::getgrnam("dialout");
    struct stat st;
    // Back as Debian gives serial ports: root's, the group dialout's.
    if (user && !device.isEmpty() && ::stat(device.constData(), &st) == 0 && S_ISCHR(st.st_mode)
        && st.st_uid == user->pw_uid) {
        if (::chown(device.constData(), 0, dialout ? dialout->gr_gid : 0) == 0)
            ::chmod(device.constData(), 0660);
    }
    return 0;
}

int PortClaim::check(const QString &name)
{
    QString error;
    const QString port = portOf(name, &error);
    const QString marker = heldMarker();
    if (!marker.isEmpty())
        QFile::remove(marker);
    if (port.isEmpty())
        return 0; // the service says what is wrong
    QStringList held;
    for (const qint64 pid : PortDiagnosis::holders(port)) {
        QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
        const QString what = comm.open(QIODevice::ReadOnly)
            ? QString::fromLocal8Bit(comm.readAll().trimmed())
            : QStringLiteral("?");
        const uint uid = QFileInfo(QStringLiteral("/proc/%1").arg(pid)).ownerId();
        const passwd *owner = ::getpwuid(uid);
        held << QStringLiteral("process %1 (%2) of %3")
                    .arg(pid)
                    .arg(what,
                        owner ? QString::fromLocal8Bit(owner->pw_name) : QString::number(uid));
    }
    if (held.isEmpty())
        return 0;
    const QString why
        = QStringLiteral("%1 is held open by %2: the service %3 does not share its card; "
                         "end it, then systemctl restart rfcardd@%3.service")
              .arg(port, held.join(QStringLiteral(", ")), name);
    AuditLog::say(why);
    if (!marker.isEmpty()) {
        QSaveFile file(marker);
        if (file.open(QIODevice::WriteOnly)) {
            file.write(why.toUtf8());
            file.commit();
        }
    }
    return 0;
}

#else // Q_OS_WIN

int PortClaim::claim(const QString &)
{
    AuditLog::say(QStringLiteral("--claim is for the units of a Linux install"));
    return 1;
}

int PortClaim::release(const QString &)
{
    return 1;
}

int PortClaim::check(const QString &)
{
    return 1;
}

#endif // Q_OS_WIN
