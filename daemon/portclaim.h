#ifndef PORTCLAIM_H
#define PORTCLAIM_H

#include <QString>

// A card's port made the card service's alone, run as root by the units of
// the shared install (rfcardd --claim, --release, --check-port NAME).
//
// A member of the serial-port group who opened the port before the service
// would own the card: every set past the audit, replies stolen, the line's
// settings changed under it. So while the card's socket is up, a udev rule
// makes the device the service user's, mode 0600, also when an adapter is
// plugged in again (it follows the name: a /dev/serial/by-id/ link, or the
// kernel's name), and the device present now is changed at once. Stopping
// the socket gives the device back to root and the group dialout. Before the
// service starts, the processes that hold the port open are looked for;
// one that does is named in the journal, and the service answers its clients
// with that instead of sharing the card with it.
class PortClaim {
public:
    // The exit status of the mode; lines go to standard error.
    static int claim(const QString &name);
    static int release(const QString &name);
    static int check(const QString &name);

    // Where the card NAME's configuration is.
    static QString confPath(const QString &name);
    // The file in which check() leaves why the port cannot be the
    // service's; none when it can.
    static QString heldMarker();
};

#endif // PORTCLAIM_H
