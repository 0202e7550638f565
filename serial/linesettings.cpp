#include "serial/linesettings.h"

#include <QSerialPort>

#include <cstring>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#else
#include <termios.h>
#endif

#ifdef Q_OS_WIN

namespace {
using Settings = DCB;
bool get(const QSerialPort &port, Settings *s)
{
    s->DCBlength = sizeof *s;
    return ::GetCommState(reinterpret_cast<HANDLE>(port.handle()), s);
}
bool set(QSerialPort &port, Settings *s)
{
    return ::SetCommState(reinterpret_cast<HANDLE>(port.handle()), s);
}
} // namespace

#else

namespace {
using Settings = termios;
bool get(const QSerialPort &port, Settings *s)
{
    return port.handle() >= 0 && ::tcgetattr(int(port.handle()), s) == 0;
}
bool set(QSerialPort &port, Settings *s)
{
    return ::tcsetattr(int(port.handle()), TCSANOW, s) == 0;
}
} // namespace

#endif

QByteArray LineSettings::take(const QSerialPort &port)
{
    Settings s{};
    if (!get(port, &s))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char *>(&s), sizeof s);
}

bool LineSettings::restore(QSerialPort &port, const QByteArray &saved)
{
    Settings now{};
    if (saved.size() != int(sizeof now) || !get(port, &now)
        || QByteArray(reinterpret_cast<const char *>(&now), sizeof now) == saved)
        return false;
    Settings wanted{};
    std::memcpy(&wanted, saved.constData(), sizeof wanted);
    return set(port, &wanted);
}
