#ifndef RPCBIND_H
#define RPCBIND_H

#include <QString>

// The host's rpcbind told where a program of ours is served, and told when it
// no longer is. A VXI-11 client asks rpcbind (port 111, portmapper GETPORT)
// for the TCP port of DEVICE_CORE before it connects, so the server has to be
// registered there while it listens.
//
// On libtirpc, over rpcbind's Unix-domain socket (/run/rpcbind.sock): there
// rpcbind knows the registering user, records it as the owner and takes a
// registration from a service that is not root (over TCP it takes one only
// from a privileged port), and only the owner or root can remove it.
// Registered on the "tcp" transport: IPv4, every address, which is what a
// portmapper GETPORT finds.
//
// Windows has no rpcbind; VXI-11 is left out of the Windows build.
class RpcBind {
public:
    // Replaces a registration of this user's for program and version (one an
    // earlier run left behind) with one for `port`. False, and in `why` what
    // went wrong, when rpcbind cannot be reached (not running) or refuses
    // (another user's registration of the same program and version).
    static bool set(quint32 program, quint32 version, quint16 port, QString *why);
    static bool unset(quint32 program, quint32 version, QString *why);
};

#endif // RPCBIND_H
