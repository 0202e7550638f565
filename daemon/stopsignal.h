#ifndef STOPSIGNAL_H
#define STOPSIGNAL_H

#include <QObject>

// Ends the program's event loop when the system asks it to stop: SIGTERM
// (systemd, kill) or SIGINT (Ctrl+C) on POSIX systems, Ctrl+C and the
// console's closing on Windows. The loop then returns and the program closes
// what it holds in order (the card's port among them). A pipe that closes
// under a write is no reason to end: SIGPIPE is ignored.
class StopSignal : public QObject {
    Q_OBJECT

public:
    explicit StopSignal(QObject *parent = nullptr);
};

#endif // STOPSIGNAL_H
