#include "serial/portname.h"

#include <QRegularExpression>

QString PortName::normalized(const QString &typed)
{
#ifdef Q_OS_WIN
    return typed.toUpper();
#else
    static const QRegularExpression comN(QStringLiteral("\\A[cC][oO][mM][0-9]+\\z"));
    return comN.match(typed).hasMatch() ? typed.toUpper() : typed;
#endif
}
