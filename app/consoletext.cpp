#include "app/consoletext.h"

#include <QtGlobal>

#if defined(Q_OS_WIN) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
#include <QTextCodec>
#include <qt_windows.h>

#include <cstdlib>
#endif

void ConsoleText::useUtf8()
{
#if defined(Q_OS_WIN) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt writes help, messages and logs with toLocal8Bit().
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    // The console is not rfcard's but the one of the program that started it
    // (cmd.exe running a batch file, say): it gets its code page back however
    // rfcard ends (a run, --help, --version, a usage error), or what that
    // program writes afterwards in the system's code page comes out garbled.
    static const UINT previous = GetConsoleOutputCP();
    if (previous != 0 && previous != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        std::atexit([] { SetConsoleOutputCP(previous); });
#endif
}
