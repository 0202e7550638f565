// rfcard-strict: runs the rfcard beside it with the same arguments and turns
// what rfcard wrote into what a script needs: only the read-back report on
// standard output, everything else on standard error, and an exit status
// that says whether the card took and answered every command.

#include "strict/strictrun.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    StrictRun run;
    return run.exec(StrictRun::rfcardPath(), QCoreApplication::arguments().mid(1));
}
