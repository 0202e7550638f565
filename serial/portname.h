#ifndef PORTNAME_H
#define PORTNAME_H

#include <QString>

// How a port name typed by the operator becomes the name that is stored and
// opened. Windows port names are case-insensitive and conventionally upper
// case, so every name is upper-cased there. Elsewhere device names are
// case-sensitive: only the Windows-style "comN" is upper-cased (so that
// scripts written for Windows keep working, e.g. with a /dev/COM3 udev link),
// every other name is used exactly as typed.
class PortName {
public:
    static QString normalized(const QString &typed);
    // Where Qt Serial Port opens a (normalized) name outside Windows: a name
    // that starts with "/", "./" or "../" as it is, any other under /dev
    // ("net/tun" is /dev/net/tun). On Windows the name itself.
    static QString systemLocation(const QString &name);
};

#endif // PORTNAME_H
