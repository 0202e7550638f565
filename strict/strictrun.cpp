#include "strict/strictrun.h"

#include "strict/argumentcheck.h"
#include "strict/outputsplitter.h"
#include "strict/portdiagnosis.h"
#include "strict/runverdict.h"
#include "strict/setcheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QProcess>

#include <cstdio>
#include <cstring>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <fcntl.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

void writeOut(FILE *stream, const QByteArray &bytes)
{
    std::fwrite(bytes.constData(), 1, size_t(bytes.size()), stream);
    std::fflush(stream);
}

#ifdef Q_OS_UNIX

// rfcard prints its protocol lines with printf. On a pipe, standard output
// is block-buffered and those lines would come out long after the log lines
// written around them; on a terminal it is line-buffered. So rfcard writes
// both streams to one pseudo-terminal, in raw mode so that no byte changes,
// and the lines arrive in the order rfcard wrote them.
struct Pty {
    int master = -1;
    int slave = -1;

    bool open()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (master < 0 || ::grantpt(master) != 0 || ::unlockpt(master) != 0)
            return false;
        const char *name = ::ptsname(master);
        slave = name ? ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC) : -1;
        if (slave < 0)
            return false;
        termios tio{};
        ::tcgetattr(slave, &tio);
        ::cfmakeraw(&tio);
        return ::tcsetattr(slave, TCSANOW, &tio) == 0;
    }

    void closeSlave()
    {
        if (slave >= 0)
            ::close(slave);
        slave = -1;
    }

    ~Pty()
    {
        closeSlave();
        if (master >= 0)
            ::close(master);
    }
};

#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
// Qt 5 sets a child up through this virtual, after the standard channels.
class PtyProcess : public QProcess {
public:
    explicit PtyProcess(int slave)
        : m_Slave(slave)
    {
    }

protected:
    void setupChildProcess() override
    {
        ::dup2(m_Slave, STDOUT_FILENO);
        ::dup2(m_Slave, STDERR_FILENO);
    }

private:
    int m_Slave;
};
#endif

#endif // Q_OS_UNIX

} // namespace

QString StrictRun::rfcardPath()
{
#ifdef Q_OS_WIN
    const QString name = QStringLiteral("rfcard.exe");
#else
    const QString name = QStringLiteral("rfcard");
#endif
    return QDir(QCoreApplication::applicationDirPath()).filePath(name);
}

QProcessEnvironment StrictRun::childEnvironment()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    // Rules in this variable override every logging configuration file, so
    // the lines the verdict is made of are all written.
    env.insert(QStringLiteral("QT_LOGGING_RULES"),
        QStringLiteral("default.debug=true;default.info=true;default.warning=true;"
                       "default.critical=true"));
    // A message pattern would reword every line; fatal warnings would end
    // the run at its first failure line.
    env.remove(QStringLiteral("QT_MESSAGE_PATTERN"));
    env.remove(QStringLiteral("QT_FATAL_WARNINGS"));
    env.remove(QStringLiteral("QT_FATAL_CRITICALS"));
    // The log goes to standard error, never to the system journal.
    env.insert(QStringLiteral("QT_FORCE_STDERR_LOGGING"), QStringLiteral("1"));
    return env;
}

int StrictRun::exec(const QString &program, const QStringList &arguments)
{
    RunVerdict::Status status = RunVerdict::Ok;
    QString reason;
    const ArgumentCheck check(arguments);
    if (check.verdict() != ArgumentCheck::Run) {
        // Refused before rfcard runs: nothing is sent and nothing stored.
        status = check.verdict() == ArgumentCheck::Positional ? RunVerdict::Usage
                                                              : RunVerdict::Refused;
        reason = check.reason();
    } else {
        RunVerdict verdict;
        OutputSplitter splitter([&](const QByteArray &line, bool terminated) {
            verdict.addLine(line);
            writeOut(stderr, terminated ? line + '\n' : line);
        });
        QString error;
        const int exitCode = runMerged(program, arguments, splitter, error);
        splitter.finish();

        status = verdict.status(exitCode, splitter.report());
        writeOut(stdout, splitter.report());
        reason = error.isEmpty() ? verdict.reason() : error;
        if (status == RunVerdict::Usage)
            reason.clear(); // rfcard said it
        if (status == RunVerdict::PortFailed)
            reason += QStringLiteral(": ")
                + PortDiagnosis::explain(verdict.failedPort(), QFileInfo(program).canonicalPath());
        // The card answered every command of a set run as expected: whether
        // it holds the values only a read-back tells.
        if ((status == RunVerdict::Ok || status == RunVerdict::NotSaved) && check.isSetRun()
            && qEnvironmentVariable("RFCARD_STRICT_VERIFY") != QLatin1String("0")) {
            const Outcome outcome = verify(program, verdict, check.channel());
            if (outcome.status != RunVerdict::Ok) {
                status = RunVerdict::Status(outcome.status);
                reason = outcome.reason;
            }
        }
    }
    if (status != RunVerdict::Ok && !reason.isEmpty())
        writeOut(stderr,
            QStringLiteral("rfcard-strict: exit %1, %2: %3\n")
                .arg(int(status))
                .arg(RunVerdict::meaning(status), reason)
                .toLocal8Bit());
    return status;
}

StrictRun::Outcome StrictRun::verify(const QString &program, const RunVerdict &set, int channel)
{
    const QMap<QString, QString> expected
        = SetCheck::expected(set.model(), SetCheck::applied(set.appliedParameters()));
    if (expected.isEmpty())
        return {RunVerdict::Ok, QString()};
    QStringList arguments{QStringLiteral("--card"), set.model(), QStringLiteral("--part"),
        QStringLiteral("1"), QStringLiteral("--gch"), QString::number(channel)};
    if (!set.openedPort().isEmpty())
        arguments << QStringLiteral("--com") << set.openedPort();

    // The read-back's own lines are kept back: they only matter when it fails.
    RunVerdict readBack;
    QByteArray lines;
    OutputSplitter splitter([&](const QByteArray &line, bool) {
        readBack.addLine(line);
        lines += line + '\n';
    });
    QString error;
    const int exitCode = runMerged(program, arguments, splitter, error);
    splitter.finish();
    const RunVerdict::Status status = readBack.status(exitCode, splitter.report());
    if (status != RunVerdict::Ok && status != RunVerdict::NotSaved) {
        writeOut(stderr, lines);
        return {RunVerdict::CardFault,
            QStringLiteral("the read-back that verifies the set run failed: %1")
                .arg(error.isEmpty() ? readBack.reason() : error)};
    }
    const QList<SetCheck::Difference> differences
        = SetCheck::compare(expected, QJsonDocument::fromJson(splitter.report()).object());
    if (differences.isEmpty())
        return {RunVerdict::Ok, QString()};
    QStringList keys;
    for (const SetCheck::Difference &d : differences) {
        writeOut(stderr,
            QStringLiteral("rfcard-strict: %1: set %2, read %3\n")
                .arg(d.key, d.set, d.read.isEmpty() ? QStringLiteral("nothing") : d.read)
                .toLocal8Bit());
        keys << d.key;
    }
    return {RunVerdict::Mismatch,
        QStringLiteral("%1 on channel %2").arg(keys.join(QStringLiteral(", "))).arg(channel)};
}

int StrictRun::runMerged(
    const QString &program, const QStringList &arguments, OutputSplitter &splitter, QString &error)
{
#ifdef Q_OS_UNIX
    Pty pty;
    if (!pty.open()) {
        error = QStringLiteral("cannot make a pseudo-terminal for rfcard's output: %1")
                    .arg(QString::fromLocal8Bit(std::strerror(errno)));
        return -1;
    }
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    PtyProcess process(pty.slave);
#else
    QProcess process;
    const int slave = pty.slave;
    process.setChildProcessModifier([slave] {
        ::dup2(slave, STDOUT_FILENO);
        ::dup2(slave, STDERR_FILENO);
    });
#endif
    process.setStandardOutputFile(QProcess::nullDevice());
    process.setStandardErrorFile(QProcess::nullDevice());
#else
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
#endif
    process.setInputChannelMode(QProcess::ForwardedInputChannel);
    process.setProcessEnvironment(childEnvironment());
    process.start(program, arguments);
    if (!process.waitForStarted(-1)) {
        error = QStringLiteral("cannot run %1: %2").arg(program, process.errorString());
        return -1;
    }

#ifdef Q_OS_UNIX
    // Once rfcard holds the only other end, reading stops with EIO when it
    // has ended and everything it wrote has been read.
    pty.closeSlave();
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pty.master, buffer, sizeof buffer);
        if (n > 0)
            splitter.feed(QByteArray(buffer, int(n)));
        else if (n == 0 || errno != EINTR)
            break;
    }
    process.waitForFinished(-1);
#else
    while (process.waitForReadyRead(-1))
        splitter.feed(process.readAll());
    process.waitForFinished(-1);
    splitter.feed(process.readAll());
#endif
    if (process.exitStatus() != QProcess::NormalExit) {
        error = QStringLiteral("rfcard did not end normally (%1)").arg(process.errorString());
        return -1;
    }
    return process.exitCode();
}
