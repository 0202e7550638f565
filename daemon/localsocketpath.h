#ifndef LOCALSOCKETPATH_H
#define LOCALSOCKETPATH_H

#include <QString>

// The name a Unix-domain socket listens on, and who is on the other end of
// a connection to it. A name in a folder others may write is taken only if
// nothing is there, or a socket of this user's that nobody listens on any
// more (left by a server that was killed); a link, a file or another user's
// socket is refused, never removed or followed. On Windows the name is a
// named pipe's, which the system holds.
class LocalSocketPath {
public:
    static bool claim(const QString &path, QString *error);
    // The client of a connection, as the kernel knows it: "uid 1001 (alice)
    // on PATH"; without that, "PATH".
    static QString peer(qintptr socket, const QString &path);
    // The user id of the client; -1 where the system does not tell.
    static qint64 peerUid(qintptr socket);
    // Root, or the user this process runs as.
    static bool privileged(qint64 uid);
};

#endif // LOCALSOCKETPATH_H
