#ifndef LINECHECK_H
#define LINECHECK_H

#include <QString>

class QSerialPort;

// Whether a port that was opened still leads to a line: a USB adapter that
// was unplugged, a pseudo-terminal whose other end closed (a card simulator
// that ended), or a name that leads to another device now (a link pointed at
// a new one, an adapter plugged in again) leave a descriptor that only
// fails. A program that keeps a port open asks this before using it, and
// opens the name again. POSIX: the descriptor's hang-up or error, and the
// device the name leads to; Windows: the error the last operation left.
class LineCheck {
public:
    static bool lost(const QSerialPort &port, const QString &location);
};

#endif // LINECHECK_H
