#include "app/consoletext.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <QTextCodec>
#include <qt_windows.h>
#endif

void ConsoleText::useUtf8()
{
#if defined(Q_OS_WIN) && QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt writes help, messages and logs with toLocal8Bit().
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    SetConsoleOutputCP(CP_UTF8);
#endif
}
