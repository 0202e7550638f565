// rfcard-strict: one rfcard run for a script, with a status that says what
// happened with the card (strict/strictrun.h).

#include "app/consoletext.h"
#include "cards/linesync.h"
#include "strict/strictrun.h"

#include <QCoreApplication>
#include <QLoggingCategory>

#include <cstdio>
#include <cstdlib>

#ifdef Q_OS_WIN
#include <io.h>
#define dup _dup
#define dup2 _dup2
#define fdopen _fdopen
#define fileno _fileno
#else
#include <unistd.h>
#endif

namespace {

QLoggingCategory::CategoryFilter g_Rules = nullptr;

// Every line of rfcard's log is written, whatever a logging configuration
// says: a person reading standard error gets the whole run.
void everyLine(QLoggingCategory *category)
{
    if (g_Rules)
        g_Rules(category);
    if (qstrcmp(category->categoryName(), "default") == 0) {
        for (const QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg})
            category->setEnabled(type, true);
    }
}

// Standard output is kept for the report: what rfcard prints there itself
// (its protocol lines) goes to standard error, unbuffered, so that it keeps
// its place among the log lines.
// Before the run starts (StrictRun installs rfcard's log then), and so
// after --help or --version, nothing of rfcard's is said: its port modules
// say goodbye as the program ends.
void quietUntilTheRun(QtMsgType, const QMessageLogContext &, const QString &) { }

FILE *takeStandardOutput()
{
    std::fflush(stdout);
    FILE *out = fdopen(dup(fileno(stdout)), "w");
    dup2(fileno(stderr), fileno(stdout));
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    return out ? out : stderr;
}

} // namespace

int main(int argc, char *argv[])
{
    // Nor does a setting end the run at its first failure line.
    qunsetenv("QT_FATAL_WARNINGS");
    qunsetenv("QT_FATAL_CRITICALS");
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationVersion(QStringLiteral("version " RFCARD_VERSION));
    ConsoleText::useUtf8();
    g_Rules = QLoggingCategory::installFilter(everyLine);
    qInstallMessageHandler(quietUntilTheRun);
    FILE *out = takeStandardOutput();
    // rfcard-strict judges what the card answers, also after a failure:
    // a late reply of a failed exchange must not pass for a later one's.
    LineSync::setEnabled(true);
    StrictRun run(out);
    const int status = run.exec(QCoreApplication::arguments().mid(1));
    std::fflush(out);
    return status;
}
