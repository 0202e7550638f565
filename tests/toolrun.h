#ifndef TOOLRUN_H
#define TOOLRUN_H

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

// A command line split at blanks: words("--card vn2810 --ch 1").
QStringList words(const QString &text);
// A file's bytes ("(unreadable)" when it cannot be read), and a file written.
QByteArray fileBytes(const QString &path);
bool writeFile(const QString &path, const QByteArray &content);
// Whether some process waits in flock() for the file open as `fd`.
bool someoneWaitsFor(int fd);

// The real rfcard executable, copied into a temporary directory of its own
// (it keeps rfcard.json beside itself), and run like an operator would.
class ToolRun {
public:
    struct Result {
        int status = -1;
        QByteArray out;
        QByteArray err;
    };

    ToolRun();
    QString dir() const { return m_Dir.path(); }
    QString exe() const { return m_Dir.filePath(QStringLiteral("rfcard")); }
    Result run(const QStringList &args, const QString &workingDir = QString()) const
    {
        return runBeside(QStringLiteral("rfcard"), args, workingDir);
    }
    // A run on a port: "--com PORT" and the words of `args`.
    Result on(const QString &port, const QString &args) const
    {
        return run(QStringList{QStringLiteral("--com"), port} + words(args));
    }
    // Another executable of the build, copied beside the tool, and a run of
    // one of the executables there by name.
    void addBeside(const QString &path) const;
    Result runBeside(
        const QString &name, const QStringList &args, const QString &workingDir = QString()) const;

    bool hasSettings() const;
    QByteArray settingsText() const
    {
        return fileBytes(m_Dir.filePath(QStringLiteral("rfcard.json")));
    }
    QJsonObject settings() const { return QJsonDocument::fromJson(settingsText()).object(); }
    QString stored(const QString &module, const QString &key) const;
    void writeSettings(const QByteArray &content) const;

private:
    QTemporaryDir m_Dir;
};

#endif // TOOLRUN_H
