#include "serial/portname.h"

#ifndef Q_OS_WIN
namespace {

// "com" in any case followed by one or more digits. Checked by hand: a
// regular expression would cost more start-up time than the whole check.
bool isComN(const QString &name)
{
    if (name.size() < 4 || name.left(3).compare(QLatin1String("com"), Qt::CaseInsensitive) != 0)
        return false;
    for (int i = 3; i < name.size(); ++i) {
        if (name.at(i) < QLatin1Char('0') || name.at(i) > QLatin1Char('9'))
            return false;
    }
    return true;
}

} // namespace
#endif

QString PortName::normalized(const QString &typed)
{
#ifdef Q_OS_WIN
    return typed.toUpper();
#else
    return isComN(typed) ? typed.toUpper() : typed;
#endif
}

QString PortName::systemLocation(const QString &name)
{
#ifdef Q_OS_WIN
    return name;
#else
    const bool path = name.startsWith(QLatin1Char('/')) || name.startsWith(QLatin1String("./"))
        || name.startsWith(QLatin1String("../"));
    return path ? name : QStringLiteral("/dev/") + name;
#endif
}
