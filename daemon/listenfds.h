#ifndef LISTENFDS_H
#define LISTENFDS_H

#include <QList>
#include <QString>

// The listening sockets a service manager opened for this process and
// passed on (systemd's socket activation: LISTEN_PID, LISTEN_FDS and
// LISTEN_FDNAMES, descriptors from 3 on), read without libsystemd. The
// manager made them with the owner, group and mode its unit names, so that
// the service itself needs no right to make them and no root at all. The
// variables are cleared: nothing this process starts takes them for its own.
class ListenFds {
public:
    struct Socket {
        qintptr fd;
        bool local; // a Unix-domain socket (else TCP)
        QString name; // the unit's FileDescriptorName
        QString address; // the path, or the address and port
    };
    static QList<Socket> take();
};

#endif // LISTENFDS_H
