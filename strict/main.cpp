// rfcard-strict: runs the rfcard beside it with the same arguments and turns
// what rfcard wrote into what a script needs: only the read-back report on
// standard output, everything else on standard error, and an exit status
// that says whether the card took and answered every command.

#include "strict/strictrun.h"

#include <QCoreApplication>

#if defined(Q_OS_WIN) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#include <qt_windows.h>
#endif

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
#if defined(Q_OS_WIN) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // rfcard writes UTF-8 (see app/consoletext.h); so does this program,
    // which passes rfcard's lines on and adds its own.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    SetConsoleOutputCP(CP_UTF8);
#endif
    StrictRun run;
    return run.exec(StrictRun::rfcardPath(), QCoreApplication::arguments().mid(1));
}
