#ifndef LINESETTINGS_H
#define LINESETTINGS_H

#include <QByteArray>

class QSerialPort;

// The line settings a port was opened with (the terminal attributes on
// POSIX, the device control block on Windows), kept whole so that they can
// be put back in full before an exchange. Another process that has the
// device open can change them under the owner of the line: "stty icanon"
// on a card's port holds every reply back until a line end that never
// comes. A program that keeps a port open (rfcardd) checks them before each
// exchange; the check is one system call.
class LineSettings {
public:
    static QByteArray take(const QSerialPort &port);
    // Puts `saved` back when the port's settings differ from it; true when
    // they did (and were put back).
    static bool restore(QSerialPort &port, const QByteArray &saved);
};

#endif // LINESETTINGS_H
