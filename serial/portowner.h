#ifndef PORTOWNER_H
#define PORTOWNER_H

#include <QString>

class QSerialPort;

// Who owns the device behind a port that is open, as the descriptor the
// program holds tells it (fstat), not as the port's name does: a name (a
// link, a node in someone's folder) can be pointed at another device between
// a look at it and the open, and the descriptor is what the commands go to.
// POSIX; on Windows a COM port has no owner, and every port is the user's.
class PortOwner {
public:
    struct Found {
        bool known = false; // the descriptor could be examined; if not, `why`
        QString why;
        // Owned by another user than the one running, and not by root: who
        // ("nobody (user 65534)"), and the device by its name under /dev.
        bool foreign = false;
        QString owner;
        QString device;
    };
    static Found of(const QSerialPort &port);
};

#endif // PORTOWNER_H
