#include "toolrun.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>

#include <cstdio>
#include <sys/stat.h>

ToolRun::ToolRun()
{
    QFile::copy(QStringLiteral(RFCARD_BIN), exe());
}

void ToolRun::addBeside(const QString &path) const
{
    QFile::copy(path, m_Dir.filePath(QFileInfo(path).fileName()));
}

ToolRun::Result ToolRun::runBeside(
    const QString &name, const QStringList &args, const QString &workingDir) const
{
    QProcess p;
    p.setWorkingDirectory(workingDir.isEmpty() ? m_Dir.path() : workingDir);
    p.start(m_Dir.filePath(name), args);
    p.waitForFinished(60000);
    Result r;
    r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = p.readAllStandardOutput();
    r.err = p.readAllStandardError();
    return r;
}

void ToolRun::writeSettings(const QByteArray &content) const
{
    // Whole or not at all, as rfcard saves: a run that reads the file at the
    // same moment never sees half of it.
    const QString path = m_Dir.filePath(QStringLiteral("rfcard.json"));
    writeFile(path + QStringLiteral(".new"), content);
    std::rename(QFile::encodeName(path + QStringLiteral(".new")).constData(),
        QFile::encodeName(path).constData());
}

bool ToolRun::hasSettings() const
{
    return QFile::exists(m_Dir.filePath(QStringLiteral("rfcard.json")));
}

QString ToolRun::stored(const QString &module, const QString &key) const
{
    return settings().value(module).toObject().value(key).toString();
}

QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(unreadable)");
}

bool writeFile(const QString &path, const QByteArray &content)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(content) == content.size();
}

QStringList words(const QString &text)
{
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

// Whether some process waits in flock() for the file open as `fd`, as
// /proc/locks lists it: "1: -> FLOCK ADVISORY WRITE <pid> <maj>:<min>:<inode> 0 EOF".
bool someoneWaitsFor(int fd)
{
    struct stat st;
    QFile locks(QStringLiteral("/proc/locks"));
    if (::fstat(fd, &st) != 0 || !locks.open(QIODevice::ReadOnly))
        return false;
    const QByteArray inode = ':' + QByteArray::number(qulonglong(st.st_ino)) + ' ';
    for (const QByteArray &line : locks.readAll().split('\n')) {
        if (line.contains("-> FLOCK") && line.contains(inode))
            return true;
    }
    return false;
}
